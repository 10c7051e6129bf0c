// log/trace_log.cc: the trace log. Lines are formatted once into a buffer of the call and
// written whole to standard error, the debugger channel and the file, in that order.
#include "log/trace_log.h"

#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

TraceLog gTraceLog("ksutest");
FILE* gLogFile = nullptr;

static char gHexLine[80];

TraceLog::TraceLog(const char* logName)
    : levelMask(3), destinations(0), file(nullptr), formatFlags(NAME_PREFIX), name(logName),
      lastTick(0) {}

void TraceLog::SetOutput(uint32_t destinationMask, FILE* stream) {
    destinations = destinationMask;
    file = stream;
}

// Rewrites the 64-bit forms "%I64u"/"%I64x" into the C library's "%llu"/"%llx", so that the
// output is the same where the C library does not know them. Returns false when the
// translation does not fit; the caller then formats nothing rather than something wrong.
static bool TranslateFormat(const char* format, char* out, size_t outSize) {
    size_t o = 0;
    for (const char* p = format; *p != '\0';) {
        if (o + 3 >= outSize) return false;
        if (*p != '%') {
            out[o++] = *p++;
            continue;
        }
        out[o++] = *p++;
        while (*p != '\0' && std::strchr("-+ #0123456789.", *p) != nullptr && o + 3 < outSize) {
            out[o++] = *p++;
        }
        if (std::strncmp(p, "I64", 3) == 0) {
            out[o++] = 'l';
            out[o++] = 'l';
            p += 3;
        } else if (*p == '%') {
            out[o++] = *p++;
        }
    }
    out[o] = '\0';
    return true;
}

// Appends to line[pos..], never past the last byte, which stays reserved for the NUL.
static void AppendFormatted(char* line, size_t& pos, const char* format, va_list args) {
    const size_t room = kLineBytes - 1 - pos;
    if (room == 0) return;
    // The callers' formats were checked when they were compiled (log/log_format.h).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    const int written = std::vsnprintf(line + pos, room + 1, format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (written < 0) return;
    pos += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
}

static void Append(char* line, size_t& pos, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatted(line, pos, format, args);
    va_end(args);
}

void TraceLog::PrintFormatted(const char* format, ...) {
    char line[kLineBytes];
    size_t pos = 0;
    line[0] = '\0';
    if ((formatFlags & STAMP_TICKS) != 0) {
        const uint32_t tick = TickCountMs();
        Append(line, pos, "%08d", static_cast<int32_t>(tick));
        if ((formatFlags & STAMP_DELTA) != 0) {
            Append(line, pos, "(%04d)", static_cast<int32_t>(tick - lastTick));
            lastTick = tick;
        }
        Append(line, pos, " ");
    }
    if ((formatFlags & NAME_PREFIX) != 0 && name != nullptr) Append(line, pos, "%s: ", name);

    const char* effective = format;
    char translated[kLineBytes];
    if (std::strstr(format, "I64") != nullptr) {
        if (!TranslateFormat(format, translated, sizeof translated)) return;
        effective = translated;
    }
    va_list args;
    va_start(args, format);
    AppendFormatted(line, pos, effective, args);
    va_end(args);
    line[kLineBytes - 1] = '\0';
    WriteLine(line);
}

void TraceLog::WriteLine(const char* line) {
    if ((destinations & TO_STDERR) != 0) std::fputs(line, stderr);
    if ((destinations & TO_DEBUGGER) != 0) DebugChannelWrite(line);
    if ((destinations & TO_FILE) != 0 && file != nullptr) {
        std::fputs(line, file);
        std::fflush(file);
    }
}

static char HexDigit(unsigned nibble) { return "0123456789ABCDEF"[nibble & 0xF]; }

void TraceLog::HexDump(const uint8_t* data, uint32_t count) {
    size_t field = 0;
    size_t column = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (i % 16 == 0) {
            std::memset(gHexLine, ' ', sizeof gHexLine);
            const unsigned offset = i & 0xFFFF;
            for (int d = 0; d < 4; ++d) gHexLine[d] = HexDigit(offset >> (12 - 4 * d));
            gHexLine[4] = ':';
            field = 6;
            column = 59;
        }
        gHexLine[field] = HexDigit(data[i] >> 4);
        gHexLine[field + 1] = HexDigit(data[i]);
        field += 3;
        gHexLine[column++] = (data[i] >= 0x20 && data[i] <= 0x7F) ? static_cast<char>(data[i]) : '.';
        if (i % 4 == 3) field += 1;
        if (i % 16 == 15 || i + 1 == count) {
            gHexLine[column] = '\n';
            gHexLine[column + 1] = '\0';
            WriteLine(gHexLine);
        }
    }
}

void OpenTraceLog(uint32_t levelMask, uint32_t formatFlags, uint32_t destinationMask,
                  const char* fileName) {
    CloseTraceLog();   // a second opening must not leave the first stream behind
    // Never through a symbolic link or into a FIFO or device standing at the name (the tool
    // often runs as root in a shared folder): anything but a regular file counts as a log
    // file that cannot be created.
    gLogFile = CreateRegularFileNoFollow(fileName, "wt");
    gTraceLog.SetOutput(destinationMask, gLogFile);
    gTraceLog.SetLevelMask(levelMask);
    gTraceLog.SetFormat(formatFlags);
}

void CloseTraceLog() {
    if (gLogFile == nullptr) return;
    std::fclose(gLogFile);
    gLogFile = nullptr;
    gTraceLog.file = nullptr;
}
