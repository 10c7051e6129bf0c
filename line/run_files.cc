// line/run_files.cc: finding run files under a path. Links are never followed into: a
// symbolic link in a spool is someone else's file.
#include "line/run_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace line {

namespace {

bool IsFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::vector<std::string> RunFolders(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.is_directory(ec) && !entry.is_symlink(ec)) out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool FindRunFiles(const std::string& path, std::vector<std::string>* files, std::string* error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        files->push_back(path);   // an OCP file, or what ReadOcpRun refuses with its reason
        return true;
    }
    if (Exists(path + "/ocp.jsonl")) {
        files->push_back(path + "/ocp.jsonl");
        return true;
    }
    std::vector<std::string> folders;
    if (IsFolder(path + "/new")) {
        for (const char* part : {"/cur", "/new"}) {
            for (const std::string& run : RunFolders(path + part)) folders.push_back(run);
        }
    } else {
        folders = RunFolders(path);
    }
    size_t found = 0;
    for (const std::string& folder : folders) {
        if (Exists(folder + "/ocp.jsonl")) {
            files->push_back(folder + "/ocp.jsonl");
            ++found;
        }
    }
    if (found == 0) {
        *error = path + ": holds no run (no ocp.jsonl, no run folders, no spool)";
        return false;
    }
    return true;
}

}  // namespace line
