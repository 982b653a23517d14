// zyn-bench: the cost of the drivers' frame conversion per pixel at the Tern (1360 x 1024) and
// Heron (2448 x 2048) sensor sizes, on one core, against the memory floor measured in the same
// run: copying the raw frame and writing the 4-byte output pixels, the least any conversion
// must do. Ends with a table of nanoseconds per pixel and each row's ratio to its floor.
#include <benchmark/benchmark.h>

#include <sched.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/scenes.h"

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

void Convert(benchmark::State& state, FrameSize size, Mode mode) {
    const std::vector<uint8_t> raw = RawFrame(size);
    std::vector<uint8_t> output(raw.size() * 4);
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
    for (auto _ : state) {
        zyn::ConvertFrame(colorState, raw.data(), 0, size.width);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    delete colorState;
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
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                const auto counter = run.counters.find("ns_per_px");
                if (counter != run.counters.end()) {
                    rows_.push_back({run.benchmark_name(), counter->second.value});
                }
            }
        }
    }

    void PrintTable() const {
        std::map<std::string, double> floors;
        for (const Row& row : rows_) {
            if (row.name.rfind("memory floor/", 0) == 0) {
                floors[Size(row.name)] = row.nsPerPixel;
            }
        }
        std::printf("\n%-46s %10s %14s\n", "conversion", "ns/pixel", "x memory floor");
        for (const Row& row : rows_) {
            const auto floor = floors.find(Size(row.name));
            std::printf("%-46s %10.3f %14.2f\n", row.name.c_str(), row.nsPerPixel,
                        floor == floors.end() ? 0.0 : row.nsPerPixel / floor->second);
        }
    }

private:
    struct Row {
        std::string name;
        double nsPerPixel;
    };
    static std::string Size(const std::string& name) { return name.substr(name.rfind('/') + 1); }

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
    PinToThisCore();
    for (const FrameSize& size : kSizes) {
        const std::string name = SizeName(size);
        benchmark::RegisterBenchmark(("memory floor/" + name).c_str(), MemoryFloor, size)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ConvertFrame colour/" + name).c_str(), Convert, size,
                                     Mode::Color)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ConvertFrame grey/" + name).c_str(), Convert, size,
                                     Mode::Mono)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ConvertFrame colour + white balance/" + name).c_str(),
                                     Convert, size, Mode::ColorWithWhiteBalance)
            ->Unit(benchmark::kMillisecond);
#if defined(ZYN_BENCH_OPENCV)
        benchmark::RegisterBenchmark(("OpenCV bilinear BayerBG2BGRA/" + name).c_str(),
                                     OpenCvBilinear, size)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable();
    benchmark::Shutdown();
    return 0;
}
