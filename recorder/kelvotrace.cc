// recorder/kelvotrace.cc: reads a trace of the recording library (recorder/trace_report.h).
#include <cstdio>
#include <cstring>
#include <string>

#include "recorder/trace_report.h"

namespace {

constexpr int kExitUsage = 1;

int Usage() {
    std::fprintf(stderr, "usage: kelvotrace dump TRACE\n       kelvotrace stats TRACE\n");
    return kExitUsage;
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
    return dump ? trace::DumpTrace(argv[2], reader, stdout, stderr) : trace::TraceStats(argv[2], reader, stdout, stderr);
}
