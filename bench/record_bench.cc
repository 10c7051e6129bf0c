// bench/record_bench.cc: the recorder's encoder on stream data, with every group of records
// handed to the operating system as the recording library does. Recording must keep up with 400 MB/s
// for a clean stream and a noisy one (a lost word every 64 KiB, a corrupted word every
// 16 KiB); the clean 60-second USB 2.0 stream (2.4 GB in requests of random even length from
// 1000 to 32768 bytes) shows its trace size in the counter trace_bytes (target: 1 MB a minute,
// under 10 MB for ten minutes). The clean stream must record at 2.5 GB/s or more, for links of
// 10 and 20 Gbit/s: ToolCheckClean runs the tool's own pattern check over the same blocks in
// the same run, the figure to set it beside (both compare a block with the pattern in one piece).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "device/counting_pattern.h"
#include "device/stream_check.h"
#include "trace/trace_format.h"

namespace {

constexpr uint64_t kUsb2BytesPerSecond = 40000000;

// The counting stream as the scanner sends it, with the deviations a noisy link adds.
class StreamSource {
public:
    explicit StreamSource(bool noisy) : noisy_(noisy) {}
    void Fill(uint8_t* block, uint32_t bytes) {
        if (!noisy_) {   // a clean block is a piece of the pattern
            std::memcpy(block, CountingPatternAt(2u * word_), bytes);
            word_ = static_cast<uint16_t>(word_ + bytes / 2);
            offset_ += bytes;
            return;
        }
        for (uint32_t i = 0; i < bytes; i += 2) {
            if (noisy_ && offset_ % 65536 == 0) ++word_;   // one word lost
            uint16_t value = word_++;
            if (noisy_ && offset_ % 16384 == 8000) value = static_cast<uint16_t>(~value);
            block[i] = static_cast<uint8_t>(value);
            block[i + 1] = static_cast<uint8_t>(value >> 8);
            offset_ += 2;
        }
    }

private:
    bool noisy_;
    uint16_t word_ = 0;
    uint64_t offset_ = 0;
};

uint32_t RequestLength(std::minstd_rand& random) { return 1000 + 2 * (random() % 15885); }

// Encodes `bytes` of stream in random requests, writing each record; returns the trace size.
uint64_t Record(StreamSource& source, uint64_t bytes, std::FILE* sink, trace::Encoder& encoder, std::minstd_rand& random,
                std::vector<uint8_t>& block, uint64_t* recordedBytes) {
    std::vector<uint8_t> record;
    uint64_t traceBytes = 0;
    for (uint64_t done = 0; done < bytes;) {
        const uint32_t requested = RequestLength(random);
        source.Fill(block.data(), requested);
        trace::Call call;
        call.op = trace::Op::ReadBlock;
        call.args[0] = requested;
        call.outs[0] = requested;
        call.stream = block.data();
        call.timeMs = done / (kUsb2BytesPerSecond / 1000);
        const size_t before = record.size();
        encoder.Append(call, record);
        traceBytes += record.size() - before;
        if (!encoder.GroupOpen()) {   // one write a group, like the recording library
            std::fwrite(record.data(), 1, record.size(), sink);
            std::fflush(sink);
            record.clear();
        }
        done += requested;
        *recordedBytes += requested;
    }
    return traceBytes;
}

void RecordStream(benchmark::State& state, bool noisy) {
    std::FILE* sink = std::tmpfile();
    StreamSource source(noisy);
    trace::Encoder encoder;
    std::minstd_rand random(7);
    std::vector<uint8_t> block(32768);
    uint64_t bytes = 0, traceBytes = 0;
    for (auto _ : state) traceBytes += Record(source, 64u << 20, sink, encoder, random, block, &bytes);
    std::fclose(sink);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["trace_bytes_per_MB"] = static_cast<double>(traceBytes) / (static_cast<double>(bytes) / 1e6);
}

void CleanStream(benchmark::State& state) { RecordStream(state, false); }

// The tool's check over the clean stream as CleanStream records it: the same source, the same
// requests, the check instead of the encoder and the write.
void ToolCheckClean(benchmark::State& state) {
    StreamSource source(false);
    PatternCheck check;
    std::minstd_rand random(7);
    std::vector<uint8_t> block(32768);
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (uint64_t done = 0; done < (64u << 20);) {
            const uint32_t requested = RequestLength(random);
            source.Fill(block.data(), requested);
            check.CheckBlock(block.data(), requested, bytes);
            done += requested;
            bytes += requested;
        }
    }
    if (check.ErrorCount() != 0) state.SkipWithError("the clean stream has errors");
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
void NoisyStream(benchmark::State& state) { RecordStream(state, true); }

// The clean stream as the tool sees it through the recording library: the block filled, the
// recorder's work on it (encoded into the group's buffer, which is written each time a group
// closes), then the tool's check. Set beside ToolCheckClean, the same work without the
// recorder: recorded/unrecorded should be 0.8 or more.
void ToolCheckCleanRecorded(benchmark::State& state) {
    std::FILE* sink = std::tmpfile();
    StreamSource source(false);
    PatternCheck check;
    trace::Encoder encoder;
    std::minstd_rand random(7);
    std::vector<uint8_t> block(32768);
    std::vector<uint8_t> group;
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (uint64_t done = 0; done < (64u << 20);) {
            const uint32_t requested = RequestLength(random);
            source.Fill(block.data(), requested);
            trace::Call call = trace::CallOf(trace::Op::ReadBlock, requested);
            call.outs[0] = requested;
            call.stream = block.data();
            encoder.Append(call, group);
            if (!encoder.GroupOpen()) {
                std::fwrite(group.data(), 1, group.size(), sink);
                std::fflush(sink);   // one write a group, like the recording library
                group.clear();
            }
            check.CheckBlock(block.data(), requested, bytes);
            done += requested;
            bytes += requested;
        }
    }
    std::fclose(sink);
    if (check.ErrorCount() != 0) state.SkipWithError("the clean stream has errors");
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void CleanUsb2Minute(benchmark::State& state) {
    for (auto _ : state) {
        std::FILE* sink = std::tmpfile();
        StreamSource source(false);
        trace::Encoder encoder;
        std::minstd_rand random(11);
        std::vector<uint8_t> block(32768);
        uint64_t bytes = 0;
        const uint64_t traceBytes = Record(source, 60 * kUsb2BytesPerSecond, sink, encoder, random, block, &bytes);
        std::fclose(sink);
        state.counters["trace_bytes"] = static_cast<double>(traceBytes);
        state.counters["stream_bytes"] = static_cast<double>(bytes);
        state.SetBytesProcessed(static_cast<int64_t>(bytes));
    }
}

}  // namespace

BENCHMARK(CleanStream)->Unit(benchmark::kMillisecond);
BENCHMARK(ToolCheckClean)->Unit(benchmark::kMillisecond);
BENCHMARK(ToolCheckCleanRecorded)->Unit(benchmark::kMillisecond);
BENCHMARK(NoisyStream)->Unit(benchmark::kMillisecond);
BENCHMARK(CleanUsb2Minute)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
