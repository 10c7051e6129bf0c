#include "plan/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace plan {
namespace {

// The length of the UTF-8 sequence at `at` and its code point; 0: not a valid sequence.
size_t Decode(const std::string& text, size_t at, uint32_t* code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

unsigned Columns(uint32_t c) {
    if ((c >= 0x300 && c <= 0x36F) || c == 0x200B || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

std::string TerminalText(const std::string& text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = Decode(text, at, &code);
        if (length == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F)) {
            // An escape per byte: what the bytes are stays readable.
            for (size_t i = 0; i < (length == 0 ? 1 : length); ++i) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at + i]));
                shown += escape;
            }
            at += length == 0 ? 1 : length;
            continue;
        }
        shown.append(text, at, length);
        at += length;
    }
    return shown;
}

size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = Decode(text, at, &code);
        width += length == 0 ? 1 : Columns(code);
        at += length == 0 ? 1 : length;
    }
    return width;
}

std::string PadToWidth(const std::string& text, size_t width) {
    std::string cut;
    size_t used = 0;
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        size_t length = Decode(text, at, &code);
        const size_t columns = length == 0 ? 1 : Columns(code);
        length = length == 0 ? 1 : length;
        if (used + columns > width) break;
        cut.append(text, at, length);
        used += columns;
        at += length;
    }
    return cut + std::string(width - used, ' ');
}

}  // namespace plan
