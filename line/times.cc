// line/times.cc: parsing and writing the store's time stamps, with the civil calendar of
// <chrono> (no time zone database: every stored time is UTC).
#include "line/times.h"

#include <chrono>
#include <cstdio>
#include <regex>   // the spans of --since and --until

namespace line {

namespace {

using namespace std::chrono;

std::string Format(sys_time<milliseconds> t) {
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{t - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

// Reads `count` digits at text[at] into *value.
bool Digits(const std::string& text, size_t at, size_t count, int* value) {
    if (at + count > text.size()) return false;
    *value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD" then, optionally, [T t space]"HH:MM" [":SS" [".fraction"]], then an optional
// zone (Z or +HH:MM); with needTime, the seconds and the zone are required (RFC 3339). By
// hand, not with <regex>: ingest reads a time stamp from every line of a run.
std::optional<std::string> Parse(const std::string& text, bool needTime) {
    int y = 0, mo = 0, d = 0, h = 0, min = 0, s = 0, ms = 0;
    if (!Digits(text, 0, 4, &y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, &mo) || text[7] != '-' ||
        !Digits(text, 8, 2, &d)) {
        return std::nullopt;
    }
    size_t at = 10;
    bool haveSeconds = false, haveZone = false;
    if (at < text.size() && (text[at] == 'T' || text[at] == 't' || text[at] == ' ')) {
        if (!Digits(text, at + 1, 2, &h) || text.size() < at + 6 || text[at + 3] != ':' || !Digits(text, at + 4, 2, &min)) {
            return std::nullopt;
        }
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!Digits(text, at + 1, 2, &s)) return std::nullopt;
            haveSeconds = true;
            at += 3;
            if (at < text.size() && text[at] == '.') {
                const size_t first = ++at;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
                    if (at - first < 3) ms = ms * 10 + (text[at] - '0');
                }
                if (at == first || at - first > 9) return std::nullopt;
                for (size_t n = at - first; n < 3; ++n) ms *= 10;
            }
        }
    }
    minutes offset{0};
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
        haveZone = true;
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        int oh = 0, om = 0;
        if (text.size() != at + 6 || !Digits(text, at + 1, 2, &oh) || text[at + 3] != ':' || !Digits(text, at + 4, 2, &om)) {
            return std::nullopt;
        }
        offset = (text[at] == '+' ? 1 : -1) * (hours{oh} + minutes{om});
        haveZone = true;
        at += 6;
    }
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (at != text.size() || !ymd.ok() || h > 23 || min > 59 || s > 60 || (needTime && (!haveSeconds || !haveZone))) {
        return std::nullopt;
    }
    // Already in the stored form, as kelvotest-plan writes every line's time: kept as it is,
    // without the round trip through the calendar.
    if (offset == minutes{0} && s < 60 && text.size() == 24 && text[10] == 'T' && text[19] == '.' && text[23] == 'Z') {
        return text;
    }
    return Format(sys_days{ymd} + hours{h} + minutes{min} + seconds{s} + milliseconds{ms} - offset);
}

}  // namespace

std::string NowUtc() { return Format(floor<milliseconds>(system_clock::now())); }

std::optional<std::string> NormaliseTimestamp(const std::string& text) { return Parse(text, true); }

std::optional<std::string> ParseTimeArgument(const std::string& text) {
    static const std::regex kSpan(R"(^(\d{1,6})([mhd])$)");
    std::smatch m;
    if (std::regex_match(text, m, kSpan)) {
        const long long n = std::stoll(m[1]);
        const minutes span = m[2] == "m" ? minutes{n} : m[2] == "h" ? hours{n} : days{n};
        return Format(floor<milliseconds>(system_clock::now()) - span);
    }
    return Parse(text, false);
}

}  // namespace line
