#include "plan/progress.h"

#include <cstdio>

#include "plan/step_runner.h"
#include "plan/terminal_text.h"

namespace plan {

Progress::Progress(size_t total) : total_(total), terminal_(StdoutIsTerminal()) {}

void Progress::Start(const StepResult& step) {
    if (terminal_) return;
    std::printf("[%zu/%zu] %s ...\n", step.index + 1, total_, TerminalText(step.plan->name).c_str());
    std::fflush(stdout);
}

void Progress::Tick(const StepResult& step, double elapsed) {
    if (!terminal_) return;
    const std::string name = TerminalText(step.plan->name);
    if (step.plan->duration) {
        std::printf("\r[%zu/%zu] %s  %.0f s / %.0f s\033[K", step.index + 1, total_, name.c_str(), elapsed,
                    *step.plan->duration);
    } else {
        std::printf("\r[%zu/%zu] %s  %.0f s\033[K", step.index + 1, total_, name.c_str(), elapsed);
    }
    std::fflush(stdout);
}

void Progress::End(const StepResult& step) {
    const char* result = step.status == StepStatus::kSkip    ? "skipped"
                         : step.status == StepStatus::kError ? "ERROR"
                         : step.Passed()                     ? "pass"
                                                             : "FAIL";
    const std::string attempt = step.attemptsAllowed > 1 ? "  attempt " + std::to_string(step.attempt) + " of " +
                                                               std::to_string(step.attemptsAllowed)
                                                         : "";
    std::printf("%s[%zu/%zu] %s  %s  %.2f s%s%s\n", terminal_ ? "\r" : "", step.index + 1, total_,
                TerminalText(step.plan->name).c_str(), result, step.seconds, attempt.c_str(), terminal_ ? "\033[K" : "");
    if (step.status != StepStatus::kComplete) std::printf("      %s\n", TerminalText(step.statusMessage).c_str());
    for (const Check* check : step.Failures()) std::printf("      %s\n", TerminalText(check->message).c_str());
    std::fflush(stdout);
}

}  // namespace plan
