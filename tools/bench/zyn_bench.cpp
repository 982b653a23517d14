// zyn-bench: the cost of the drivers' frame conversion per pixel at the Tern (1360 x 1024) and
// Heron (2448 x 2048) sensor sizes, on one core, for each family at each vector path the
// processor runs, beside OpenCV's bilinear demosaic to BGRA (the yardstick) and the memory
// floor (copying the raw frame and writing the 4-byte output pixels) measured in the same run.
// Each row is repeated; the closing table gives the medians in nanoseconds per pixel and each
// row's ratio to the OpenCV row and to the floor of its size.
#include <benchmark/benchmark.h>

#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/scenes.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/host/capture_session.h"

#if defined(ZYN_BENCH_OPENCV)
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct FrameSize {
    int width, height;
};
constexpr FrameSize kSizes[] = {{1360, 1024}, {2448, 2048}};

std::string SizeName(const FrameSize& size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// An RGGB frame of a picture with detail in every channel.
std::vector<uint8_t> RawFrame(const FrameSize& size) {
    return imaging::Mosaic(imaging::Gradient(size.width, size.height), 2);
}

// An output frame that starts on a page, as the drivers' frame buffers and the clients' frames
// do (the conversion streams its stores to rows that start on 64-byte lines).
class OutputFrame {
public:
    explicit OutputFrame(size_t bytes) : storage_(bytes + kPage) {}
    uint8_t* data() {
        const auto address = reinterpret_cast<uintptr_t>(storage_.data());
        return storage_.data() + ((kPage - address % kPage) % kPage);
    }

private:
    static constexpr size_t kPage = 4096;
    std::vector<uint8_t> storage_;
};

void CountPixels(benchmark::State& state, const FrameSize& size) {
    // Reported in nanoseconds per pixel (processor time: the machine may be shared).
    state.counters["ns_per_px"] = benchmark::Counter(
        static_cast<double>(size.width) * size.height * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void MemoryFloor(benchmark::State& state, FrameSize size) {
    const std::vector<uint8_t> raw = RawFrame(size);
    std::vector<uint8_t> copy(raw.size());
    std::vector<uint8_t> output(raw.size() * 4);
    uint8_t value = 0;
    for (auto _ : state) {
        std::memcpy(copy.data(), raw.data(), raw.size());
        std::memset(output.data(), ++value, output.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    CountPixels(state, size);
}

enum class Mode { Color, Mono, ColorWithWhiteBalance };

void Convert(benchmark::State& state, FrameSize size, Mode mode, zyn::VectorPath path) {
    const std::vector<uint8_t> raw = RawFrame(size);
    OutputFrame output(raw.size() * 4);
    zyn::ColorState* colorState = new (NonPagedPool) zyn::ColorState();
    colorState->SetBayerPhase(2);
    colorState->SetColorEnable(mode == Mode::Mono ? 0 : 1);
    colorState->SetWhiteBalance(mode == Mode::ColorWithWhiteBalance ? 1 : 0);
    colorState->SetFrameSize(size.width, size.height);
    if (!NT_SUCCESS(colorState->AllocateWorkBuffer())) {
        state.SkipWithError("no working buffer");
        delete colorState;
        return;
    }
    colorState->SetOutputBuffer(output.data());
    if (!NT_SUCCESS(colorState->RequestVectorPath(path))) {
        state.SkipWithError("the processor lacks this path");
        delete colorState;
        return;
    }
    for (auto _ : state) {
        zyn::ConvertFrame(colorState, raw.data(), 0, size.width);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    delete colorState;
    CountPixels(state, size);
}

// Processor time of the whole process so far, every thread's.
double ProcessorSeconds() {
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processors the benchmark was started with; the conversion rows run on one of them.
cpu_set_t g_allCores;

// The whole simulated stack: the emulated camera sending unpaced frames over the bus, the
// driver reading and converting them, the client taking each picture and handing its frame
// back. Its threads may use every processor, as the driver's pipeline does on a machine.
//
// The argument is the time in microseconds the bus takes for each 64 KiB of a frame. With 0
// the emulated camera and bus copy frames as fast as the processor allows and the reading
// side takes a processor of its own, which a real camera's transfers do not; with a transfer
// time (32 us: about 2 GB/s) the reading side waits for its data as it does on a machine.
void EndToEnd(benchmark::State& state, FrameSize size) {
    cpu_set_t pinned;
    sched_getaffinity(0, sizeof pinned, &pinned);
    sched_setaffinity(0, sizeof g_allCores, &g_allCores);
    zyn::capture::SessionOptions options;
    options.frameInterval = std::chrono::nanoseconds{0};
    options.scene = std::make_shared<imaging::RgbImage>(imaging::Gradient(size.width, size.height));
    std::string error;
    std::unique_ptr<zyn::capture::CaptureSession> session =
        zyn::capture::CaptureSession::Open(options, &error);
    if (session != nullptr && state.range(0) > 0) {
        session->system().bus().SetTransferDelay(sim::camera::kDataEndpoint,
                                                 std::chrono::microseconds(state.range(0)));
    }
    if (session == nullptr || !NT_SUCCESS(session->CreatePin()) ||
        !NT_SUCCESS(session->SetState(KSSTATE_RUN))) {
        state.SkipWithError(session == nullptr ? error.c_str() : "the pin did not run");
    } else {
        const zyn::capture::StreamCounters before = session->Counters();
        const double processorBefore = ProcessorSeconds();
        const double wallBefore = WallSeconds();
        for (auto _ : state) {
            std::unique_ptr<sim::host::Frame> frame = session->NextFrame(std::chrono::seconds(10));
            if (frame == nullptr) {
                state.SkipWithError("no frame for 10 s");
                break;
            }
            session->Requeue(std::move(frame));
        }
        state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                            benchmark::Counter::kIsRate);
        // Processor time of every thread (camera, bus, driver, client) per frame: what the
        // stack costs whatever else the machine runs meanwhile.
        state.counters["cpu_ms_per_frame"] = benchmark::Counter(
            (ProcessorSeconds() - processorBefore) * 1e3 / static_cast<double>(state.iterations()));
        // Where the frames wait: the conversion's own time inside the stack (it writes into
        // client frames that are cold), the share of the wall clock the process routine spent
        // converting (100 % means the stack runs at the speed of its conversion), and raw
        // frames read per frame delivered (above 1: the reading side outpaces the conversion).
        const zyn::capture::StreamCounters after = session->Counters();
        const double wall = WallSeconds() - wallBefore;
        const double converted = after.framesConverted - before.framesConverted;
        const double conversionMs = after.meanConversionMs * after.framesConverted -
                                    before.meanConversionMs * before.framesConverted;
        if (converted > 0 && wall > 0) {
            state.counters["conversion_ms"] = benchmark::Counter(conversionMs / converted);
            state.counters["converting_pct"] = benchmark::Counter(conversionMs / (wall * 10));
            state.counters["reads_per_frame"] = benchmark::Counter(
                (after.framesRead - before.framesRead) / static_cast<double>(state.iterations()));
        }
    }
    session.reset();
    sched_setaffinity(0, sizeof pinned, &pinned);
    CountPixels(state, size);
}

#if defined(ZYN_BENCH_OPENCV)
void OpenCvBilinear(benchmark::State& state, FrameSize size) {
    std::vector<uint8_t> raw = RawFrame(size);
    const cv::Mat bayer(size.height, size.width, CV_8UC1, raw.data());
    cv::Mat bgra(size.height, size.width, CV_8UC4);
    cv::setNumThreads(1);
    for (auto _ : state) {
        // OpenCV names the pattern by the second row: RGGB is its "BG".
        cv::cvtColor(bayer, bgra, cv::COLOR_BayerBG2BGRA);
        benchmark::DoNotOptimize(bgra.data);
        benchmark::ClobberMemory();
    }
    CountPixels(state, size);
}
#endif

// Console output as usual, and the runs kept for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The median of repeated rows, or the one run of a row that is not repeated.
        for (const Run& run : runs) {
            if (run.error_occurred || (run.run_type == Run::RT_Iteration && run.repetitions > 1) ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) {
                continue;
            }
            const auto counter = run.counters.find("ns_per_px");
            if (counter != run.counters.end()) {
                const auto processor = run.counters.find("cpu_ms_per_frame");
                rows_.push_back({run.run_name.str(), counter->second.value,
                                 processor == run.counters.end() ? 0.0 : processor->second.value});
            }
        }
    }

    void PrintTable(const std::string& widestColour) const {
        std::map<std::string, double> floors, yardsticks;
        for (const Row& row : rows_) {
            if (row.name.rfind("memory floor/", 0) == 0) {
                floors[Size(row.name)] = row.nsPerPixel;
            } else if (row.name.rfind("OpenCV bilinear", 0) == 0) {
                yardsticks[Size(row.name)] = row.nsPerPixel;
            }
        }
        std::printf(
            "\nmedians                                        ns/pixel   x OpenCV   x floor\n");
        for (const Row& row : rows_) {
            if (row.name.rfind("end to end", 0) == 0) {
                continue;
            }
            const auto floor = floors.find(Size(row.name));
            const auto yardstick = yardsticks.find(Size(row.name));
            std::printf("%-46s %8.3f %10.2f %9.2f\n", row.name.c_str(), row.nsPerPixel,
                        yardstick == yardsticks.end() ? 0.0 : row.nsPerPixel / yardstick->second,
                        floor == floors.end() ? 0.0 : row.nsPerPixel / floor->second);
        }
        // The stack beside the conversion it is built around: frames per second of each.
        const double pixels = static_cast<double>(kSizes[0].width) * kSizes[0].height;
        const Row* conversion = Find(widestColour + "/" + SizeName(kSizes[0]));
        for (const Row& row : rows_) {
            if (conversion == nullptr || row.name.rfind("end to end", 0) != 0) {
                continue;
            }
            const double stackRate = 1e9 / (row.nsPerPixel * pixels);
            const double conversionRate = 1e9 / (conversion->nsPerPixel * pixels);
            std::printf("%s: %.0f frames/s, %.0f %% of the conversion alone (%s, %.0f "
                        "frames/s); %.2f ms of processor time per frame on all threads, the "
                        "conversion alone %.2f ms\n",
                        row.name.c_str(), stackRate, 100.0 * stackRate / conversionRate,
                        widestColour.c_str(), conversionRate, row.processorMsPerFrame,
                        1e3 / conversionRate);
        }
    }

private:
    struct Row {
        std::string name;
        double nsPerPixel;
        double processorMsPerFrame; // end-to-end rows only
    };
    static std::string Size(const std::string& name) {
        // The size follows the first '/' (Google Benchmark appends its own parts after it).
        const size_t slash = name.find('/');
        const size_t end = name.find('/', slash + 1);
        return slash == std::string::npos ? "" : name.substr(slash + 1, end - slash - 1);
    }
    const Row* Find(const std::string& prefix) const {
        for (const Row& row : rows_) {
            if (row.name.rfind(prefix, 0) == 0) {
                return &row;
            }
        }
        return nullptr;
    }

    std::vector<Row> rows_;
};

// One core: stay on the processor we started on.
void PinToThisCore() {
    const int cpu = sched_getcpu();
    if (cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        sched_setaffinity(0, sizeof set, &set);
    }
}

} // namespace

int main(int argc, char** argv) {
    sched_getaffinity(0, sizeof g_allCores, &g_allCores);
    PinToThisCore();
    ULONG paths = 0;
    {
        zyn::ColorState* probe = new (NonPagedPool) zyn::ColorState();
        paths = probe->SupportedPaths();
        delete probe;
    }
    constexpr int kRepetitions = 7;
    const std::pair<Mode, const char*> families[] = {
        {Mode::Color, "colour"},
        {Mode::Mono, "grey"},
        {Mode::ColorWithWhiteBalance, "colour + white balance"}};
    for (const FrameSize& size : kSizes) {
        const std::string name = SizeName(size);
        benchmark::RegisterBenchmark(("memory floor/" + name).c_str(), MemoryFloor, size)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(kRepetitions);
#if defined(ZYN_BENCH_OPENCV)
        benchmark::RegisterBenchmark(("OpenCV bilinear BayerBG2BGRA/" + name).c_str(),
                                     OpenCvBilinear, size)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(kRepetitions);
#endif
        for (const auto& [mode, family] : families) {
            for (int k = 0; k < zyn::kVectorPaths; ++k) {
                const auto path = static_cast<zyn::VectorPath>(k);
                if ((paths & zyn::VectorPathBit(path)) == 0) {
                    continue;
                }
                benchmark::RegisterBenchmark(
                    (std::string(family) + " " + zyn::VectorPathName(path) + "/" + name).c_str(),
                    Convert, size, mode, path)
                    ->Unit(benchmark::kMillisecond)
                    ->Repetitions(kRepetitions);
            }
        }
    }
    // Tern frames through the whole stack, beside the conversion alone of the same size.
    benchmark::RegisterBenchmark("end to end, unpaced/1360x1024", EndToEnd, kSizes[0])
        ->ArgName("us_per_64KiB")
        ->Arg(0)
        ->Arg(32)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(2.0)
        ->Repetitions(3);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable(std::string("colour ") + zyn::VectorPathName(zyn::WidestVectorPath(paths)));
    benchmark::Shutdown();
    return 0;
}
