// fuzz/hex_dump_fuzz.cc: HexDump of any length and any bytes. One line per 16 bytes, each
// at most 75 characters and a newline, the offsets counting up modulo 0x10000.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/trace_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = nullptr;
    size_t length = 0;
    FILE* sink = open_memstream(&text, &length);
    if (sink == nullptr) return 0;
    gTraceLog.SetOutput(TO_FILE, sink);
    gTraceLog.HexDump(data, static_cast<uint32_t>(size));
    gTraceLog.SetOutput(0, nullptr);
    std::fclose(sink);

    size_t lines = 0;
    for (const char* line = text; line < text + length;) {
        const char* end = static_cast<const char*>(std::memchr(line, '\n', text + length - line));
        if (end == nullptr || end - line > 75 || end - line < 60) std::abort();
        char offset[5];
        std::snprintf(offset, sizeof offset, "%04X", static_cast<unsigned>((lines * 16) & 0xFFFF));
        if (std::memcmp(line, offset, 4) != 0 || line[4] != ':') std::abort();
        ++lines;
        line = end + 1;
    }
    if (lines != (size + 15) / 16) std::abort();
    std::free(text);
    return 0;
}
