// line/command_table.cc: the table of subcommands, the usage text made from it, and the
// option reading every command shares.
#include "line/command_table.h"
#include "line/stats_commands.h"

#include <malloc.h>

#include <cstdio>
#include <cstring>

namespace line {

namespace {

const Command kCommands[] = {
    {"ingest", "[--db URL] PATH...", "store runs: run folders, ocp.jsonl files or spool folders", RunIngest},
    {"watch", "[--db URL] [--once] SPOOL", "store what arrives in SPOOL/new until stopped (--once: until it is empty)", RunWatch},
    {"history", "SERIAL [--db URL] [--json]", "every run of one unit, oldest first", RunHistory},
    {"runs",
     "[--db URL] [--since T] [--until T] [--plan NAME] [--station S] [--serial SN] "
     "[--result PASS|FAIL|ABORTED] [--format text|csv|json]",
     "a list of runs, for scripts and spreadsheets", RunRuns},
    {"yield", KELVO_LINE_STATS_USAGE " [--by day|shift|station|step] [--format text|csv|json]",
     "units tested, first-pass and final yield, retest rate, aborted runs", RunYield},
    {"capability", "[MEASUREMENT...] " KELVO_LINE_STATS_USAGE " [--format text|csv|json]",
     "n, mean, σ overall and within, Ppk and Cpk per measurement and limits digest, worst first", RunCapability},
    {"pareto", KELVO_LINE_STATS_USAGE " [--format text|csv|json]", "failure verdicts by units failed, with the cumulative share", RunPareto},
    {"report", KELVO_LINE_STATS_USAGE " [--by day|shift] [--out line.html]",
     "the line report: yield, Pareto, capability and stations in one HTML file (default: last 7 days)", RunReport},
};

void Usage(FILE* out) {
    std::fprintf(out, "usage: kelvotest-line COMMAND [options]\n"
                      "Stores the line's test runs (OCP output of kelvotest-plan) in SQLite or PostgreSQL\n"
                      "and answers from them.\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n           %s\n", c.name, c.usage, c.summary);
    std::fprintf(out, "  --db URL  the store: a SQLite file or sqlite:PATH (default results.db),\n"
                      "            or postgresql://... (libpq's connection strings and PG* variables)\n"
                      "  --help, --version\n"
                      "Exit status: 0 done, 1 something was refused or not found, 2 the command could not run.\n");
}

const Command* Find(const char* name) {
    for (const Command& c : kCommands) {
        if (std::strcmp(c.name, name) == 0) return &c;
    }
    return nullptr;
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }

std::string Options::Get(const std::string& name, const std::string& otherwise) const {
    const auto it = values.find(name);
    return it == values.end() ? otherwise : it->second;
}

bool ReadOptions(const char* command, const Arguments& args, std::span<const OptionSpec> specs, Options* options) {
    const Command* c = Find(command);
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "kelvotest-line %s: %s\nusage: kelvotest-line %s %s\n", command, message.c_str(), command,
                     c ? c->usage : "");
        return false;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            options->operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : specs) {
            if (arg == s.name) spec = &s;
        }
        if (spec == nullptr) return fail("unknown option " + arg);
        if (!spec->takesValue) {
            options->values[arg] = "";
        } else if (i + 1 >= args.size()) {
            return fail(arg + " needs a value");
        } else {
            options->values[arg] = args[++i];
        }
    }
    return true;
}

void KeepTheHeap() {
    // Each run's records are freed as a whole; the C library would then hand the top of the
    // heap back to the kernel and take it again for the next run, and on a virtual machine
    // each round trip flushes every CPU's TLB: a third of ingest's time.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
}

int RunLineCommand(int argc, char** argv) {
    KeepTheHeap();
    if (argc < 2) {
        Usage(stderr);
        return kExitFailed;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(stdout);
        return kExitDone;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("kelvotest-line %s\n", KELVO_LINE_VERSION);
        return kExitDone;
    }
    const Command* command = Find(argv[1]);
    if (command == nullptr) {
        std::fprintf(stderr, "kelvotest-line: unknown command '%s'\n", argv[1]);
        Usage(stderr);
        return kExitFailed;
    }
    return command->run(Arguments(argv + 2, argv + argc));
}

}  // namespace line
