// fuzz/option_parser_fuzz.cc: the command-line parser over the real option table. The input
// is split into words at NUL bytes. Whatever the words, the parse must stay inside its
// buffers, every file name must stay terminated within its buffer, and a returned word must
// be one of the words given (or the name inside one).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/option_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"kelvotest"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    ResetOptionTargets();
    const char* stop = ParseCommandLine(static_cast<int>(words.size()), argv.data(), kOptionTable);
    if (stop != nullptr) {
        bool inside = false;
        for (size_t i = 1; i < words.size(); ++i) {
            inside = inside || stop == argv[i] || stop == argv[i] + 1;
        }
        if (!inside) std::abort();
    }
    for (const char* name : {gBootFilename, gFpgaFilename, gScanFilename}) {
        if (std::memchr(name, '\0', kFileNameBytes) == nullptr) std::abort();
    }
    return 0;
}
