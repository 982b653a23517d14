// The graph's reference clock as pins see it through IKsReferenceClock. A graph may have no
// clock at all; a pin then gets none from KsPinGetReferenceClockInterface.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "sim/ks/ks.h"

namespace sim::ks {

// The clock of a filter graph, in 100-ns units. Runs on real time from its creation unless it
// is manual, when it stands until SetTime moves it.
class GraphClock {
public:
    enum class Mode { RealTime, Manual };
    explicit GraphClock(Mode mode = Mode::RealTime);

    LONGLONG Time() const;
    // Manual clocks only.
    void SetTime(LONGLONG time);
    Mode mode() const { return mode_; }

private:
    const Mode mode_;
    const ULONGLONG start_;
    std::atomic<LONGLONG> manual_{0};
};

// The interface one pin holds on the graph clock. References the driver takes and drops are
// counted; dropping more than it took, or closing the pin while it still holds some, is reported.
class PinClockReference final : public IKsReferenceClock {
public:
    PinClockReference(std::shared_ptr<GraphClock> clock, std::string owner);
    ~PinClockReference();
    PinClockReference(const PinClockReference&) = delete;
    PinClockReference& operator=(const PinClockReference&) = delete;

    NTSTATUS QueryInterface(REFIID id, PVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    LONGLONG GetTime() override;
    LONGLONG GetPhysicalTime() override;
    LONGLONG GetCorrelatedTime(PLONGLONG systemTime) override;
    LONGLONG GetCorrelatedPhysicalTime(PLONGLONG systemTime) override;
    NTSTATUS GetResolution(PKSRESOLUTION resolution) override;
    NTSTATUS GetState(PKSSTATE state) override;

    // References the driver holds now.
    long References() const { return references_.load(); }

private:
    void CheckLive(const char* call) const;

    std::shared_ptr<GraphClock> clock_;
    std::string owner_;
    std::atomic<long> references_{0};
};

} // namespace sim::ks
