// Test names for the table-driven tests, made from each case's `name`.
#pragma once

#include <cctype>
#include <string>

#include <gtest/gtest.h>

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
    std::string name;
    for (char c : std::string(info.param.name)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}
