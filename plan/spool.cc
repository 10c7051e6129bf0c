// plan/spool.cc: publishing a run into the spool or the outbox, and sending the outbox on.
// Every copy is made in a tmp/ folder first and renamed into new/ only when whole and on the
// disk; a copy in the outbox is removed only once the spool holds the run.
#include "plan/spool.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace plan {

namespace fs = std::filesystem;

namespace {

const char* const kReports[] = {"ocp.jsonl", "plan.toml", "junit.xml", "report.html"};
const char* const kStepLogs[] = {"stdout.txt", "stderr.txt", "kelvotest.log"};

bool ValidRunId(const std::string& id) {
    return !id.empty() && id.size() <= 64 &&
           std::all_of(id.begin(), id.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; });
}

bool IsRegular(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}
bool IsFolder(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::directory;
}

bool CopyOne(const fs::path& from, const fs::path& to, std::string* error) {
    FILE* in = std::fopen(from.string().c_str(), "rb");
    if (in == nullptr) {
        *error = from.string() + ": " + std::strerror(errno);
        return false;
    }
    FILE* out = std::fopen(to.string().c_str(), "wb");
    if (out == nullptr) {
        *error = to.string() + ": " + std::strerror(errno);
        std::fclose(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (size_t got; ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) ok = std::fwrite(buffer, 1, got, out) == got;
    ok = ok && !std::ferror(in);
    if (std::fclose(out) != 0) ok = false;
    std::fclose(in);
    if (!ok) *error = "cannot write " + to.string() + ": " + std::strerror(errno);
    return ok && SyncToDisk(to.string(), false, error);
}

// Copies the run's files into `staging` (made afresh) and flushes them to the disk.
bool Stage(const fs::path& runFolder, const std::vector<std::string>& files, const fs::path& staging, std::string* error) {
    std::error_code ec;
    fs::remove_all(staging, ec);   // a copy left by an attempt that died half-way
    if (!fs::create_directories(staging, ec)) {
        *error = "cannot make " + staging.string() + ": " + ec.message();
        return false;
    }
    for (const std::string& file : files) {
        const fs::path target = staging / fs::path(file);
        if (target.parent_path() != staging && !IsFolder(target.parent_path())) {
            if (!fs::create_directory(target.parent_path(), ec)) {
                *error = "cannot make " + target.parent_path().string() + ": " + ec.message();
                return false;
            }
        }
        if (!CopyOne(runFolder / fs::path(file), target, error)) return false;
    }
    for (const auto& entry : fs::directory_iterator(staging, ec)) {
        if (entry.is_directory(ec) && !SyncToDisk(entry.path().string(), true, error)) return false;
    }
    return SyncToDisk(staging.string(), true, error);
}

bool AlreadyIn(const fs::path& queue, const std::string& runId) {
    return IsFolder(queue / "new" / runId) || IsFolder(queue / "cur" / runId) || IsFolder(queue / "bad" / runId);
}

// Puts the run into queue/new/<runId>: staged in queue/tmp, then renamed. A run that the
// queue holds already is left as it is.
bool Enqueue(const fs::path& runFolder, const std::string& runId, const std::vector<std::string>& files,
             const fs::path& queue, std::string* error) {
    if (AlreadyIn(queue, runId)) return true;
    std::error_code ec;
    fs::create_directory(queue / "tmp", ec);
    const fs::path staging = queue / "tmp" / runId;
    if (!Stage(runFolder, files, staging, error)) {
        fs::remove_all(staging, ec);
        return false;
    }
    fs::rename(staging, queue / "new" / runId, ec);
    if (ec) {
        *error = "cannot rename " + staging.string() + " into " + (queue / "new").string() + ": " + ec.message();
        fs::remove_all(staging, ec);
        return false;
    }
    return SyncToDisk((queue / "new").string(), true, error);
}

// Whether the spool can take a run: a folder that holds new/.
bool Reachable(const std::string& dir, std::string* error) {
    if (!IsFolder(dir)) {
        *error = dir + " is not a folder that can be reached";
        return false;
    }
    if (!IsFolder(fs::path(dir) / "new")) {
        *error = dir + " holds no new/ folder (is the share mounted? kelvotest-line watch makes it)";
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> SpooledFiles(const std::string& runFolder, bool logs) {
    std::vector<std::string> files;
    for (const char* report : kReports) {
        if (IsRegular(fs::path(runFolder) / report)) files.push_back(report);
    }
    if (!logs) return files;
    std::error_code ec;
    std::vector<std::string> steps;
    for (const auto& entry : fs::directory_iterator(runFolder, ec)) {
        if (IsFolder(entry.path())) steps.push_back(entry.path().filename().string());
    }
    std::sort(steps.begin(), steps.end());
    for (const std::string& step : steps) {
        for (const char* log : kStepLogs) {
            if (IsRegular(fs::path(runFolder) / step / log)) files.push_back((fs::path(step) / log).generic_string());
        }
    }
    return files;
}

SpoolResult PublishRun(const std::string& runFolder, const std::string& runId, const SpoolSettings& settings) {
    SpoolResult result;
    if (!ValidRunId(runId) || !IsRegular(fs::path(runFolder) / "ocp.jsonl")) {
        result.line = "spool: nothing published: the run has no run id or no ocp.jsonl";
        return result;
    }
    const std::vector<std::string> files = SpooledFiles(runFolder, settings.logs);
    std::string why;
    if (Reachable(settings.dir, &why) && Enqueue(runFolder, runId, files, settings.dir, &why)) {
        result.published = true;
        result.line = "spool: run " + runId + " published to " + (fs::path(settings.dir) / "new" / runId).string();
        return result;
    }
    std::string outboxWhy;
    std::error_code ec;
    fs::create_directories(fs::path(settings.outbox) / "new", ec);
    if (Enqueue(runFolder, runId, files, settings.outbox, &outboxWhy)) {
        result.waiting = true;
        result.line = "spool: " + why + "; run " + runId + " waits in the outbox " + settings.outbox +
                      " (sent at the next run, or by --flush-spool " + settings.dir + ")";
        return result;
    }
    result.line = "spool: run " + runId + " NOT published: " + why + ", and the outbox failed: " + outboxWhy +
                  "; its reports stay in " + runFolder;
    return result;
}

SpoolResult FlushOutbox(const SpoolSettings& settings) {
    SpoolResult result;
    std::error_code ec;
    std::vector<fs::path> waiting;
    for (const auto& entry : fs::directory_iterator(fs::path(settings.outbox) / "new", ec)) {
        if (IsFolder(entry.path())) waiting.push_back(entry.path());
    }
    if (waiting.empty()) {
        result.published = true;
        return result;
    }
    std::sort(waiting.begin(), waiting.end());
    std::string why;
    size_t sent = 0;
    if (Reachable(settings.dir, &why)) {
        for (const fs::path& run : waiting) {
            const std::string runId = run.filename().string();
            if (!Enqueue(run, runId, SpooledFiles(run.string(), true), settings.dir, &why)) break;
            fs::remove_all(run, ec);   // only now: the spool holds it
            ++sent;
        }
    }
    const size_t left = waiting.size() - sent;
    result.published = left == 0;
    result.waiting = left > 0;
    result.line = "spool: sent " + std::to_string(sent) + " waiting run" + (sent == 1 ? "" : "s") + " from the outbox to " +
                  settings.dir;
    if (left > 0) result.line += "; " + std::to_string(left) + " still wait in " + settings.outbox + " (" + why + ")";
    return result;
}

}  // namespace plan
