// plan/progress.h: the console's line per step while a plan runs: redrawn with the elapsed
// time on a terminal, one line at the start and one at the end otherwise. Names are shown as
// TerminalText: a plan's bytes never reach the terminal raw.
#pragma once

#include <cstddef>

#include "plan/results.h"

namespace plan {

class Progress {
public:
    explicit Progress(size_t total);
    void Start(const StepResult& step);
    void Tick(const StepResult& step, double elapsed);
    void End(const StepResult& step);

private:
    size_t total_;
    bool terminal_;
};

}  // namespace plan
