// The summary table at the end of a run.
#include <algorithm>
#include <cstdio>

#include "plan/checks.h"
#include "plan/reports.h"
#include "plan/terminal_text.h"

namespace plan {

std::string ConsoleSummary(const RunResult& run) {
    size_t width = 4;
    for (const StepResult& step : run.steps) width = std::max(width, DisplayWidth(TerminalText(step.plan->name)));
    width = std::min<size_t>(width, 40);
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "\n  #  %-*s  result  time\n", static_cast<int>(width), "step");
    out += line;
    for (const StepResult& step : run.steps) {
        const char* result = step.status == StepStatus::kSkip    ? "skip"
                             : step.status == StepStatus::kError ? "ERROR"
                             : step.Passed()                     ? "pass"
                                                                 : "FAIL";
        std::snprintf(line, sizeof line, "%3zu  %s  %-6s %7.2f s\n", step.index + 1,
                      PadToWidth(TerminalText(step.plan->name), width).c_str(), result, step.seconds);
        out += line;
        if (step.status == StepStatus::kError || step.status == StepStatus::kSkip) {
            out += "       " + TerminalText(step.statusMessage) + "\n";
        }
        for (const Check* check : step.Failures()) out += "       " + TerminalText(check->message) + "\n";
        for (const Check* check : step.Marginals()) out += "       " + TerminalText(MarginalNote(*check)) + "\n";
        if (!step.AttemptNote().empty()) out += "       " + step.AttemptNote() + "\n";
    }
    out += "\n";
    if (run.info.source != "hardware") out += "NOTE: " + run.info.sourceNote + "\n";
    if (!run.info.scenario.empty()) out += "      with " + run.info.scenario + "\n";
    const char* verdict = run.info.aborted ? "ABORTED" : run.Passed() ? "PASS" : "FAIL";
    int passed = 0;
    for (const StepResult& step : run.steps) passed += step.Passed() ? 1 : 0;
    std::snprintf(line, sizeof line, "%s: %s, %d of %zu steps passed (%.1f s)\n", verdict, TerminalText(run.plan->name).c_str(), passed,
                  run.steps.size(), run.info.seconds);
    out += line;
    if (run.info.aborted) out += TerminalText(run.info.abortMessage) + "\n";
    out += "reports in " + run.info.outDir + ": ocp.jsonl, junit.xml, report.html\n";
    return out;
}

}  // namespace plan
