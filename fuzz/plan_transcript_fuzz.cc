// fuzz/plan_transcript_fuzz.cc: kelvotest-plan's transcript parser on any text, read without
// the tool's arguments and with a command line that asks for every action. Every name it
// produces is one a plan may check, the errors it keeps are bounded and all counted, and the
// stream's report times only go forward.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plan/transcript.h"

namespace {

void Check(const plan::Transcript& t) {
    if (t.errors.size() > plan::Transcript::kMaxErrorsKept || t.errorCount < t.errors.size()) std::abort();
    for (const plan::Measurement& m : t.measurements) {
        if (!plan::IsKnownMeasurement(m.name)) std::abort();
        if (m.line < 0 || m.line > t.lines) std::abort();
        (void)plan::ValueText(m.value);
    }
    for (size_t i = 1; i < t.throughput.size(); ++i) {
        if (!(t.throughput[i].seconds > t.throughput[i - 1].seconds)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const plan::ToolArgs kEverything = plan::ParseToolArgs(
        {"-wb", "10", "-ww", "12", "-wwi", "14", "-wd", "20", "-wdi", "24", "-val", "5a", "-rb", "10", "-rd", "20",
         "-wre", "5", "-rde", "5", "-id", "a0", "-dumpe", "-prg", "image.iic", "-adread", "-trd", "-motor", "1", "-stat",
         "-scanfile", "stream.bin"});
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(plan::ParseTranscript(text));
    Check(plan::ParseTranscript(text, kEverything));
    return 0;
}
