// Pins: creation through SetDataFormat and Create, states one step at a time, the client's
// frame queue with the leading edge, processing as the pin flags say, the reference clock, and
// misuse of stream pointers, edits and clock references.
#include <future>
#include <thread>

#include "tests/sim_ks/ks_fixture.h"

namespace fake {
namespace {

using sim::host::Frame;
using sim::host::PinSettings;
using Strings = std::vector<std::string>;

// Process runs in RUN only, and only when asked, frames queued or not.
constexpr ULONG kProcessWhenAsked = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY |
                                    KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                    KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;

class PinTest : public KsTest {
public:
    void Open() {
        driver_ = Load();
        device_ = Started(driver_);
        filter_ = device_->OpenFilter();
        ASSERT_NE(filter_, nullptr);
        format_ = filter_->IntersectFormat(0, DataRange().DataRange);
        ASSERT_EQ(format_.size(), 152u);
    }
    std::unique_ptr<sim::host::Pin> CreatePin(PinSettings settings = {}) {
        NTSTATUS status;
        auto pin = filter_->CreatePin(0, format_, settings, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return pin;
    }
    void TearDown() override {
        filter_.reset();
        device_.reset();
        driver_.reset();
        KsTest::TearDown();
    }
    Strings StateLog() {
        Strings states;
        for (const std::string& entry : Log()) {
            if (entry.rfind("PinSetDeviceState", 0) == 0) {
                states.push_back(entry.substr(18));
            }
        }
        return states;
    }

    std::shared_ptr<sim::host::Driver> driver_;
    std::unique_ptr<sim::host::Device> device_;
    std::unique_ptr<sim::host::Filter> filter_;
    std::vector<uint8_t> format_;
};

TEST_F(PinTest, CreationChecksTheFormatThenMakesThePinsTablesPrivate) {
    Open();
    const ULONG editTag = kEditTag;
    auto pin = CreatePin();
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(Log().back(), "PinCreate");
    EXPECT_EQ(Log()[Log().size() - 2], "SetDataFormat");
    const KSPIN_DESCRIPTOR_EX* shared = filter_->ks()->Descriptor->PinDescriptors;
    EXPECT_NE(pin->ks()->Descriptor, shared);
    EXPECT_NE(pin->ks()->Descriptor->AllocatorFraming, shared->AllocatorFraming);
    EXPECT_EQ(pin->ks()->Descriptor->AllocatorFraming->FramingItem[0].PhysicalRange.MinFrameSize,
              kImageBytes);
    EXPECT_EQ(shared->AllocatorFraming->FramingItem[0].FramingRange.Range.MinFrameSize, 8192u)
        << "the filter's tables are untouched";
    EXPECT_EQ(sim::pool::Counters(editTag).liveBlocks, 2u);
    EXPECT_EQ(pin->ks()->ConnectionFormat->FormatSize, 152u);
    EXPECT_EQ(pin->context(), pin->ks()->Context);

    // One instance only; and a format the driver does not take never reaches Create.
    NTSTATUS status;
    EXPECT_EQ(filter_->CreatePin(0, format_, {}, &status), nullptr);
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    KSPIN_CINSTANCES instances;
    ASSERT_EQ(filter_->PinInstances(0, &instances), STATUS_SUCCESS);
    EXPECT_EQ(instances.CurrentCount, 1u);
    pin.reset();
    EXPECT_EQ(sim::pool::Counters(editTag).liveBlocks, 0u);

    ClearLog();
    std::vector<uint8_t> wide = format_;
    reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(wide.data())->VideoInfoHeader.bmiHeader
        .biWidth = kWidth + 8;
    EXPECT_EQ(filter_->CreatePin(0, wide, {}, &status), nullptr);
    EXPECT_EQ(status, STATUS_NO_MATCH);
    EXPECT_EQ(Log(), Strings{"SetDataFormat"});
}

TEST_F(PinTest, StatesMoveOneStepAtATimeAndStopWhereTheDriverRefuses) {
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(pin->State(), KSSTATE_RUN);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(StateLog(), (Strings{"0>1", "1>2", "2>3", "3>2", "2>1", "1>0"}));

    ClearLog();
    config().acquireStatus = STATUS_SHARING_VIOLATION;
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(pin->State(), KSSTATE_STOP);
    EXPECT_EQ(StateLog(), Strings{"0>1"});

    // A format change is the driver's to refuse outside STOP.
    config().acquireStatus = STATUS_SUCCESS;
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(pin->SetFormat(format_), STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(pin->SetFormat(format_), STATUS_SUCCESS);
    EXPECT_TRUE(Logged("SetDataFormat change"));

    // One request for a distant state: the class driver takes every step itself.
    ClearLog();
    KSSTATE state = KSSTATE_RUN;
    EXPECT_EQ(pin->Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                            KSPROPERTY_TYPE_SET, &state, sizeof state)
                  .status,
              STATUS_SUCCESS);
    EXPECT_EQ(StateLog(), (Strings{"0>1", "1>2", "2>3"}));
    state = KSSTATE_STOP;
    EXPECT_EQ(pin->Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                            KSPROPERTY_TYPE_GET, &state, sizeof state)
                  .bytes,
              sizeof state);
    EXPECT_EQ(state, KSSTATE_RUN);
}

TEST_F(PinTest, FramesComeBackWithTheHeadersTheDriverWrote) {
    Open();
    auto clock = std::make_shared<sim::ks::GraphClock>(sim::ks::GraphClock::Mode::Manual);
    clock->SetTime(12345);
    PinSettings settings;
    settings.clock = clock;
    auto pin = CreatePin(settings);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
    ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes, sizeof(KSSTREAM_HEADER))),
              STATUS_PENDING);
    EXPECT_EQ(pin->CompletedFrames(), 0u) << "this pin processes in RUN only";
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);

    auto first = pin->WaitFrame(kPatience);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->status(), STATUS_SUCCESS);
    EXPECT_EQ(first->header().DataUsed, kImageBytes);
    EXPECT_EQ(first->header().PresentationTime.Time, 12345);
    EXPECT_EQ(first->header().OptionsFlags,
              ULONG{KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID});
    ASSERT_NE(first->frameInfo(), nullptr);
    EXPECT_EQ(first->frameInfo()->ExtendedHeaderSize, sizeof(KS_FRAME_INFO));
    EXPECT_EQ(first->frameInfo()->PictureNumber, 1);
    EXPECT_EQ(first->data()[kImageBytes - 1], 1);

    auto second = pin->WaitFrame(kPatience);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->frameInfo(), nullptr);
    EXPECT_EQ(second->data()[0], 2);

    // Queued again it is delivered again.
    first->Reset();
    ASSERT_EQ(pin->Queue(std::move(first)), STATUS_PENDING);
    auto third = pin->WaitFrame(kPatience);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->frameInfo()->PictureNumber, 3);
}

TEST_F(PinTest, WithoutAGraphClockFramesCarryNoTime) {
    Open();
    PinSettings settings;
    settings.referenceClock = false;
    auto pin = CreatePin(settings);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(PinClock(), nullptr);
    ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
    auto frame = pin->WaitFrame(kPatience);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->header().OptionsFlags, 0u);
    EXPECT_EQ(frame->header().PresentationTime.Time, 0);
}

TEST_F(PinTest, StopHandsQueuedFramesBackCancelledAndRefusesNewOnes) {
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
    }
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        auto frame = pin->TakeFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->status(), STATUS_CANCELLED);
    }
    EXPECT_EQ(pin->ksPin().ProcessCalls(), 0u);

    std::unique_ptr<Frame> refused;
    EXPECT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes), &refused),
              STATUS_INVALID_DEVICE_STATE);
    ASSERT_NE(refused, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes, 60)), STATUS_INVALID_BUFFER_SIZE);
    EXPECT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes, 48)), STATUS_INVALID_BUFFER_SIZE);
}

TEST_F(PinTest, PinFlagsDecideWhenProcessRuns) {
    // Without DO_NOT_INITIATE and RUN_ONLY, a frame arriving in PAUSE starts processing.
    config().pinFlags = 0;
    Open();
    {
        auto pin = CreatePin();
        ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
        ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
        EXPECT_NE(pin->WaitFrame(kPatience), nullptr);
    }
    filter_.reset();
    device_.reset();
    driver_.reset();

    // DO_NOT_INITIATE: frames wait for KsPinAttemptProcessing; without
    // FRAMES_NOT_REQUIRED an attempt with nothing queued runs nothing.
    config().pinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING;
    Open();
    {
        auto pin = CreatePin();
        ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
        KsPinAttemptProcessing(pin->ks(), TRUE);
        pin->ksPin().WaitProcessingIdle();
        EXPECT_EQ(pin->ksPin().ProcessCalls(), 0u);
        ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
        pin->ksPin().WaitProcessingIdle();
        EXPECT_EQ(pin->ksPin().ProcessCalls(), 0u);
        KsPinAttemptProcessing(pin->ks(), TRUE);
        EXPECT_NE(pin->WaitFrame(kPatience), nullptr);
    }
    filter_.reset();
    device_.reset();
    driver_.reset();

    // FRAMES_NOT_REQUIRED: an attempt runs Process with no frame queued.
    config().pinFlags = kProcessWhenAsked;
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    KsPinAttemptProcessing(pin->ks(), TRUE);
    pin->ksPin().WaitProcessingIdle();
    EXPECT_EQ(pin->ksPin().ProcessCalls(), 0u) << "not in RUN";
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    KsPinAttemptProcessing(pin->ks(), TRUE);
    pin->ksPin().WaitProcessingIdle();
    EXPECT_EQ(pin->ksPin().ProcessCalls(), 1u);
    EXPECT_EQ(EmptyProcessCalls(), 1u);
}

TEST_F(PinTest, ARequestDroppedByAPauseLeavesThePinIdle) {
    config().pinFlags = kProcessWhenAsked;
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    // A request made in RUN and overtaken by the pause before the worker takes it up is
    // dropped; a wait for the pin to be idle must still end. It once hung, now and then.
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
        KsPinAttemptProcessing(pin->ks(), TRUE);
        ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
        std::promise<void> idle;
        std::thread waiter([&] {
            pin->ksPin().WaitProcessingIdle();
            idle.set_value();
        });
        const bool ended =
            idle.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!ended) {
            // Stopping drops the request too, and lets the waiter go.
            pin->SetState(KSSTATE_STOP);
        }
        waiter.join();
        ASSERT_TRUE(ended) << "round " << i;
    }
}

TEST_F(PinTest, ProcessNeverRunsTwiceAtOnceForAPin) {
    config().pinFlags = kProcessWhenAsked;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> raised{0};
    std::atomic<int> calls{0};
    config().process = [&](PKSPIN pin) {
        if (++inside > 1) {
            ++overlaps;
        }
        if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
            ++raised;
        }
        ++calls;
        // Deliver whatever is queued, as a capture pin would.
        if (PKSSTREAM_POINTER pointer =
                KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED)) {
            pointer->StreamHeader->DataUsed = 0;
            KsStreamPointerUnlock(pointer, TRUE);
        }
        --inside;
        return STATUS_PENDING;
    };
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                KsPinAttemptProcessing(pin->ks(), TRUE);
            }
        });
    }
    threads.emplace_back([&] {
        ULONG value = 0;
        for (int i = 0; i < 200; ++i) {
            ++value;
            filter_->Property(kPropertySet, kValue, KSPROPERTY_TYPE_SET, &value, sizeof value);
            pin->Queue(std::make_unique<Frame>(64));
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    KsPinAttemptProcessing(pin->ks(), TRUE);
    pin->ksPin().WaitProcessingIdle();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(raised.load(), 0);
    EXPECT_GE(calls.load(), 1);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    size_t returned = 0;
    while (pin->TakeFrame() != nullptr) {
        ++returned;
    }
    EXPECT_EQ(returned, 200u) << "every frame comes back, delivered or cancelled";
}

TEST_F(PinTest, MisuseByTheDriverIsReported) {
    config().unlockTwice = true;
    Open();
    {
        auto pin = CreatePin();
        ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
        sim::testing::VerifierCapture capture;
        ASSERT_EQ(pin->Queue(std::make_unique<Frame>(kImageBytes)), STATUS_PENDING);
        ASSERT_NE(pin->WaitFrame(kPatience), nullptr);
        pin->ksPin().WaitProcessingIdle();
        EXPECT_TRUE(capture.Saw("that is not locked"));

        // Stream pointers belong to Process.
        EXPECT_EQ(KsPinGetLeadingEdgeStreamPointer(pin->ks(), KSSTREAM_POINTER_STATE_LOCKED),
                  nullptr);
        EXPECT_TRUE(capture.Saw("outside its Process dispatch"));
    }
    config().unlockTwice = false;

    config().editWrongSize = true;
    {
        sim::testing::VerifierCapture capture;
        NTSTATUS status;
        EXPECT_EQ(filter_->CreatePin(0, format_, {}, &status), nullptr);
        EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(capture.Saw("allocator framing (1 item(s), 112 bytes) with an old size of 96"));
    }
    config().editWrongSize = false;

    // A clock reference the driver never gives back.
    PIKSREFERENCECLOCK kept = nullptr;
    config().pinFlags |= KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;
    config().process = [&](PKSPIN pin) {
        if (kept == nullptr) {
            KsPinGetReferenceClockInterface(pin, &kept);
        }
        return STATUS_PENDING;
    };
    filter_.reset();
    device_.reset();
    driver_.reset();
    Open();
    auto pin = CreatePin();
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    pin->ksPin().WaitProcessingIdle();
    ASSERT_NE(kept, nullptr);
    sim::testing::VerifierCapture capture;
    pin.reset();
    EXPECT_TRUE(capture.Saw("still holds 1 reference(s) to the reference clock"));
}

TEST_F(PinTest, DispatchRoutinesMustComeBackAsTheyWentIn) {
    // The first call keeps the device mutex and asks to be called again; the second gives it
    // back, so that closing the filter (under the device mutex) does not wait for it forever.
    config().process = [held = false](PKSPIN pin) mutable {
        held = !held;
        if (held) {
            KsAcquireDevice(KsPinGetDevice(pin));
            return STATUS_SUCCESS;
        }
        KsReleaseDevice(KsPinGetDevice(pin));
        return STATUS_PENDING;
    };
    config().pinFlags |= KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;
    Open();
    auto pin = CreatePin();
    sim::testing::VerifierCapture capture;
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    pin->ksPin().WaitProcessingIdle();
    EXPECT_TRUE(capture.Saw("the pin's Process dispatch returned owning 1 more mutex"));
}

// The class driver holds the filter's control mutex around a pin's Create and Close and the
// device mutex around the filter's creation: a pin dispatch that takes the device mutex takes
// the two in the reverse order, reported at once although nothing deadlocked.
int g_deviceTakenAt = 0;

void TakeDeviceMutex(PKSPIN pin) {
    g_deviceTakenAt = __LINE__ + 1;
    KsAcquireDevice(KsPinGetDevice(pin));
    KsReleaseDevice(KsPinGetDevice(pin));
}

// Creates and closes a pin, which must bring exactly the one report of the inversion.
void ExpectOneInversionReport(PinTest& test) {
    sim::testing::VerifierCapture capture;
    test.CreatePin().reset();
    ASSERT_EQ(capture.Count(), 1u);
    const std::string report = capture.Messages()[0];
    EXPECT_NE(report.find("lock order inversion: device mutex"), std::string::npos) << report;
    EXPECT_NE(report.find("tests/sim_ks/streaming_test.cpp:" + std::to_string(g_deviceTakenAt)),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("while holding control mutex of a filter"), std::string::npos);
    // The earlier, opposite order: the filter's creation under the device mutex.
    EXPECT_NE(report.find("sim/ks/device.cpp:"), std::string::npos) << report;
    EXPECT_NE(report.find("sim/ks/filter.cpp:"), std::string::npos) << report;
}

TEST_F(PinTest, APinCreateTakingTheDeviceMutexIsALockOrderInversion) {
    config().onPinCreate = TakeDeviceMutex;
    Open();
    ExpectOneInversionReport(*this);
}

TEST_F(PinTest, APinCloseTakingTheDeviceMutexIsALockOrderInversion) {
    config().onPinClose = TakeDeviceMutex;
    Open();
    ExpectOneInversionReport(*this);
}

TEST_F(PinTest, LeaksOfTheImageAreReportedAtUnload) {
    config().leakPinContext = true;
    Open();
    auto pin = CreatePin();
    PVOID leaked = pin->context();
    pin.reset();
    filter_.reset();
    device_.reset();
    {
        sim::testing::VerifierCapture capture;
        driver_.reset();
        EXPECT_TRUE(capture.Saw("leaked pool block"));
        EXPECT_TRUE(capture.Saw("tag 'KCNw'"));
    }
    ExFreePoolWithTag(leaked, kContextTag);
}

} // namespace
} // namespace fake
