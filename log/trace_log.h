// log/trace_log.h: the one channel through which the tool prints its messages. Callers test
// a bit of levelMask before they call Print or HexDump; the log itself filters nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "log/log_format.h"

enum : uint32_t {
    TO_STDERR = 0x1,
    TO_DEBUGGER = 0x2,
    TO_FILE = 0x4,
};

enum : uint32_t {
    STAMP_TICKS = 0x1,
    STAMP_DELTA = 0x2,   // only together with STAMP_TICKS
    NAME_PREFIX = 0x100,
};

class TraceLog {
public:
    explicit TraceLog(const char* name);

    void SetOutput(uint32_t destinationMask, FILE* stream);
    void SetLevelMask(uint32_t mask) { levelMask = mask; }
    void SetFormat(uint32_t flags) { formatFlags = flags; }

    // printf-style; "%I64u" and "%I64x" take a uint64_t on every platform. The format is
    // checked against the arguments when the caller is compiled.
    template <typename... Args>
    void Print(LogFormat<std::type_identity_t<Args>...> format, Args... args) {
        PrintFormatted(format.Text(), args...);
    }
    void HexDump(const uint8_t* data, uint32_t count);

    uint32_t levelMask;
    uint32_t destinations;
    FILE* file;              // borrowed: the log neither opens nor closes it
    uint32_t formatFlags;
    const char* name;
    uint32_t lastTick;

private:
    void PrintFormatted(const char* format, ...);
    void WriteLine(const char* line);
};

constexpr uint32_t kLineBytes = 8192;   // the last byte always holds the terminating NUL

extern TraceLog gTraceLog;
extern FILE* gLogFile;

// The message classes that callers test before they print.
enum : uint32_t {
    LEVEL_ERRORS = 0x1,        // errors, the main sequence's results, the usage text
    LEVEL_INFO = 0x2,          // on by default and in a run; no message of the tool tests it
    LEVEL_RESULTS = 0x4,       // success messages and the results of the actions
    LEVEL_BOOT_TRACE = 0x400,  // the boot EEPROM programming trace
};

// The level mask of a run of the tool: the boot EEPROM trace stays off.
constexpr uint32_t kRunLevelMask = LEVEL_ERRORS | LEVEL_INFO | LEVEL_RESULTS;

inline bool ErrorsOn() { return (gTraceLog.levelMask & LEVEL_ERRORS) != 0; }
inline bool ResultsOn() { return (gTraceLog.levelMask & LEVEL_RESULTS) != 0; }
inline bool BootTraceOn() { return (gTraceLog.levelMask & LEVEL_BOOT_TRACE) != 0; }

void OpenTraceLog(uint32_t levelMask, uint32_t formatFlags, uint32_t destinationMask,
                  const char* fileName);
void CloseTraceLog();
