// Bus faults while streaming, each at the first, a middle and the last request of a frame
// read: the stream recovers (frames resume) or, the camera gone, ends cleanly; a pause, the
// stop, the close and the removal each finish within their bound whatever the fault left.
#include <thread>

#include "sim/wdk/threads.h"
#include "tests/pnp/pnp_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::pnp {
namespace {

using sim::usb::TransferFault;

struct FaultKind {
    TransferFault fault;
    const char* name;
};
constexpr FaultKind kFaults[] = {
    {TransferFault::Stall, "stall"},
    {TransferFault::Short, "short transfer"},
    {TransferFault::LostData, "lost data"},
    {TransferFault::LongDelay, "long delay"},
    {TransferFault::DisablePort, "disabled port"},
    {TransferFault::Unplug, "unplug"},
};

class UsbFaultTest : public PnpTest {
protected:
    // The camera's trigger switched, repeated while a fault makes the command fail.
    bool Trigger(bool on) {
        for (int i = 0; i < 5; ++i) {
            (void)Set(CAMPROP_EXTRIGGER, on ? 1 : 0);
            if (Session().camera().Status().triggerMode == on) {
                return true;
            }
        }
        return false;
    }

    // Waits for the read with no data coming, marks the request at `position` and fires the
    // trigger that sends the frame into it. A read that ended in its timeout meanwhile took
    // the mark with it: then again.
    bool Strike(TransferFault fault, size_t position) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (!ReadPending()) {
                return false;
            }
            const uint64_t struck = Bus().Counters().faultsStruck;
            if (!Bus().InjectAtTransfer(sim::camera::kDataEndpoint, position, fault)) {
                continue;
            }
            // The fault strikes before the data reaches that request; for the first one the
            // trigger is not needed at all.
            (void)Session().camera().FireTrigger();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (Bus().Counters().faultsStruck == struck &&
                   std::chrono::steady_clock::now() < deadline &&
                   Bus().PendingTransfers(sim::camera::kDataEndpoint) > 0) {
                std::this_thread::sleep_for(milliseconds(1));
            }
            if (Bus().Counters().faultsStruck > struck) {
                return true;
            }
        }
        return false;
    }

    // Each check of a case: a failure of the test, and the case is not clean.
    static bool Check(bool good, const char* what, bool* clean) {
        if (!good) {
            ADD_FAILURE() << what;
            *clean = false;
        }
        return good;
    }
    bool Bounded(milliseconds took, milliseconds bound, const char* what, bool* clean) {
        return Check(took < bound, what, clean);
    }

    // The fault's case: true when it ended clean.
    bool RunCase(const FaultKind& kind, size_t position) {
        SCOPED_TRACE(::testing::Message() << kind.name << " at request " << position);
        bool clean = true;
        if (!Check(Trigger(true), "the trigger did not switch on", &clean)) {
            return false;
        }
        RequeueCompleted();
        const ULONG readBefore = Session().Counters().framesRead;
        if (!Check(Strike(kind.fault, position), "the fault never struck", &clean)) {
            return false;
        }
        if (kind.fault == TransferFault::Unplug) {
            // The hub reports the device gone; the stream ends at once.
            Bounded(Timed([&] { Session().system().Unplug(); }), kStopBound, "removal", &clean);
            Check(sim::RunningSystemThreads() == 0, "a thread outlived the removal", &clean);
            NTSTATUS status = STATUS_UNSUCCESSFUL;
            Bounded(Timed([&] { status = Session().SetState(KSSTATE_STOP); }), kStopBound, "stop",
                    &clean);
            Check(status == STATUS_SUCCESS, "stop refused", &clean);
            // The close and the removal, then a new device's start.
            Bounded(Timed([&] { status = Session().Replug(); }), kStopBound * 5, "replug", &clean);
            if (!Check(status == STATUS_SUCCESS, "the camera did not come back", &clean)) {
                return false;
            }
            Prepare();
            RunPin();
        } else {
            // The stream stops and resumes within its bound whatever the read was doing.
            NTSTATUS status = STATUS_UNSUCCESSFUL;
            Bounded(Timed([&] { status = Session().SetState(KSSTATE_PAUSE); }), kStopBound, "pause",
                    &clean);
            Check(status == STATUS_SUCCESS, "pause refused", &clean);
            Check(Session().SetState(KSSTATE_RUN) == STATUS_SUCCESS, "run refused", &clean);
        }
        Check(Trigger(false), "the trigger did not switch off", &clean);
        bool resumed = false;
        for (int i = 0; i < 20 && !resumed; ++i) {
            if (!TakePicture()) {
                break;
            }
            resumed = kind.fault == TransferFault::Unplug ||
                      Session().Counters().framesRead >= readBefore + 2;
        }
        Check(resumed, "frames did not resume", &clean);
        return clean;
    }
};

TEST_P(UsbFaultTest, EveryFaultAtTheFirstAMiddleAndTheLastRequestOfAFrame) {
    // Several requests a frame on every model.
    OpenCamera(640, 480);
    RunPin();
    ASSERT_TRUE(TakePicture());
    const size_t chunks = ChunksPerFrame();
    ASSERT_GE(chunks, 3u);
    int clean = 0;
    int total = 0;
    for (const FaultKind& kind : kFaults) {
        for (const size_t position : {size_t{0}, chunks / 2, chunks - 1}) {
            ++total;
            clean += RunCase(kind, position) ? 1 : 0;
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
    std::printf("[ %s ] bus fault cases clean: %d/%d (%zu requests a frame)\n", GetParam(), clean,
                total, chunks);
    EXPECT_EQ(clean, total);
    StopAndClose();
}

INSTANTIATE_TEST_SUITE_P(Models, UsbFaultTest, ZYN_PNP_MODELS);

} // namespace
} // namespace zyn::pnp
