#include "sim/ks/reference_clock.h"

#include "sim/wdk/verifier.h"

namespace sim::ks {

GraphClock::GraphClock(Mode mode) : mode_(mode), start_(KeQueryInterruptTime()) {}

LONGLONG GraphClock::Time() const {
    if (mode_ == Mode::Manual) {
        return manual_.load();
    }
    return static_cast<LONGLONG>(KeQueryInterruptTime() - start_);
}

void GraphClock::SetTime(LONGLONG time) {
    if (mode_ != Mode::Manual) {
        VerifierFail("GraphClock::SetTime on a clock that runs on real time");
        return;
    }
    manual_.store(time);
}

PinClockReference::PinClockReference(std::shared_ptr<GraphClock> clock, std::string owner)
    : clock_(std::move(clock)), owner_(std::move(owner)) {}

PinClockReference::~PinClockReference() {
    const long held = references_.load();
    if (held > 0) {
        VerifierFail("%s closed while its driver still holds %ld reference(s) to the reference "
                     "clock",
                     owner_.c_str(), held);
    }
}

void PinClockReference::CheckLive(const char* call) const {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, call);
    if (references_.load() <= 0) {
        VerifierFail("IKsReferenceClock::%s of %s after its last reference was released", call,
                     owner_.c_str());
    }
}

NTSTATUS PinClockReference::QueryInterface(REFIID id, PVOID* object) {
    CheckLive("QueryInterface");
    if (id == IID_IKsReferenceClock) {
        AddRef();
        *object = static_cast<IKsReferenceClock*>(this);
        return STATUS_SUCCESS;
    }
    *object = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

ULONG PinClockReference::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG PinClockReference::Release() {
    const long left = --references_;
    if (left < 0) {
        ++references_;
        VerifierFail("IKsReferenceClock::Release of %s without a reference held", owner_.c_str());
        return 0;
    }
    return static_cast<ULONG>(left);
}

LONGLONG PinClockReference::GetTime() {
    CheckLive("GetTime");
    return clock_->Time();
}

LONGLONG PinClockReference::GetPhysicalTime() {
    CheckLive("GetPhysicalTime");
    return clock_->Time();
}

LONGLONG PinClockReference::GetCorrelatedTime(PLONGLONG systemTime) {
    CheckLive("GetCorrelatedTime");
    *systemTime = static_cast<LONGLONG>(KeQueryInterruptTime());
    return clock_->Time();
}

LONGLONG PinClockReference::GetCorrelatedPhysicalTime(PLONGLONG systemTime) {
    CheckLive("GetCorrelatedPhysicalTime");
    *systemTime = static_cast<LONGLONG>(KeQueryInterruptTime());
    return clock_->Time();
}

NTSTATUS PinClockReference::GetResolution(PKSRESOLUTION resolution) {
    CheckLive("GetResolution");
    resolution->Granularity = 1;
    resolution->Error = 0;
    return STATUS_SUCCESS;
}

NTSTATUS PinClockReference::GetState(PKSSTATE state) {
    CheckLive("GetState");
    *state = KSSTATE_RUN;
    return STATUS_SUCCESS;
}

} // namespace sim::ks
