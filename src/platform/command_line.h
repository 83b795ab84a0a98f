// Counts the arguments of a Windows command line, program name included.
#pragma once

int count_arguments(const char* command_line);
