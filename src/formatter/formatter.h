// The program's own logic: the usage text, or the filter that ends a line
// after every '>' and drops tabs, carriage returns and line feeds.
#pragma once

inline constexpr int STATUS_FILTERED = 0;
inline constexpr int STATUS_OUTPUT_LOST = 1;  // a byte could not be written or read
inline constexpr int STATUS_USAGE = 2;

int run_formatter(int argument_count);
void print_usage();
int filter_input();
