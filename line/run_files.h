// line/run_files.h: where the runs of a path are: a run folder's ocp.jsonl, an OCP file itself,
// a spool's new/ and cur/ run folders, or the run folders in a folder.
#pragma once

#include <string>
#include <vector>

namespace line {

// Appends the OCP files of `path` (sorted by name within a folder), or sets *error.
bool FindRunFiles(const std::string& path, std::vector<std::string>* files, std::string* error);

// The run folders in `folder` (its subfolders, sorted by name; links are left out).
std::vector<std::string> RunFolders(const std::string& folder);

}  // namespace line
