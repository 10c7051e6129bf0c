// bench/scan_stream_bench.cc: how fast the scan streaming test's own loop runs when the link
// is never the limit, against the bare loop that only copies the pattern and compares it.
// The ratio of the two says how much of a link the tool's bookkeeping (request lengths, clock,
// key polling, the check itself) would take; it should stay at 0.85 or above, with standard
// input a terminal and without one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bare_loop.h"
#include "bench/pattern_library.h"
#include "log/trace_log.h"
#include "procedures/scan_stream.h"
#include "device/stream_check.h"

namespace {

constexpr uint64_t kPassesPerRun = 50000;   // about a second's worth of a fast link per run

// The tool's loop, ended after kPassesPerRun blocks through an interrupt, like Ctrl-C.
void RealStreamingLoop(benchmark::State& state) {
    gTraceLog.SetOutput(0, nullptr);   // the reports are still made, printed nowhere
    TakeDeliveredBytes();
    uint64_t bytes = 0;
    for (auto _ : state) {
        EndStreamAfterBlocks(kPassesPerRun);
        RunScanStreamTest(nullptr);
        bytes += TakeDeliveredBytes();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BareCopyAndCompare(benchmark::State& state) {
    BareLoop loop;
    uint64_t bytes = 0;
    for (auto _ : state) bytes += loop.Run(kPassesPerRun);
    if (loop.Errors() != 0) state.SkipWithError("the bare loop found errors in a clean pattern");
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(BareCopyAndCompare)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->DisplayAggregatesOnly(true);
BENCHMARK(RealStreamingLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->DisplayAggregatesOnly(true);

// Prints as usual and keeps each benchmark's median rate for the closing ratio line.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) medianRates[run.run_name.function_name] = rate->second.value;
        }
    }
    std::map<std::string, double> medianRates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto real = reporter.medianRates.find("RealStreamingLoop");
    const auto bare = reporter.medianRates.find("BareCopyAndCompare");
    if (real == reporter.medianRates.end() || bare == reporter.medianRates.end() || bare->second <= 0) return 0;
    std::printf("real loop %.2f GB/s, bare loop %.2f GB/s, ratio real/bare %.3f (target >= 0.85)\n",
                real->second / 1e9, bare->second / 1e9, real->second / bare->second);
    return 0;
}
