#include "sim/wdk/ntstatus_codes.h"

#include <cstdio>

namespace sim {
namespace {

struct StatusEntry {
    NTSTATUS value;
    const char* name;
};

// Where two names share a value (STATUS_SUCCESS, STATUS_WAIT_0) the first one wins.
constexpr StatusEntry kStatusNames[] = {
#define ZYN_SIM_STATUS_ENTRY(name, value) {name, #name},
    ZYN_SIM_STATUS_LIST(ZYN_SIM_STATUS_ENTRY)
#undef ZYN_SIM_STATUS_ENTRY
};

} // namespace

const char* StatusName(NTSTATUS status) {
    for (const StatusEntry& entry : kStatusNames) {
        if (entry.value == status) {
            return entry.name;
        }
    }
    thread_local char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

} // namespace sim
