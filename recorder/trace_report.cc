// recorder/trace_report.cc: kelvotrace's two reports on a trace.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "recorder/trace_report.h"

#include "device/stream_check.h"
#include "trace/trace_format.h"

namespace trace {

namespace {

constexpr int kExitDamaged = 2;
constexpr int kListedDeviations = 20;

// What a trace of an older format cannot show, said when it reads as whole.
void ReportOldFormat(const char* path, const trace::Reader& reader, std::FILE* err) {
    if (reader.Version() == 1) {
        std::fprintf(err,
                     "kelvotrace: %s: a trace of format version 1 carries no checks: a damaged record, or a trace cut "
                     "between two records, reads as whole\n",
                     path);
    } else if (reader.Version() == 2) {
        std::fprintf(err,
                     "kelvotrace: %s: a trace of format version 2 has no closing record: a recorded program that was "
                     "killed between two calls cannot be told from one that ended\n",
                     path);
    }
}

// The end of a trace: whole, or where and how it stops.
int ReportEnd(const char* path, trace::ReadStatus status, const trace::Reader& reader, std::FILE* err) {
    switch (status) {
        case trace::ReadStatus::kEnd:
            ReportOldFormat(path, reader, err);
            return 0;
        case trace::ReadStatus::kUnclosed:
            std::fprintf(err,
                         "kelvotrace: %s: the trace ends after record %" PRIu64
                         " without its closing record: the recorded program was killed or crashed, and the calls "
                         "it made after that record are missing\n",
                         path, reader.Records());
            return kExitDamaged;
        case trace::ReadStatus::kCut:
            std::fprintf(err,
                         "kelvotrace: %s: the recording stopped after record %" PRIu64
                         " because the trace could not be written on; the calls after it are missing\n",
                         path, reader.Records());
            return kExitDamaged;
        case trace::ReadStatus::kTruncated:
            std::fprintf(err,
                         "kelvotrace: %s: cut off after record %" PRIu64 " (byte %" PRIu64
                         "); the calls before it are whole\n",
                         path, reader.Records(), reader.WholeBytes());
            return kExitDamaged;
        default:
            std::fprintf(err,
                         "kelvotrace: %s: damaged record after record %" PRIu64 " (bytes %" PRIu64 " to %" PRIu64
                         "); the calls before it are whole\n",
                         path, reader.Records(), reader.WholeBytes(), reader.ProblemEnd());
            return kExitDamaged;
    }
}

}  // namespace

int DumpTrace(const char* path, trace::Reader& reader, std::FILE* out, std::FILE* err) {
    trace::Call call;
    trace::ReadStatus status;
    while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
        std::fprintf(out, "%" PRIu64 " %" PRIu64 ".%03" PRIu64 " %s%s\n", reader.Records(), call.timeMs / 1000,
                    call.timeMs % 1000, trace::DescribeCall(call, true).c_str(),
                    trace::IsFailure(call) ? "  FAILED" : "");
    }
    return ReportEnd(path, status, reader, err);
}

namespace {

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
    // The tool's check over the blocks as they came, by the tool's rules: a block it accepts
    // (status 0, a count within the request) is checked, but the first one after a start or a
    // restart (ClearReadBlock) only sets where the pattern stands.
    PatternCheck check;
    bool checkArmed = false;
    uint64_t acceptedBytes = 0;
    std::vector<uint8_t> block;
};

void CheckAsTheToolDoes(const trace::Call& call, StreamFacts& facts) {
    if (call.op == trace::Op::ClearReadBlock) {
        facts.checkArmed = false;
        facts.check.Resync();
        return;
    }
    if (call.result != 0 || call.outs[0] <= 0 || call.outs[0] > call.args[0]) return;
    const uint32_t received = trace::StreamBytes(call);
    if (facts.checkArmed) {
        facts.block.resize(received);
        trace::ExpandStream(call, 0, received, facts.block.data());
        facts.check.CheckBlock(facts.block.data(), received, facts.acceptedBytes);
    }
    facts.checkArmed = true;
    facts.acceptedBytes += received;
}

void CountStream(const trace::Call& call, StreamFacts& facts, std::FILE* out) {
    ++facts.blocks;
    for (const trace::StreamRun& run : call.runs) {
        if (run.pattern) {
            if (facts.started && run.patternByte != facts.expected) {
                ++facts.jumps;
                if (facts.listed++ < kListedDeviations) {
                    std::fprintf(out, "  stream byte 0x%" PRIx64 ": jump from word 0x%04x to word 0x%04x\n", facts.bytes,
                                facts.expected / 2, run.patternByte / 2);
                }
            }
            facts.patternBytes += run.bytes;
            facts.expected = static_cast<uint32_t>((uint64_t{run.patternByte} + run.bytes) % kPatternBytes);
        } else {
            ++facts.asCameRuns;
            facts.asCameBytes += run.bytes;
            if (facts.listed++ < kListedDeviations) {
                std::fprintf(out, "  stream byte 0x%" PRIx64 ": %u bytes not in the pattern\n", facts.bytes, run.bytes);
            }
            facts.expected = static_cast<uint32_t>((uint64_t{facts.expected} + run.bytes) % kPatternBytes);
        }
        facts.started = true;
        facts.bytes += run.bytes;
    }
}

}  // namespace

int TraceStats(const char* path, trace::Reader& reader, std::FILE* out, std::FILE* err) {
    std::map<std::string, uint64_t> calls;
    std::map<std::string, uint64_t> failures;
    StreamFacts stream;
    trace::Call call;
    trace::ReadStatus status;
    uint64_t lastMs = 0;
    std::fprintf(out, "deviations from the counting pattern:\n");
    while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
        const std::string name = trace::OpName(call.op);
        ++calls[name];
        if (trace::IsFailure(call)) ++failures[name + " " + std::to_string(call.result)];
        if (call.op == trace::Op::ReadBlock) CountStream(call, stream, out);
        if (call.op == trace::Op::ReadBlock || call.op == trace::Op::ClearReadBlock) CheckAsTheToolDoes(call, stream);
        lastMs = call.timeMs;
    }
    if (stream.listed == 0) std::fprintf(out, "  none\n");
    if (stream.listed > kListedDeviations) std::fprintf(out, "  ... %d more\n", stream.listed - kListedDeviations);
    std::fprintf(out, "calls: %" PRIu64 " in %" PRIu64 ".%03" PRIu64 " s\n", reader.Records(), lastMs / 1000, lastMs % 1000);
    for (const auto& [name, count] : calls) std::fprintf(out, "  %-18s %" PRIu64 "\n", name.c_str(), count);
    std::fprintf(out, "failures:%s\n", failures.empty() ? " none" : "");
    for (const auto& [what, count] : failures) std::fprintf(out, "  %-24s %" PRIu64 "\n", what.c_str(), count);
    std::fprintf(out, "stream: %" PRIu64 " bytes in %" PRIu64 " blocks; counting pattern %" PRIu64 " bytes, %" PRIu64
                " jumps (lost words or restarts), %" PRIu64 " bytes in %" PRIu64 " runs not in the pattern\n",
                stream.bytes, stream.blocks, stream.patternBytes, stream.jumps, stream.asCameBytes, stream.asCameRuns);
    std::fprintf(out, "pattern check of the recorded blocks, as the tool counts: %u errors\n", stream.check.ErrorCount());
    return ReportEnd(path, status, reader, err);
}

}  // namespace trace
