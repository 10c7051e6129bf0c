// plan/input_file.cc: the bounded read of a file named on the command line.
#include "plan/input_file.h"

#include <filesystem>
#include <fstream>

namespace plan {

namespace fs = std::filesystem;

bool ReadInputFile(const std::string& path, const char* what, size_t maxBytes, const char* limitText, std::string* text,
                   std::string* error) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) {
        *error = path + ": cannot be read: " + ec.message();
        return false;
    }
    if (status.type() == fs::file_type::directory) {
        *error = path + ": is a folder, not a " + what;
        return false;
    }
    if (status.type() != fs::file_type::regular && status.type() != fs::file_type::fifo) {
        *error = path + ": is neither a file nor a pipe";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    text->assign(maxBytes + 1, '\0');
    file.read(text->data(), static_cast<std::streamsize>(text->size()));
    if (!file && !file.eof()) {
        *error = path + ": cannot be read";
        return false;
    }
    text->resize(static_cast<size_t>(file.gcount()));
    if (text->size() > maxBytes) {
        *error = path + ": is larger than " + limitText + ", which no " + what + " is";
        return false;
    }
    return true;
}

}  // namespace plan
