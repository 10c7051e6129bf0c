// tests/support/temp_files.h: a scratch folder per test, removed with everything in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to a file in the folder and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string WriteText(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
std::vector<uint8_t> DistinctBytes(size_t count);   // byte i = (i * 7 + 3) mod 251: no two neighbours alike
