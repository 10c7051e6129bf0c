// tests/support/command_line.h: a command line as the tool's entry point gets it: the
// program's name as word 0, the given words after it, and the closing null pointer.
#pragma once

#include <string>
#include <vector>

class CommandLine {
public:
    explicit CommandLine(std::vector<std::string> words) : words_(std::move(words)) {
        words_.insert(words_.begin(), "kelvotest");
        for (std::string& word : words_) argv_.push_back(word.data());
        argv_.push_back(nullptr);
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    int Count() const { return static_cast<int>(words_.size()); }
    char** Vector() { return argv_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> argv_;
};
