// recorder/kelvotrace.cc: reads a trace of the recording library. "dump" prints one call a
// line; "stats" counts calls and failures per operation and looks at the stream data for
// places where it leaves the counting pattern.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "trace/trace_format.h"

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitDamaged = 2;
constexpr int kListedDeviations = 20;

int Usage() {
    std::fprintf(stderr, "usage: kelvotrace dump TRACE\n       kelvotrace stats TRACE\n");
    return kExitUsage;
}

// The end of a trace: whole, or where and how it stops.
int ReportEnd(const char* path, trace::ReadStatus status, const trace::Reader& reader) {
    if (status == trace::ReadStatus::kEnd) return 0;
    std::fprintf(stderr, "kelvotrace: %s: %s after record %" PRIu64 " (byte %" PRIu64 "); the calls before it are whole\n",
                 path, status == trace::ReadStatus::kTruncated ? "cut off" : "damaged record",
                 reader.Records(), reader.WholeBytes());
    return kExitDamaged;
}

int Dump(const char* path, trace::Reader& reader) {
    trace::Call call;
    trace::ReadStatus status;
    while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
        std::printf("%" PRIu64 " %" PRIu64 ".%03" PRIu64 " %s%s\n", reader.Records(), call.timeMs / 1000,
                    call.timeMs % 1000, trace::DescribeCall(call, true).c_str(),
                    trace::IsFailure(call) ? "  FAILED" : "");
    }
    return ReportEnd(path, status, reader);
}

struct StreamFacts {
    uint64_t blocks = 0;
    uint64_t bytes = 0;
    uint64_t patternBytes = 0;
    uint64_t asCameBytes = 0;
    uint64_t asCameRuns = 0;
    uint64_t jumps = 0;
    uint32_t expected = 0;
    bool started = false;
    int listed = 0;
};

void CountStream(const trace::Call& call, StreamFacts& facts) {
    ++facts.blocks;
    for (const trace::StreamRun& run : call.runs) {
        if (run.pattern) {
            if (facts.started && run.patternByte != facts.expected) {
                ++facts.jumps;
                if (facts.listed++ < kListedDeviations) {
                    std::printf("  stream byte 0x%" PRIx64 ": jump from word 0x%04x to word 0x%04x\n", facts.bytes,
                                facts.expected / 2, run.patternByte / 2);
                }
            }
            facts.patternBytes += run.bytes;
            facts.expected = static_cast<uint32_t>((uint64_t{run.patternByte} + run.bytes) % kPatternBytes);
        } else {
            ++facts.asCameRuns;
            facts.asCameBytes += run.bytes;
            if (facts.listed++ < kListedDeviations) {
                std::printf("  stream byte 0x%" PRIx64 ": %u bytes not in the pattern\n", facts.bytes, run.bytes);
            }
            facts.expected = static_cast<uint32_t>((uint64_t{facts.expected} + run.bytes) % kPatternBytes);
        }
        facts.started = true;
        facts.bytes += run.bytes;
    }
}

int Stats(const char* path, trace::Reader& reader) {
    std::map<std::string, uint64_t> calls;
    std::map<std::string, uint64_t> failures;
    StreamFacts stream;
    trace::Call call;
    trace::ReadStatus status;
    uint64_t lastMs = 0;
    std::printf("deviations from the counting pattern:\n");
    while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
        const std::string name = trace::OpName(call.op);
        ++calls[name];
        if (trace::IsFailure(call)) ++failures[name + " " + std::to_string(call.result)];
        if (call.op == trace::Op::ReadBlock) CountStream(call, stream);
        lastMs = call.timeMs;
    }
    if (stream.listed > kListedDeviations) std::printf("  ... %d more\n", stream.listed - kListedDeviations);
    std::printf("calls: %" PRIu64 " in %" PRIu64 ".%03" PRIu64 " s\n", reader.Records(), lastMs / 1000, lastMs % 1000);
    for (const auto& [name, count] : calls) std::printf("  %-18s %" PRIu64 "\n", name.c_str(), count);
    std::printf("failures:%s\n", failures.empty() ? " none" : "");
    for (const auto& [what, count] : failures) std::printf("  %-24s %" PRIu64 "\n", what.c_str(), count);
    std::printf("stream: %" PRIu64 " bytes in %" PRIu64 " blocks; counting pattern %" PRIu64 " bytes, %" PRIu64
                " jumps (lost words or restarts), %" PRIu64 " bytes in %" PRIu64 " runs not in the pattern\n",
                stream.bytes, stream.blocks, stream.patternBytes, stream.jumps, stream.asCameBytes, stream.asCameRuns);
    return ReportEnd(path, status, reader);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Usage();
    const bool dump = std::strcmp(argv[1], "dump") == 0;
    if (!dump && std::strcmp(argv[1], "stats") != 0) return Usage();
    trace::Reader reader;
    std::string error;
    if (!reader.Open(argv[2], &error)) {
        std::fprintf(stderr, "kelvotrace: %s\n", error.c_str());
        return kExitUsage;
    }
    return dump ? Dump(argv[2], reader) : Stats(argv[2], reader);
}
