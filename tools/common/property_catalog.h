// The camera settings properties by name, as the tools spell them: the property enumerator's
// names without CAMPROP_, in lower case. Ranged settings know the items that report their
// minimum, maximum and default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zyn::tools {

struct PropertyInfo {
    uint32_t id;
    const char* name;
    // The items reporting this setting's minimum, maximum and default, for ranged settings.
    std::optional<uint32_t> minimumId;
    std::optional<uint32_t> maximumId;
    std::optional<uint32_t> defaultId;
};

// Every id of the property set, 0 to 70.
constexpr uint32_t kPropertyIdCount = 71;
const PropertyInfo& Property(uint32_t id);
// By name or by decimal id; null when neither matches.
const PropertyInfo* FindProperty(const std::string& nameOrId);

} // namespace zyn::tools
