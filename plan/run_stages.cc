// The stages of a run of a plan: the station prepared once, then for one unit the run started
// (identity, folder, plan copy, OCP), each step run or skipped, and the run finished (reports,
// summary, exit status). A step's outcome becomes its status and message through one table.
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <filesystem>

#include "plan/checks.h"
#include "plan/progress.h"
#include "plan/run_stages.h"
#include "plan/run_station.h"
#include "plan/spool.h"
#include "plan/step_attempts.h"
#include "plan/terminal_text.h"
#include "plan/step_runner.h"
#include "plan/transcript.h"

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

namespace plan {
namespace {

namespace fs = std::filesystem;

fs::path Absolute(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

// A measured time to the hundredth, as the step times are; a configured one as it was given.
std::string Seconds(double seconds, bool measured = true) {
    char text[32];
    if (measured) {
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    } else {
        std::snprintf(text, sizeof text, "%g s", seconds);
    }
    return text;
}

// What is known of a step when its program has ended, for the table below.
struct StepFacts {
    const RunOutcome& outcome;
    const StepPlan& plan;
    std::string replayProblem;   // the replay's own reason for ending early
    std::string interrupt;       // "Ctrl-C", "SIGTERM", ...
};

using Text = std::string (*)(const StepFacts&);

// One way a step can end. The first row that applies decides; the last applies always.
struct OutcomeRule {
    bool (*applies)(const StepFacts&);
    StepStatus status;
    bool checked;                // the checks are made (no: the unit was not tested)
    Text message;
    Text skipReason;             // not null: the run is aborted and the remaining steps skipped
    Text abortMessage;           // null: the step's message
};

std::string TheToolCouldNotStart(const StepFacts& f) {
    const std::string why = f.outcome.err.substr(0, f.outcome.err.find('\n'));
    return "the tool could not start (exit " + std::to_string(f.outcome.exitCode) + ")" + (why.empty() ? "" : ": " + why);
}

std::string StillRunning(const StepFacts& f) {
    return "still running after " + Seconds(f.plan.timeout, false) + " (timeout)" +
           (f.plan.duration ? " although its duration had ended" : "") + "; it was stopped" +
           (f.outcome.signal == 9 ? " and killed" : "");
}

constexpr OutcomeRule kOutcomes[] = {
    {[](const StepFacts& f) { return !f.outcome.started; }, StepStatus::kError, false,
     [](const StepFacts& f) { return "the tool could not be started: " + f.outcome.error; },
     [](const StepFacts&) { return std::string("the tool could not be started"); }, nullptr},
    {[](const StepFacts& f) { return f.outcome.stoppedByUser; }, StepStatus::kError, true,
     [](const StepFacts& f) { return "stopped by " + f.interrupt + " after " + Seconds(f.outcome.seconds); },
     [](const StepFacts& f) { return "the run was stopped (" + f.interrupt + ")"; },
     [](const StepFacts& f) { return "stopped by " + f.interrupt + " during step '" + f.plan.name + "'"; }},
    {[](const StepFacts& f) { return !f.replayProblem.empty(); }, StepStatus::kError, false,
     [](const StepFacts& f) { return "the replay could not run: " + f.replayProblem; },
     [](const StepFacts&) { return std::string("the replay could not run"); }, nullptr},
    {[](const StepFacts& f) { return !f.outcome.stopProblem.empty(); }, StepStatus::kError, true,
     [](const StepFacts& f) { return f.outcome.stopProblem; }, nullptr, nullptr},
    {[](const StepFacts& f) { return f.outcome.timedOut; }, StepStatus::kError, true, StillRunning, nullptr, nullptr},
    // The loader or the shell could not start the tool (no device library, a broken script):
    // no unit was tested, and no later step would be.
    {[](const StepFacts& f) { return f.outcome.exitCode == 126 || f.outcome.exitCode == 127; }, StepStatus::kError, false,
     TheToolCouldNotStart, [](const StepFacts&) { return std::string("the tool could not start"); }, nullptr},
    {[](const StepFacts& f) { return f.outcome.signal != 0; }, StepStatus::kError, true,
     [](const StepFacts& f) { return "the tool was ended by signal " + std::to_string(f.outcome.signal); }, nullptr, nullptr},
    {[](const StepFacts&) { return true; }, StepStatus::kComplete, true, [](const StepFacts&) { return std::string(); },
     nullptr, nullptr},
};

static_assert(std::size(kOutcomes) > 0 && kOutcomes[std::size(kOutcomes) - 1].status == StepStatus::kComplete &&
                  kOutcomes[std::size(kOutcomes) - 1].skipReason == nullptr,
              "the table ends with the ordinary end, which applies to every step the rows above do not take");

void ApplyOutcome(RunContext& context, StepResult& step, const RunOutcome& outcome) {
    const bool replay = !context.station->replayDir.empty();
    const StepFacts facts{outcome, *step.plan, replay ? ReplayProblem(outcome.err) : "", InterruptName()};
    const OutcomeRule* rule = kOutcomes;
    while (!rule->applies(facts)) ++rule;
    step.status = rule->status;
    step.statusMessage = rule->message(facts);
    if (outcome.started) step.transcript = ParseTranscript(outcome.err, step.plan->toolArgs);
    if (rule->checked) step.checks = EvaluateStep(*step.plan, step.transcript, outcome.exitCode);
    if (rule->skipReason != nullptr) {
        context.run.info.aborted = true;
        context.run.info.abortMessage = rule->abortMessage ? rule->abortMessage(facts) : step.statusMessage;
        context.skipReason = rule->skipReason(facts);
    }
    if (!outcome.writeProblem.empty()) {
        context.writeProblems.push_back((context.out / step.folder).string() + "/" + outcome.writeProblem);
    }
}

// -prg and -ini name input files: a relative name is the plan's folder's, since each step
// runs in a folder of its own.
std::vector<std::string> StepArguments(const StepPlan& step, const fs::path& planDir) {
    std::vector<std::string> args = step.args;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string option = args[i].substr(1);
        if (option != "prg" && option != "ini") continue;
        const fs::path file(args[i + 1]);
        std::error_code error;
        if (file.is_relative() && fs::exists(planDir / file, error)) args[i + 1] = Absolute(planDir / file).string();
        ++i;
    }
    return args;
}

StepLaunch MakeLaunch(const RunContext& context, const StepResult& step) {
    const Station& station = *context.station;
    const fs::path dir = context.out / step.folder;
    StepLaunch launch;
    launch.workDir = dir.string();
    launch.stdoutPath = (dir / "stdout.txt").string();
    launch.stderrPath = (dir / "stderr.txt").string();
    launch.timeout = step.plan->timeout;
    const std::vector<std::string> args = StepArguments(*step.plan, station.planDir);
    if (!station.replayDir.empty()) {
        const fs::path trace = station.replayDir / step.folder / "session.kvtrace";
        const bool loop = step.plan->toolArgs.RunsLoop();
        launch.env.emplace_back("KELVOSIM", "replay = " + trace.string() +
                                                (loop ? "; replay.pace = recorded; replay.end = stop" : ""));
        launch.env.emplace_back("KELVOSIM_SCENARIO", std::nullopt);
    } else {
        launch.stopAfter = step.plan->duration;
    }
    const Recording& recording = station.recording;
    launch.program = recording.recorder.empty() ? station.tool.path : recording.recorder;
    if (!recording.recorder.empty()) {
        if (!recording.library.empty()) launch.args = {"--library", recording.library};
        for (const std::string& word : {(dir / "session.kvtrace").string(), std::string("--"), recording.tool}) {
            launch.args.push_back(word);
        }
    }
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    return launch;
}

void SkipStep(RunContext& context, StepResult& step, Progress& progress) {
    step.status = StepStatus::kSkip;
    step.statusMessage = context.skipReason;
    step.startTime = step.endTime = IsoNow();
    step.startPoint = std::chrono::system_clock::now();
    context.ocp.StepStart(step);
    context.ocp.StepEnd(context.run, step);
    progress.End(step);
}

// An interrupt that came during this run (a loop's earlier units had their own).
bool Interrupted(const RunContext& context) { return Interrupts() > context.interruptsBefore; }

// A prompt step: the operator's answer. No one to answer means no unit was tested, so the run
// cannot go on and no unit may be recorded as failed.
void AskOperator(RunContext& context, StepResult& step) {
    RunPrompt(OperatorPrompt(context.station->options), &step);
    step.endTime = IsoNow();
    if (step.status != StepStatus::kError) return;
    context.run.info.aborted = true;
    context.run.info.abortMessage = step.statusMessage;
    context.skipReason = Interrupted(context) ? "the run was stopped (" + InterruptName() + ")" : "the prompt had no answer";
}

// One attempt of a step: the operator's prompt, or one run of the tool in the attempt's own folder.
void RunAttempt(RunContext& context, StepResult& step, Progress& progress) {
    if (!step.plan->prompt.empty()) {
        step.startPoint = std::chrono::system_clock::now();
        step.startTime = IsoTime(step.startPoint);
        context.ocp.StepStart(step);
        progress.Start(step);
        AskOperator(context, step);
        return;
    }
    const fs::path dir = context.out / step.folder;
    std::error_code error;
    const bool made = fs::create_directory(dir, error);   // a new folder: never one put there
    step.startPoint = std::chrono::system_clock::now();
    step.startTime = IsoTime(step.startPoint);
    context.ocp.StepStart(step);
    progress.Start(step);
    RunOutcome outcome;
    if (made) {
        outcome = RunProcess(MakeLaunch(context, step), [&](double elapsed) { progress.Tick(step, elapsed); });
    } else {
        outcome.error = "cannot create the step's folder " + dir.string() + ": " +
                        (error ? error.message() : std::string("something is there already"));
    }
    step.endTime = IsoNow();
    step.seconds = outcome.seconds;
    step.exitCode = outcome.exitCode;
    step.stoppedAfterDuration = outcome.stoppedAfterDuration;
    ApplyOutcome(context, step, outcome);
}

// A step's attempts: a failed one is run again while its retries last, each recorded as it ends.
void RunStep(RunContext& context, StepResult& step, Progress& progress) {
    RunAttempts(
        &step, [&](StepResult* attempt) { RunAttempt(context, *attempt, progress); },
        [&] { return context.skipReason.empty() && !Interrupted(context); },
        [&](const StepResult& attempt) {
            context.ocp.StepEnd(context.run, attempt);
            progress.End(attempt);
        });
    if (context.skipReason.empty() && context.station->options.stopOnFail && !step.Passed()) {
        context.skipReason = "--stop-on-fail: step '" + step.plan->name + "' failed";
    }
}

void RunOrSkipStep(RunContext& context, StepResult& step, Progress& progress) {
    if (context.skipReason.empty() && Interrupted(context)) {
        context.run.info.aborted = true;
        context.run.info.abortMessage = "stopped by " + InterruptName();
        context.skipReason = "the run was stopped (" + InterruptName() + ")";
    }
    if (context.skipReason.empty()) {
        RunStep(context, step, progress);
    } else {
        SkipStep(context, step, progress);
    }
}

void DescribeRun(const Station& station, const std::string& serial, RunContext& context) {
    RunInfo& info = context.run.info;
    info.runId = context.runId;
    info.version = KELVO_VERSION;
    info.commandLine = station.commandLine;
    info.toolPath = station.tool.path;
    info.source = station.tool.source;
    info.sourceNote = station.tool.note;
    info.serial = serial;
    info.stationIdentity = station.identity;
    info.uncalibrated = station.uncalibrated;
    info.station = station.options.station;
    info.operatorName = station.options.operatorName;
    info.recorded = station.options.record;
    if (station.tool.source != "virtual") return;
    const char* scenario = std::getenv("KELVOSIM");
    const char* file = std::getenv("KELVOSIM_SCENARIO");
    if (file != nullptr && file[0] != '\0') info.scenario = std::string("KELVOSIM_SCENARIO=") + file;
    if (scenario != nullptr && scenario[0] != '\0') {
        info.scenario += (info.scenario.empty() ? "" : "; ") + std::string("KELVOSIM=") + scenario;
    }
}

// Identity, folder, the plan's copy, the OCP output's start: then the steps can run.
bool StartRun(const Station& station, const std::string& serial, RunContext& context, std::string* error) {
    context.run.plan = &station.plan;
    context.interruptsBefore = Interrupts();
    if (!NewRunId(&context.runId, error)) return false;
    DescribeRun(station, serial, context);
    if (!ClaimOutputFolder(station, context, error)) return false;
    context.run.info.outDir = context.out.string();
    std::string problem;
    if (!CreateNewFile((context.out / "plan.toml").string(), station.planText, &problem)) {
        context.writeProblems.push_back(problem);
    }
    if (!context.ocp.Open((context.out / "ocp.jsonl").string(), &problem)) {
        *error = "cannot write the OCP output: " + problem;
        return false;
    }
    InstallInterruptHandler();
    context.clock = std::chrono::steady_clock::now();
    context.run.info.startTime = IsoNow();
    for (size_t i = 0; i < station.plan.steps.size(); ++i) {
        StepResult step;
        step.plan = &station.plan.steps[i];
        step.index = i;
        step.folder = StepFolderName(i, step.plan->name);
        context.run.steps.push_back(step);
    }
    context.ocp.RunStart(context.run);
    const std::string& source = station.tool.source;
    std::printf("%s: %zu steps, %s%s\n", station.plan.name.c_str(), station.plan.steps.size(), station.tool.path.c_str(),
                source == "hardware" ? "" : source == "virtual" ? " (VIRTUAL SCANNER)" : " (REPLAY)");
    std::printf("reports in %s\n", context.out.string().c_str());
    std::fflush(stdout);
    return true;
}

// A report that could not be written makes the run "could not run": never a PASS.
void MarkIncomplete(RunContext& context, const std::string& problem) {
    if (context.run.info.aborted) return;
    context.run.info.aborted = true;
    context.run.info.abortMessage = "the reports are incomplete: " + problem;
}

void WriteReports(RunContext& context) {
    RunResult& run = context.run;
    if (!context.writeProblems.empty()) MarkIncomplete(context, std::string(context.writeProblems.front()));
    context.ocp.RunEnd(run);
    std::string problem;
    if (context.ocp.Failed()) {
        std::fprintf(stderr, "kelvotest-plan: %s/ocp.jsonl could not be written completely: %s\n",
                     context.out.string().c_str(), context.ocp.Problem().c_str());
        problem = (context.out / "ocp.jsonl").string() + ": " + context.ocp.Problem();
        MarkIncomplete(context, problem);
    }
    for (const char* name : {"junit.xml", "report.html"}) {
        const std::string content = name[0] == 'j' ? JUnitXml(run) : HtmlReport(run);
        if (WriteFileAtomically((context.out / name).string(), content, &problem)) continue;
        context.writeProblems.push_back(problem);
        MarkIncomplete(context, problem);
    }
}

SpoolSettings SpoolOf(const Options& options) { return {options.spool, options.spoolLogs, DefaultOutbox()}; }

void SayOneLine(const std::string& line) {
    if (line.empty()) return;
    std::printf("%s\n", TerminalText(line).c_str());
    std::fflush(stdout);
}

// With --spool, the runs that waited in the outbox go first, so the line gets them in order.
void SendWaitingRuns(const Station& station) {
    if (station.options.spool.empty()) return;
    SayOneLine(FlushOutbox(SpoolOf(station.options)).line);
}

// A run whose reports are complete goes to the line's spool; an incomplete one stays only in
// its folder, where its reports say why.
void PublishToSpool(const RunContext& context) {
    const Options& options = context.station->options;
    if (options.spool.empty()) return;
    if (!context.writeProblems.empty() || context.ocp.Failed()) {
        SayOneLine("spool: run " + context.run.info.runId + " NOT published: its reports are incomplete");
        return;
    }
    SayOneLine(PublishRun(context.out.string(), context.run.info.runId, SpoolOf(options)).line);
}

int FinishRun(RunContext& context) {
    RunResult& run = context.run;
    if (!run.info.aborted && Interrupted(context)) {
        run.info.aborted = true;
        run.info.abortMessage = "stopped by " + InterruptName();
    }
    run.info.endTime = IsoNow();
    run.info.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - context.clock).count();
    WriteReports(context);
    for (const std::string& problem : context.writeProblems) std::fprintf(stderr, "kelvotest-plan: cannot write %s\n", problem.c_str());
    std::fputs(ConsoleSummary(run).c_str(), stdout);
    std::fflush(stdout);
    PublishToSpool(context);
    return run.ExitCode();
}

// The run as the station's loop shows it: its verdict, and its failures beneath.
UnitVerdict VerdictOf(const RunContext& context, int exitCode) {
    UnitVerdict verdict;
    verdict.exitCode = exitCode;
    const bool interrupted = Interrupted(context);
    verdict.endShift = interrupted && InterruptName() != "Ctrl-C";
    verdict.interrupted = interrupted && !verdict.endShift;
    const RunResult& run = context.run;
    if (run.info.aborted) verdict.message = run.info.abortMessage;
    for (const StepResult& step : run.steps) {
        if (step.status == StepStatus::kError && !run.info.aborted) {
            verdict.failures.push_back(step.plan->name + ": " + step.statusMessage);
        }
        for (const Check* check : step.Failures()) verdict.failures.push_back(check->message);
    }
    return verdict;
}

}  // namespace

bool PrepareStation(Station& station, std::string* error) {
    const Options& options = station.options;
    if (!ReadPlanText(options.planPath, &station.planText, error) ||
        !ParsePlan(station.planText, options.planPath, &station.plan, error) || !CheckStepFiles(station.plan, error)) {
        *error = "plan error: " + *error;
        return false;
    }
    station.ownDir = fs::path(OwnExecutablePath()).parent_path();
    station.planDir = Absolute(fs::path(options.planPath)).parent_path();
    if (!ChooseTool(options, station.ownDir, &station.tool, error)) return false;
    if (!PrepareRecording(station, &station.recording, error)) return false;
    if (!options.replay.empty()) station.replayDir = Absolute(options.replay);
    return CheckReplay(station, error) && PrepareStationIdentity(station, error);
}

int RunPlanForOneUnit(const Station& station, const std::string& serial, UnitVerdict* verdict) {
    RunContext context;
    context.station = &station;
    SendWaitingRuns(station);
    std::string error;
    if (!StartRun(station, serial, context, &error)) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", error.c_str());
        if (verdict != nullptr) verdict->message = error;
        return 2;
    }
    Progress progress(station.plan.steps.size());
    for (StepResult& step : context.run.steps) RunOrSkipStep(context, step, progress);
    const int exitCode = FinishRun(context);
    if (verdict != nullptr) *verdict = VerdictOf(context, exitCode);
    return exitCode;
}

}  // namespace plan
