// line/text.cc: escaping stored text for the terminal and CSV.
#include "line/text.h"

#include <cstdio>

namespace line {

std::string Shown(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // U+0080..U+009F arrive as C2 80..C2 9F: terminals act on them as on ESC sequences.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c1 ? static_cast<unsigned char>(text[++i]) : c);
            out += escaped;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Padded(const std::string& text, size_t width) {
    std::string out = Shown(text);
    size_t characters = 0;
    for (char c : out) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters < width) out.append(width - characters, ' ');
    return out;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::unique_ptr<Store> OpenStoreOrSay(const char* command, const std::string& url) {
    std::string error;
    std::unique_ptr<Store> store = Store::Open(url, &error);
    if (!store) std::fprintf(stderr, "kelvotest-line %s: %s\n", command, Shown(error).c_str());
    return store;
}

}  // namespace line
