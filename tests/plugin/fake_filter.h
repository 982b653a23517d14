// A stand-in for the kernel streaming proxy's capture filter: the outer object that aggregates
// the plug-in's extension object. Its IKsPropertySet records every request, byte for byte, and
// answers like the driver of a Tern or a Heron camera, or not at all.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "tests/plugin/com_ref.h"
#include "tests/plugin/outer_filter.h"

namespace zyn::test {

enum class DriverModel { Tern, Heron, Silent };

struct PropertyCall {
    bool set; // a SET, else a GET
    GUID propertySet;
    DWORD id;
    std::vector<uint8_t> record; // the instance data as it arrived
    DWORD dataLength;
    bool sameBuffer; // property data and instance data at one address

    int32_t Field(size_t offset) const {
        int32_t value;
        std::memcpy(&value, record.data() + offset, sizeof(value));
        return value;
    }
};

class FakeFilter final : public OuterFilter {
public:
    // One reference for the caller. Without `offersPropertySet` the filter answers no
    // IKsPropertySet, as a filter of another driver would.
    static FakeFilter* Create(DriverModel model, bool offersPropertySet = true);

    // The driver's values: a GET of an id answers its entry; a SET stores into it.
    std::map<DWORD, LONG> values;
    // What the driver answers for an id it does not list (and, when silent, for everything).
    HRESULT failure = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    // Ids the driver lists; requests for others fail.
    DWORD idCount = 0;

    std::vector<PropertyCall> calls;
    std::vector<std::pair<DWORD, LONG>> Sets() const; // (id, value) of every SET
    std::vector<DWORD> Gets() const;                  // ids of every GET
    void ClearCalls() { calls.clear(); }

    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                  void* data, DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                  void* data, DWORD dataLength, DWORD* returned) override;

private:
    FakeFilter(DriverModel model, bool offersPropertySet);
    ~FakeFilter() override = default;
    bool Answers(REFGUID set, DWORD id) const;
    void Record(bool set, REFGUID propertySet, DWORD id, void* instance, DWORD instanceLength,
                void* data, DWORD dataLength);
};

} // namespace zyn::test
