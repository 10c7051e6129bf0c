// line/command_table.h: kelvotest-line's subcommands, one entry each in kCommands
// (command_table.cc), each in its own file <name>_command.cc, and the option reading they
// share. A new command is a file and a line in the table.
#pragma once

#include <map>
#include <span>
#include <string>
#include <vector>

namespace line {

// Exit status of every command: 0 done, 1 something was refused or not found, 2 the command
// could not run (its arguments, or the store).
inline constexpr int kExitDone = 0, kExitRefused = 1, kExitFailed = 2;

using Arguments = std::vector<std::string>;   // after the command's name

struct Command {
    const char* name;
    const char* usage;        // the synopsis after "kelvotest-line NAME"
    const char* summary;      // one line for the usage text
    int (*run)(const Arguments& args);
};

std::span<const Command> Commands();
int RunLineCommand(int argc, char** argv);   // main's only call
void KeepTheHeap();   // the allocator's settings of a long ingest (RunLineCommand sets them)

// Options: each known option with or without a value ("--db URL", "--json"); everything else
// that does not start with "--" is an operand. "--" ends the options.
struct OptionSpec {
    const char* name;
    bool takesValue;
};
struct Options {
    std::map<std::string, std::string> values;   // flags map to ""
    std::vector<std::string> operands;
    bool Has(const std::string& name) const { return values.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& otherwise = "") const;
};
// On a mistake prints "kelvotest-line NAME: …" and the command's usage to stderr, and returns false.
bool ReadOptions(const char* command, const Arguments& args, std::span<const OptionSpec> specs, Options* options);

// The commands (one file each).
int RunIngest(const Arguments& args);
int RunWatch(const Arguments& args);
int RunHistory(const Arguments& args);
int RunRuns(const Arguments& args);

}  // namespace line
