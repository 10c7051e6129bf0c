// plan/step_attempts.h: the two ways a step runs besides the tool's one run: a prompt that the
// operator answers, and the retries of a failed step, each attempt recorded.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "plan/results.h"

namespace plan {

// The operator's side of a prompt.
struct PromptSide {
    std::function<std::optional<std::string>()> readLine;   // nullopt: end of input or Ctrl-C
    std::function<void(const std::string&)> write;
    bool terminal = false;   // someone can answer
    bool yes = false;        // --yes: every prompt is answered yes, and none is shown as a question
};

// Asks the step's prompt and records it as the step's result: the measurements
// operator.answer ("yes", "no", or "--yes") and operator.seconds, and one check that the
// answer was yes (verdict "operator-declined" when it was no). Without a terminal and
// without --yes the step is an error at once; so is an end of input, or a Ctrl-C.
void RunPrompt(const PromptSide& side, StepResult* step);

// The working folder of an attempt: the step's own for the first, "03-stream.attempt2" for
// the second, so that a retried loop step restarts in a clean folder.
std::string AttemptFolder(const std::string& stepFolder, int attempt);

// Runs a step's attempts: `attempt` fills the step for one run (its folder and number are
// set before the call); while it did not pass and attempts are left, it is kept among the
// earlier attempts and run again. `mayRetry` false stops the retries (a Ctrl-C, a tool that
// cannot start). `attemptEnded` is called after every attempt, the last one included.
void RunAttempts(StepResult* step, const std::function<void(StepResult*)>& attempt,
                 const std::function<bool()>& mayRetry, const std::function<void(const StepResult&)>& attemptEnded);

}  // namespace plan
