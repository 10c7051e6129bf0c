// plan/utf8_text.cc: the replacement follows Unicode's "maximal subpart" practice: a lead byte
// and the continuation bytes that could still have completed it become one U+FFFD.
#include "plan/utf8_text.h"

namespace plan {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

struct Lead {
    int length;                   // bytes of the whole sequence; 0: cannot start one
    unsigned char secondLow;      // the range of the byte after the lead (it excludes overlong
    unsigned char secondHigh;     // forms, surrogates and code points above U+10FFFF)
};

Lead LeadOf(unsigned char c) {
    if (c >= 0xC2 && c <= 0xDF) return {2, 0x80, 0xBF};
    if (c == 0xE0) return {3, 0xA0, 0xBF};
    if (c == 0xED) return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF) return {3, 0x80, 0xBF};
    if (c == 0xF0) return {4, 0x90, 0xBF};
    if (c >= 0xF1 && c <= 0xF3) return {4, 0x80, 0xBF};
    if (c == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += text[i++];
            continue;
        }
        const Lead lead = LeadOf(c);
        size_t end = i + 1;
        bool whole = lead.length > 0;
        for (int k = 1; whole && k < lead.length; ++k, ++end) {
            const unsigned char low = k == 1 ? lead.secondLow : 0x80;
            const unsigned char high = k == 1 ? lead.secondHigh : 0xBF;
            whole = end < text.size() && static_cast<unsigned char>(text[end]) >= low &&
                    static_cast<unsigned char>(text[end]) <= high;
            if (!whole) break;
        }
        if (whole) {
            out.append(text, i, end - i);
        } else {
            out += kReplacement;
        }
        i = end;
    }
    return out;
}

}  // namespace plan
