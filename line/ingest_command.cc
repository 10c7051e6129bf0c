// line/ingest_command.cc: `kelvotest-line ingest [--db URL] PATH…`: run folders, ocp.jsonl
// files, spool folders (their new/ and cur/) or folders of run folders; each run is stored in
// one transaction, the next files read on another core meanwhile (and into PostgreSQL several
// stored at once). A refused file is named with its reason; a store that fails stops the command.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "line/command_table.h"
#include "line/ingest.h"
#include "line/read_ahead.h"
#include "line/run_files.h"
#include "line/text.h"

namespace line {

int RunIngest(const Arguments& args) {
    static const OptionSpec kSpecs[] = {{"--db", true}};
    Options options;
    if (!ReadOptions("ingest", args, kSpecs, &options)) return kExitFailed;
    if (options.operands.empty()) {
        std::fprintf(stderr, "kelvotest-line ingest: name the runs to store (run folders, ocp.jsonl files, spools)\n");
        return kExitFailed;
    }
    std::vector<std::string> files;
    int refused = 0;
    for (const std::string& path : options.operands) {
        std::string error;
        if (!FindRunFiles(path, &files, &error)) {
            std::fprintf(stderr, "kelvotest-line ingest: %s\n", Shown(error).c_str());
            ++refused;
        }
    }
    std::unique_ptr<Store> store = OpenStoreOrSay("ingest", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    const std::string url = options.Get("--db", kDefaultStore);
    bool storeFailed = false;
    std::string error;
    const bool opened = StoreFiles(*store, url, std::move(files), [&](const ReadRun& next, const StoreResult& result) {
        const std::string& file = next.file;
        if (!next.read) {
            std::fprintf(stderr, "kelvotest-line ingest: refused %s\n", Shown(next.error).c_str());
            ++refused;
        } else if (result.outcome == Stored::kStoreFailed) {
            std::fprintf(stderr, "kelvotest-line ingest: cannot store %s in %s: %s; stopped, nothing of it was stored\n",
                         Shown(file).c_str(), Shown(store->name()).c_str(), Shown(result.message).c_str());
            storeFailed = true;
        } else if (result.outcome == Stored::kConflict) {
            std::fprintf(stderr, "kelvotest-line ingest: %s: %s\n", Shown(file).c_str(), Shown(result.message).c_str());
            ++refused;
        } else {
            std::printf("%s %s %s %s (%s)\n", result.outcome == Stored::kNew ? "stored" : "already stored",
                        Shown(next.run.runId).c_str(), Shown(next.run.serial.value_or("(no serial)")).c_str(),
                        next.run.result.c_str(), Shown(file).c_str());
        }
    }, &error);
    if (!opened) {
        std::fprintf(stderr, "kelvotest-line ingest: cannot open more connections to %s: %s\n", Shown(store->name()).c_str(),
                     Shown(error).c_str());
        return kExitFailed;
    }
    if (storeFailed) return kExitFailed;
    return refused > 0 ? kExitRefused : kExitDone;
}

}  // namespace line
