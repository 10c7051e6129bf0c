// tests/support/log_capture.h: points gTraceLog at a scratch file for one test and hands back
// what was written; the log's previous settings come back afterwards.
#pragma once

#include <cstdio>
#include <string>

#include "log/trace_log.h"

class LogCapture {
public:
    explicit LogCapture(uint32_t levelMask = 7) : saved_(gTraceLog), file_(std::tmpfile()) {
        gTraceLog.SetOutput(TO_FILE, file_);
        gTraceLog.SetLevelMask(levelMask);
        gTraceLog.SetFormat(0);
    }
    ~LogCapture() {
        gTraceLog = saved_;
        std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Text() const {
        std::string text;
        std::rewind(file_);
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, got);
        std::fseek(file_, 0, SEEK_END);
        return text;
    }

private:
    TraceLog saved_;
    FILE* file_;
};
