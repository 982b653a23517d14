// Low resources at every allocation: a camera's whole life (plugged in, started, its filter
// opened, a format intersected, the pin created and run for three frames, paused, run again,
// stopped and closed, the device stopped and removed) is run once to count its allocations of
// one kind, then once for each of them with that allocation failing. Whatever fails must say
// so, or the camera must go on delivering: a stream that reports success and stays silent is
// the fault this hunts. Nothing may crash, leak or upset the verifier on the way.
#include <execinfo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "driver/core/driver_globals.h"
#include "driver/pool_tags.h"
#include "sim/wdk/sim_wdk.h"
#include "sim/wdk/threads.h"
#include "sim/wdk/usb.h"
#include "tests/support/stream_fixture.h"

namespace zyn::e2e {
namespace {

using sim::pool::AllocationRequest;

// The camera and its bus are hardware: what they allocate is not the drivers' to survive.
bool OnTheCameraSide(const AllocationRequest& request) {
    const std::string_view file = request.file;
    return file.find("sim/usb/") != file.npos || file.find("sim/camera/") != file.npos;
}

bool IsIrp(const AllocationRequest& request) {
    return request.tag == sim::pool::kIrpTag && !OnTheCameraSide(request);
}
bool IsMdl(const AllocationRequest& request) {
    return request.tag == sim::pool::kMdlTag && !OnTheCameraSide(request);
}
// The driver's URBs are its own blocks (tag "WOLB") of a URB's size; the configuration request
// comes from the USB library.
bool IsUrb(const AllocationRequest& request) {
    if (request.tag == sim::pool::kUsbdTag) {
        return true;
    }
    if (request.tag != kTagOther) {
        return false;
    }
    switch (request.bytes) {
    case sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER):
    case sizeof(struct _URB_PIPE_REQUEST):
    case sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST):
    case sizeof(struct _URB_SELECT_CONFIGURATION):
        return true;
    default:
        return false;
    }
}
// Every other block: contexts, frame buffers, colour state, descriptors, the class driver's.
bool IsOtherPool(const AllocationRequest& request) {
    return !OnTheCameraSide(request) && !IsIrp(request) && !IsMdl(request) && !IsUrb(request);
}

struct Kind {
    const char* name;
    sim::pool::AllocationFilter filter;
};
constexpr Kind kKinds[] = {
    {"pool", &IsOtherPool}, {"IRP", &IsIrp}, {"MDL", &IsMdl}, {"URB", &IsUrb}};

// An allocation's path: the return addresses on its stack. A loop that allocates on every turn
// takes one path, so failing each distinct path once covers every way through the code at a
// fraction of the lives that failing every occurrence takes (ZYN_SWEEP_EVERY=1 does that).
uint64_t PathHere() {
    void* frames[40];
    const int depth = backtrace(frames, static_cast<int>(std::size(frames)));
    uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < depth; ++i) {
        hash = (hash ^ reinterpret_cast<uintptr_t>(frames[i])) * 1099511628211ull;
    }
    return hash;
}

// What the pool's filter consults; it runs under the pool's lock, one allocation at a time.
struct SweepState {
    const Kind* kind = nullptr;
    bool recording = false;      // the counting life: note each new path
    std::vector<uint64_t> paths; // in the order first seen
    std::unordered_set<uint64_t> known;
    uint64_t target = 0; // the path to fail
};
SweepState theSweep;

bool ByPath(const AllocationRequest& request) {
    if (!theSweep.kind->filter(request)) {
        return false;
    }
    const uint64_t path = PathHere();
    if (theSweep.recording) {
        if (theSweep.known.insert(path).second) {
            theSweep.paths.push_back(path);
        }
        return true;
    }
    if (path == theSweep.target && std::getenv("ZYN_SWEEP_STACKS") != nullptr) {
        void* frames[40];
        backtrace_symbols_fd(frames, backtrace(frames, 40), 2);
    }
    return path == theSweep.target;
}

// How one life went: the first step that reported a failure (empty: none did) and whether a
// stream that every call called good stayed silent.
struct Life {
    std::string failedStep;
    NTSTATUS failedStatus = STATUS_SUCCESS;
    std::string silentAt; // the step after which no frame came
};

class AllocationSweepTest : public StreamTest {
protected:
    // Hundreds of lives: the cameras' power-up and settling waits, a hundredth as long.
    sim::ShortDelays shortDelays_;

    // A frame that cannot come is waited for this long; an unpaced camera sends one at once.
    static constexpr std::chrono::seconds kFrameBound{5};

    bool Failed(Life& life, const char* step, NTSTATUS status) {
        if (NT_SUCCESS(status) || status == STATUS_PENDING) {
            return false;
        }
        life.failedStep = step;
        life.failedStatus = status;
        return true;
    }

    // Waits for `count` frames, handing each back; false when one does not come.
    bool Frames(int count) {
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<sim::host::Frame> frame = Next(kFrameBound);
            if (frame == nullptr || frame->status() != STATUS_SUCCESS) {
                return false;
            }
            if (Session().Requeue(std::move(frame)) != STATUS_PENDING) {
                return false;
            }
        }
        return true;
    }

    Life LiveOnce(const std::string& model) {
        Life life;
        sim::registry::Clear();
        // A small region keeps a frame to one request of the split read.
        const std::string settings = std::string(capture::kSessionDriverKey) + "\\Settings";
        sim::registry::CreateKey(settings);
        sim::registry::SetDword(settings, "RoiW", 128);
        sim::registry::SetDword(settings, "RoiH", 96);
        SessionOptions options;
        options.model = model;
        options.frameInterval = std::chrono::nanoseconds{0};
        options.clientFrames = 2;
        std::string error;
        session_ = CaptureSession::Open(options, &error);
        if (session_ == nullptr) {
            life.failedStep = "open: " + error;
            life.failedStatus = STATUS_UNSUCCESSFUL;
            return life;
        }
        Session().device().Globals().SetTimeout(kReadTimeoutMs);
        if (Failed(life, "create pin", Session().CreatePin()) ||
            Failed(life, "run", Session().SetState(KSSTATE_RUN))) {
            session_.reset();
            return life;
        }
        if (!Frames(3)) {
            life.silentAt = "run";
        } else if (!Failed(life, "pause", Session().SetState(KSSTATE_PAUSE)) &&
                   !Failed(life, "run again", Session().SetState(KSSTATE_RUN)) && !Frames(1)) {
            life.silentAt = "run again";
        }
        if (life.failedStep.empty()) {
            Failed(life, "stop", Session().SetState(KSSTATE_STOP));
        }
        session_.reset(); // the pin and filter close, the device stops and goes, the image unloads
        return life;
    }

    void Sweep(const char* model, const Kind& kind) {
        const bool everyOccurrence = std::getenv("ZYN_SWEEP_EVERY") != nullptr;
        const uint64_t liveBefore = sim::pool::LiveBlocks();
        bool swept = false;
        bool counting = true;
        uint64_t next = 0;    // the path index, or the occurrence, failed next
        uint64_t planned = 0; // paths (occurrences) found by the counting life
        uint64_t total = 0;   // allocations of the kind in the counting life
        uint64_t handled = 0;
        uint64_t reported = 0;
        while (!swept) {
            sim::testing::VerifierCapture verifier;
            theSweep.kind = &kind;
            theSweep.recording = counting;
            if (counting) {
                theSweep.paths.clear();
                theSweep.known.clear();
                sim::pool::FailNthAllocationWhere(&ByPath, 0);
            } else if (everyOccurrence) {
                sim::pool::FailNthAllocationWhere(kind.filter, next + 1);
            } else {
                theSweep.target = theSweep.paths[next];
                sim::pool::FailNthAllocationWhere(&ByPath, 1);
            }
            // The one place a life is lived, so that the stacks of its allocations differ
            // only inside it.
            const Life life = LiveOnce(model);
            const AllocationRequest site = sim::pool::LastInjectedFailure();
            const uint64_t seen = sim::pool::AllocationsWhere();
            sim::pool::ClearInjectedFailures();
            const uint64_t leaked = sim::pool::LiveBlocks() - liveBefore;
            const std::string where =
                site.file == nullptr ? std::string("not reached")
                                     : std::string(site.file) + ":" + std::to_string(site.line);
            const std::string what = std::string(model) + ", " + kind.name + " allocation " +
                                     std::to_string(next + 1) + " of " + std::to_string(planned) +
                                     " failing (" + where + ")";
            EXPECT_EQ(verifier.Count(), 0u)
                << what << ": " << (verifier.Count() ? verifier.Messages()[0] : "");
            EXPECT_EQ(leaked, 0u) << what << ": blocks left behind";
            if (counting) {
                EXPECT_TRUE(life.failedStep.empty() && life.silentAt.empty())
                    << model << " without failures: " << life.failedStep << life.silentAt;
                total = seen;
                planned = everyOccurrence ? seen : theSweep.paths.size();
                counting = false;
                next = 0;
                handled = reported = 0;
            } else {
                EXPECT_TRUE(life.silentAt.empty())
                    << what << ": every call succeeded, yet no frame came after " << life.silentAt;
                handled += verifier.Count() == 0 && leaked == 0 && life.silentAt.empty();
                reported += site.file != nullptr && !life.failedStep.empty();
                ++next;
            }
            if (!counting && next == planned) {
                char line[200];
                std::snprintf(line, sizeof line,
                              "%s %s allocations: %llu in the life, %s %llu; %llu/%llu handled "
                              "(%llu reported as failures)\n",
                              model, kind.name, static_cast<unsigned long long>(total),
                              everyOccurrence ? "each failed," : "distinct paths failed",
                              static_cast<unsigned long long>(planned),
                              static_cast<unsigned long long>(handled),
                              static_cast<unsigned long long>(planned),
                              static_cast<unsigned long long>(reported));
                std::printf("%s", line);
                swept = true;
            }
        }
    }
};

struct SweepCase {
    const char* model;
    const Kind* kind;
};

void PrintTo(const SweepCase& sweepCase, std::ostream* out) {
    *out << sweepCase.model << ", " << sweepCase.kind->name;
}

class EveryAllocation : public AllocationSweepTest,
                        public ::testing::WithParamInterface<SweepCase> {};

TEST_P(EveryAllocation, FailsCleanlyOrKeepsStreaming) {
    Sweep(GetParam().model, *GetParam().kind);
}

std::vector<SweepCase> AllCases() {
    std::vector<SweepCase> cases;
    for (const char* model : {"tern", "heron", "plover", "egret"}) {
        for (const Kind& kind : kKinds) {
            cases.push_back(SweepCase{model, &kind});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Models, EveryAllocation, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                             return std::string(info.param.model) + "_" + info.param.kind->name;
                         });

} // namespace
} // namespace zyn::e2e
