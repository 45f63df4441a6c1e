// Splitting a raw command line into the program's arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace process {

// Splits a command line the way the updater reads its own: the program's
// name is skipped, double quotes delimit arguments (without escapes), and
// every code unit from 1 to 0x20 separates arguments. A NUL ends the line.
//
// The byte form reads the line in the system's ANSI code page: a byte of
// 0x80 or above begins a double-byte character, and the byte after it is
// never taken as a quote or a separator. The UTF-16 form has no such rule,
// since no unit of a UTF-16 character other than the character itself can
// be a quote or a blank.
std::vector<std::string> splitCommandLine(std::string_view line);
std::vector<std::u16string> splitCommandLine(std::u16string_view line);

} // namespace process
