// bench/scan_stream_bench.cc: how fast the scan streaming test's own loop runs when the link
// is never the limit, against the bare loop that only copies the pattern and compares it.
// The ratio of the two says how much of a link the tool's bookkeeping (request lengths, clock,
// key polling, the check itself) would take; it should stay at 0.85 or above, with standard
// input a terminal and without one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "bench/pattern_library.h"
#include "log/trace_log.h"
#include "procedures/scan_stream.h"
#include "procedures/stream_check.h"

namespace {

constexpr uint64_t kPassesPerRun = 50000;   // about a second's worth of a fast link per run
constexpr uint32_t kPatternWords = 65536;

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

// The same lengths, the same copy, the same comparison in at most two chunks; nothing else.
void BareCopyAndCompare(benchmark::State& state) {
    std::vector<uint8_t> buffer(kScanBufferBytes);
    // A table of its own, as the tool has: comparing against the copy's source instead would
    // find the bytes already in the nearest cache and flatter the bare loop.
    std::vector<uint8_t> table(2 * kPatternWords);
    for (uint32_t word = 0; word < kPatternWords; ++word) {
        table[2 * word] = static_cast<uint8_t>(word);
        table[2 * word + 1] = static_cast<uint8_t>(word >> 8);
    }
    const uint8_t* reference = table.data();
    RequestRandom random;
    random.state = static_cast<uint32_t>(std::time(nullptr));
    uint32_t nextWord = 0;
    uint32_t errors = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (uint64_t pass = 0; pass < kPassesPerRun; ++pass) {
            const uint32_t length = static_cast<uint32_t>(RequestLengthFor(random.Next()));
            std::memcpy(buffer.data(), PatternBytes() + 2 * nextWord, length);
            benchmark::ClobberMemory();
            const uint32_t roomBytes = 2 * (kPatternWords - nextWord);
            const uint32_t first = length < roomBytes ? length : roomBytes;
            errors += std::memcmp(buffer.data(), reference + 2 * nextWord, first) != 0;
            if (length > first) errors += std::memcmp(buffer.data() + first, reference, length - first) != 0;
            nextWord = (nextWord + length / 2) & 0xFFFFu;
            bytes += length;
        }
        benchmark::DoNotOptimize(errors);
    }
    if (errors != 0) state.SkipWithError("the bare loop found errors in a clean pattern");
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
