// Lists of numbers on a command line, as property values and gains are given: "1,2,3".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zyn::tools {

// Numbers separated by commas, each in [lowest, highest] and written as C writes integer
// literals (decimal, 0x hexadecimal, 0 octal). Empty when a field is empty (a trailing comma
// too), not a number or out of range.
std::optional<std::vector<long long>> ParseNumberList(const std::string& text, long long lowest,
                                                      long long highest);

// The values of a property request: signed or unsigned 32-bit numbers, so 0xFFFFFFFF is -1.
std::optional<std::vector<int32_t>> ParsePropertyValues(const std::string& text);

} // namespace zyn::tools
