#include "tools/common/number_list.h"

#include <CLI/CLI.hpp>

namespace zyn::tools {

std::optional<std::vector<long long>> ParseNumberList(const std::string& text, long long lowest,
                                                      long long highest) {
    std::vector<std::string> fields = CLI::detail::split(text, ',');
    // The split drops a trailing empty field; "1,2," is as wrong as "1,,2".
    if (!text.empty() && text.back() == ',') {
        fields.emplace_back();
    }
    const CLI::Range range(lowest, highest);
    std::vector<long long> values;
    for (const std::string& field : fields) {
        long long value = 0;
        if (!range(field).empty() || !CLI::detail::lexical_cast(field, value)) {
            return std::nullopt;
        }
        values.push_back(value);
    }
    return values;
}

std::optional<std::vector<int32_t>> ParsePropertyValues(const std::string& text) {
    const std::optional<std::vector<long long>> numbers =
        ParseNumberList(text, INT32_MIN, UINT32_MAX);
    if (!numbers) {
        return std::nullopt;
    }
    std::vector<int32_t> values;
    for (const long long number : *numbers) {
        values.push_back(static_cast<int32_t>(static_cast<uint32_t>(number)));
    }
    return values;
}

} // namespace zyn::tools
