// The plan as read once, the run's identity, and the output folder a run claims for itself
// (kelvotest-plan(1), --out and FILES). Two runs never share a folder: a folder is made with
// mkdir, never "made if missing", and locked by a file that only one run can create.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "plan/input_file.h"
#include "plan/run_stages.h"
#include "plan/step_runner.h"

namespace plan {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLockName = "kelvotest-plan.lock";

std::string Reason(const std::error_code& error) { return error.message(); }

// Whether `dir`, which is there, can be this run's: refusals name why not.
bool CheckExistingFolder(const fs::path& dir, std::string* error) {
    std::error_code ec;
    if (fs::symlink_status(dir, ec).type() != fs::file_type::directory) {
        *error = dir.string() + " is not a folder (a link is not followed); give another --out";
        return false;
    }
    // Anything at a report's name counts, a link that points nowhere included.
    for (const char* name : {"ocp.jsonl", "junit.xml", "report.html"}) {
        if (fs::symlink_status(dir / name, ec).type() != fs::file_type::not_found) {
            *error = dir.string() + " already holds the reports of a run; give another --out";
            return false;
        }
    }
    if (fs::symlink_status(dir / kLockName, ec).type() != fs::file_type::not_found) {
        *error = dir.string() + " is in use by another run of kelvotest-plan (" + kLockName + "); give another --out";
        return false;
    }
    if (!fs::is_empty(dir, ec) || ec) {
        *error = dir.string() + " is not empty; give a new folder or an empty one as --out";
        return false;
    }
    return true;
}

// The lock: created only if it is not there, it makes the folder this run's alone.
bool Lock(const fs::path& dir, const std::string& runId, std::string* error) {
    std::string problem;
    if (CreateNewFile((dir / kLockName).string(), "runId " + runId + "\n", &problem)) return true;
    std::error_code ec;
    if (fs::symlink_status(dir / kLockName, ec).type() == fs::file_type::not_found) {
        *error = "cannot lock the output folder: " + problem;
    } else {
        *error = dir.string() + " is in use by another run of kelvotest-plan (" + kLockName + "); give another --out";
    }
    return false;
}

bool ClaimNamedFolder(const fs::path& dir, const std::string& runId, std::string* error) {
    std::error_code ec;
    if (dir.has_parent_path()) fs::create_directories(dir.parent_path(), ec);
    const bool made = fs::create_directory(dir, ec);
    if (ec && ec != std::errc::file_exists) {
        *error = "cannot create the output folder " + dir.string() + ": " + Reason(ec);
        return false;
    }
    if (!made && !CheckExistingFolder(dir, error)) return false;
    return Lock(dir, runId, error);
}

std::string DefaultFolderName(const std::string& serial) {
    std::string name = "kelvotest-plan-" + LocalTimeStamp();
    if (serial.empty()) return name;
    name += "-";
    for (const char c : serial) name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return name;
}

}  // namespace

bool ReadPlanText(const std::string& path, std::string* text, std::string* error) {
    return ReadInputFile(path, "plan", kMaxPlanBytes, "1 MiB", text, error);
}

bool NewRunId(std::string* runId, std::string* error) {
    unsigned char bytes[16];
    if (!RandomBytes(bytes, sizeof bytes, error)) return false;
    runId->clear();
    for (size_t i = 0; i < sizeof bytes; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        if (i == 4 || i == 6 || i == 8 || i == 10) *runId += '-';
        *runId += hex;
    }
    return true;
}

bool ClaimOutputFolder(const Station& station, RunContext& context, std::string* error) {
    fs::path dir;
    if (!station.options.out.empty() && !station.options.loop) {
        dir = station.options.out;
        if (!ClaimNamedFolder(dir, context.runId, error)) return false;
    } else {
        // The default name: the next free one, made and locked in one go; a loop's units
        // each get one in --out.
        const fs::path parent = station.options.loop ? fs::path(station.options.out) : fs::path();
        std::error_code made;
        if (!parent.empty() && !fs::create_directories(parent, made) && made) {
            *error = "cannot create the output folder " + parent.string() + ": " + Reason(made);
            return false;
        }
        const std::string name = (parent / DefaultFolderName(context.run.info.serial)).string();
        bool claimed = false;
        for (int n = 1; !claimed && n <= 1000; ++n) {
            dir = n == 1 ? name : name + "-" + std::to_string(n);
            std::error_code ec;
            if (!fs::create_directory(dir, ec)) {
                if (ec && ec != std::errc::file_exists) {
                    *error = "cannot create the output folder " + dir.string() + ": " + Reason(ec);
                    return false;
                }
                continue;
            }
            claimed = Lock(dir, context.runId, error);
        }
        if (!claimed) {
            if (error->empty()) *error = "no free output folder named " + name + "-N; give one with --out";
            return false;
        }
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(dir, ec);
    context.out = ec ? dir : absolute.lexically_normal();
    return true;
}

}  // namespace plan
