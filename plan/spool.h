// plan/spool.h: publishing a finished run into a line's spool (`--spool DIR`), as a mail queue
// does: the run's files are written into DIR/tmp/<runId>/, flushed to the disk, and the folder
// is then renamed into DIR/new/<runId>/, so that a collector never sees a run half-written.
// When DIR cannot be reached, the run waits in a local outbox and is sent at the start of the
// next run (FlushOutbox) or by `kelvotest-plan --flush-spool DIR`. A run found in the spool
// already (new/, cur/ or bad/) is not published again. No database library is needed: this
// runs on every station, Windows ones included.
#pragma once

#include <string>
#include <vector>

namespace plan {

// The usage text's lines of the spool's options, for kelvotest-plan's --help.
inline constexpr const char* kSpoolUsage =
    "  --spool DIR       publish the finished run into the line's spool DIR (DIR/new/<runId>);\n"
    "                    when DIR cannot be reached the run waits in a local outbox\n"
    "  --spool-logs      with --spool: the steps' logs too\n"
    "  --flush-spool DIR send the runs waiting in the outbox to DIR, and exit\n";

struct SpoolSettings {
    std::string dir;        // the spool: must exist and hold new/ (a share that is not mounted does not)
    bool logs = false;      // --spool-logs: the steps' logs too
    std::string outbox;     // where runs wait; DefaultOutbox() unless a test says otherwise
};

struct SpoolResult {
    bool published = false;         // in DIR/new (or found there already)
    bool waiting = false;           // kept in the outbox
    std::string line;               // the one line for the console
};

// Publishes the finished run in `runFolder` under `runId` (letters, digits and '-' only).
SpoolResult PublishRun(const std::string& runFolder, const std::string& runId, const SpoolSettings& settings);

// Sends every run waiting in the outbox to settings.dir. `line` is empty when none waited.
SpoolResult FlushOutbox(const SpoolSettings& settings);

// The outbox: %LOCALAPPDATA%\kelvotest\outbox on Windows; $XDG_DATA_HOME/kelvotest/outbox,
// or ~/.local/share/kelvotest/outbox, elsewhere.
std::string DefaultOutbox();

// What a run publishes: the reports, and with logs the steps' logs (folder/file, relative).
std::vector<std::string> SpooledFiles(const std::string& runFolder, bool logs);

// The per-OS part (spool_posix.cc, spool_windows.cc): a file's or a folder's contents onto the
// disk before the rename that publishes it.
bool SyncToDisk(const std::string& path, bool folder, std::string* error);

}  // namespace plan
