// The tool a station runs, and the recorder in front of it (kelvotest-plan(1), --tool,
// --virtual, --record). Every path is made absolute here: each step starts in a folder of its
// own, so a path relative to the working folder would name another file there.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "plan/run_stages.h"
#include "plan/step_runner.h"

namespace plan {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr const char* kExe = ".exe";
constexpr const char* kLibrary = "kelvoscanusb.dll";
#else
constexpr const char* kExe = "";
constexpr const char* kLibrary = "libkelvoscanusb.so.1";
#endif

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error || path.empty() ? path : absolute.lexically_normal().string();
}

bool FileContains(const fs::path& path, const std::string& needle) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return data.find(needle) != std::string::npos;
}

std::string Beside(const fs::path& ownDir, const std::string& name) {
    const fs::path candidate = ownDir / name;
    return IsExecutableFile(candidate.string()) ? candidate.string() : "";
}

bool FindVirtualTool(const fs::path& ownDir, std::string* path, std::string* error) {
#if defined(_WIN32)
    *path = Beside(ownDir, "virtual\\kelvotest.exe");   // the ZIP: the copy beside the virtual scanner
#else
    *path = Beside(ownDir, "kelvotest-virtual");
#endif
    if (path->empty() && FileContains(ownDir / kLibrary, "kelvosim")) {
        *path = Beside(ownDir, std::string("kelvotest") + kExe);   // a build tree: the virtual scanner beside the tool
    }
    if (path->empty()) *path = FindOnPath("kelvotest-virtual");
    if (path->empty()) *error = "kelvotest-virtual is neither beside kelvotest-plan nor on PATH";
    return !path->empty();
}

// A tool that will load the virtual scanner all the same: a build tree's kelvotest has it
// beside itself, or the loader's path names it.
void NoteVirtualLibrary(ToolChoice* choice) {
    std::vector<fs::path> libraries;
#if !defined(_WIN32)
    if (const char* path = std::getenv("LD_LIBRARY_PATH")) {
        std::stringstream dirs(path);
        std::string dir;
        while (std::getline(dirs, dir, ':')) {
            if (!dir.empty()) libraries.push_back(fs::path(dir) / kLibrary);
        }
    }
#endif
    libraries.push_back(fs::path(choice->path).parent_path() / kLibrary);
    for (const fs::path& library : libraries) {
        if (!Exists(library)) continue;
        if (FileContains(library, "kelvosim")) {
            choice->source = "virtual";
            choice->note = "VIRTUAL SCANNER: the tool " + choice->path + " loads the virtual scanner (" + library.string() +
                           "), not a scanner's own library: these results do not come from hardware.";
        }
        break;
    }
}

}  // namespace

bool ChooseTool(const Options& options, const fs::path& ownDir, ToolChoice* choice, std::string* error) {
    const bool wantVirtual = options.virtualScanner || !options.replay.empty();
    if (!options.tool.empty()) {
        choice->path = options.tool.find_first_of("/\\") == std::string::npos ? FindOnPath(options.tool) : options.tool;
        if (choice->path.empty() || !IsExecutableFile(choice->path)) {
            *error = "the tool '" + options.tool + "' is not there or cannot be run";
            return false;
        }
    } else if (wantVirtual) {
        if (!FindVirtualTool(ownDir, &choice->path, error)) return false;
    } else {
        choice->path = Beside(ownDir, std::string("kelvotest") + kExe);
        if (choice->path.empty()) choice->path = FindOnPath(std::string("kelvotest") + kExe);
        if (choice->path.empty()) {
            *error = "kelvotest is neither beside kelvotest-plan nor on PATH (name it with --tool, or use --virtual)";
            return false;
        }
    }
    choice->path = Absolute(choice->path);
    if (!options.replay.empty()) {
        choice->source = "replay";
        choice->note = "REPLAY: these results were replayed by the virtual scanner from the recordings in " +
                       options.replay + "; they are not a new measurement of hardware.";
    } else if (wantVirtual) {
        choice->source = "virtual";
        choice->note = "VIRTUAL SCANNER: these results come from kelvotest-virtual, the simulated scanner, not from hardware.";
    } else {
        NoteVirtualLibrary(choice);
    }
    return true;
}

namespace {

std::string FindRecorder(const fs::path& ownDir) {
#if defined(_WIN32)
    for (const fs::path& candidate : {ownDir / "recorder" / "kelvotest-record.cmd", ownDir.parent_path() / "recorder" / "kelvotest-record.cmd"}) {
        if (Exists(candidate)) return candidate.string();
    }
    return "";
#else
    for (const fs::path& candidate : {ownDir / "kelvotest-record", ownDir.parent_path() / "recorder" / "kelvotest-record"}) {
        if (IsExecutableFile(candidate.string())) return candidate.string();
    }
    return FindOnPath("kelvotest-record");
#endif
}

#if !defined(_WIN32)
// The installed kelvotest-virtual is a script that puts the virtual scanner in front of the
// loader's path: the recording goes in front of that library, named by path, with the tool
// itself.
void RecordBehindTheVirtualScript(const ToolChoice& tool, Recording* recording) {
    const fs::path bin = fs::path(tool.path).parent_path();
    const fs::path lib = bin.parent_path() / "lib";
    std::vector<fs::path> candidates{lib / "kelvotest" / "virtual" / kLibrary};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(lib, error)) {
        candidates.push_back(entry.path() / "kelvotest" / "virtual" / kLibrary);
    }
    for (const fs::path& candidate : candidates) {
        if (Exists(candidate) && IsExecutableFile((bin / "kelvotest").string())) {
            recording->library = candidate.string();
            recording->tool = (bin / "kelvotest").string();
            return;
        }
    }
}
#endif

}  // namespace

bool PrepareRecording(const Station& station, Recording* recording, std::string* error) {
    recording->tool = station.tool.path;
    if (!station.options.record) return true;
    recording->recorder = Absolute(FindRecorder(station.ownDir));
    if (recording->recorder.empty()) {
        *error = "--record needs kelvotest-record, which is neither beside kelvotest-plan nor on PATH";
        return false;
    }
#if !defined(_WIN32)
    const ToolChoice& tool = station.tool;
    if (tool.source == "virtual" && fs::path(tool.path).filename() == "kelvotest-virtual") {
        RecordBehindTheVirtualScript(tool, recording);
    }
    if (tool.source == "hardware" && std::getenv("KELVOREC_LIBRARY") == nullptr &&
        !Exists(fs::path(tool.path).parent_path() / kLibrary)) {
        *error = "--record: set KELVOREC_LIBRARY to the scanner's device library (kelvotest-record records in front of it)";
        return false;
    }
#endif
    return true;
}

}  // namespace plan
