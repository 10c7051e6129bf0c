// bench/sim_read_block_bench.cc: the virtual scanner's ReadBlock on its own, with words made
// on demand, so that the figure is the data path's cost: it should reach 10 GB/s and more,
// leaving any end-to-end figure to the tool. Also with a corruption every 1000 words and a
// drop every 5000, which must cost little more.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "device/kelvoscanusb.h"
#include "device/stream_check.h"

extern "C" void SimConfigure(const char* settings);

namespace {

bool Start(benchmark::State& state, const char* settings) {
    SimConfigure(settings);
    if (Init_Interface() != 0 || Init_Firmware("scanner3.mcs", 1) != 0 || RegWrite(4, 1) == 0 ||
        RegWrite(5, 1) == 0) {
        state.SkipWithError("the virtual scanner did not start");
        return false;
    }
    return true;
}

void Read(benchmark::State& state, const char* settings, bool toolLengths) {
    if (!Start(state, settings)) return;
    std::vector<uint8_t> buffer(kScanBufferBytes);
    RequestRandom random;
    random.state = 12345;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const int32_t length = toolLengths ? RequestLengthFor(random.Next()) : kScanBufferBytes;
        int32_t received = 0;
        if (ReadBlock(buffer.data(), length, &received) != 0 || received != length) {
            state.SkipWithError("short or failed block");
            break;
        }
        benchmark::ClobberMemory();
        bytes += static_cast<uint64_t>(received);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    Free_Interface();
}

void FullBlocks(benchmark::State& state) { Read(state, "stream.rate = unlimited", false); }
void ToolLengths(benchmark::State& state) { Read(state, "stream.rate = unlimited", true); }
void ToolLengthsWithFaults(benchmark::State& state) {
    Read(state, "stream.rate = unlimited; stream.corrupt = every 1000; stream.drop = 3 every 5000", true);
}

BENCHMARK(FullBlocks)->UseRealTime()->MinTime(1.0);
BENCHMARK(ToolLengths)->UseRealTime()->MinTime(1.0);
BENCHMARK(ToolLengthsWithFaults)->UseRealTime()->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
