// plan/step_attempts.cc: prompts and retries.
#include "plan/step_attempts.h"

#include <chrono>
#include <utility>

namespace plan {
namespace {

void Answered(StepResult* step, const std::string& answer, double seconds) {
    step->status = StepStatus::kComplete;
    step->transcript.measurements.push_back({"operator.answer", Value{answer}, "", 0});
    step->transcript.measurements.push_back({"operator.seconds", Value{seconds}, "s", 0});
    Check check;
    check.name = "operator.answer";
    check.value = Value{answer};
    check.expected = Value{std::string(answer == "--yes" ? "--yes" : "yes")};
    check.passed = answer != "no";
    if (!check.passed) {
        check.verdict = "operator-declined";
        check.message = "the operator declined: " + step->plan->prompt;
    }
    step->checks.push_back(check);
}

}  // namespace

void RunPrompt(const PromptSide& side, StepResult* step) {
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    step->exitCode = -1;
    if (side.yes) {
        side.write(step->plan->prompt + " (answered by --yes)\n");
        Answered(step, "--yes", 0);
        return;
    }
    if (!side.terminal) {
        step->status = StepStatus::kError;
        step->statusMessage = "no terminal to ask the operator \"" + step->plan->prompt +
                              "\" (give --yes to answer every prompt)";
        return;
    }
    side.write(step->plan->prompt + " [Enter, or n to decline] ");
    const std::optional<std::string> answer = side.readLine();
    step->seconds = seconds();
    if (!answer) {
        step->status = StepStatus::kError;
        step->statusMessage = "the prompt \"" + step->plan->prompt + "\" had no answer (end of input or Ctrl-C)";
        return;
    }
    const bool declined = *answer == "n" || *answer == "N" || *answer == "no";
    Answered(step, declined ? "no" : "yes", step->seconds);
}

std::string AttemptFolder(const std::string& stepFolder, int attempt) {
    return attempt <= 1 ? stepFolder : stepFolder + ".attempt" + std::to_string(attempt);
}

void RunAttempts(StepResult* step, const std::function<void(StepResult*)>& attempt,
                 const std::function<bool()>& mayRetry, const std::function<void(const StepResult&)>& attemptEnded) {
    const std::string folder = step->folder;
    step->attemptsAllowed = 1 + step->plan->retries;
    for (int number = 1;; ++number) {
        step->attempt = number;
        step->folder = AttemptFolder(folder, number);
        attempt(step);
        attemptEnded(*step);
        if (step->Passed() || number == step->attemptsAllowed || !mayRetry()) return;
        StepResult fresh;
        fresh.plan = step->plan;
        fresh.index = step->index;
        fresh.attemptsAllowed = step->attemptsAllowed;
        fresh.earlierAttempts = std::move(step->earlierAttempts);
        StepResult done = std::move(*step);
        done.earlierAttempts.clear();
        fresh.earlierAttempts.push_back(std::move(done));
        *step = std::move(fresh);
    }
}

}  // namespace plan
