// line/stats_commands.h: the commands that answer the line's questions from the store: yield,
// capability, pareto and the line report (kelvotest-line-stats(7)).
#pragma once

#include "line/command_table.h"

namespace line {

int RunYield(const Arguments& args);
int RunCapability(const Arguments& args);
int RunPareto(const Arguments& args);
int RunReport(const Arguments& args);

// The options every one of them takes.
// The report is HTML alone; the other statistics take --format as well.
#define KELVO_LINE_REPORT_OPTIONS                                                                    \
    {"--db", true}, {"--plan", true}, {"--since", true}, {"--until", true}, {"--station", true},      \
        {"--include-virtual", false}
#define KELVO_LINE_STATS_OPTIONS KELVO_LINE_REPORT_OPTIONS, {"--format", true}

#define KELVO_LINE_STATS_USAGE "[--db URL] [--plan NAME] [--since T] [--until T] [--station S] [--include-virtual]"

// Checks --format (text, csv or json); prints what is wrong and returns false.
bool ReadFormat(const char* command, const Options& options, std::string* format);
// The line that says what was left out, or that virtual runs are in ("" when neither).
std::string VirtualNote(bool includeVirtual, uint64_t leftOut);

}  // namespace line
