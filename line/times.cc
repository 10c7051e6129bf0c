// line/times.cc: parsing and writing the store's time stamps, with the civil calendar of
// <chrono> (no time zone database: every stored time is UTC).
#include "line/times.h"

#include <chrono>
#include <cstdio>
#include <regex>

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

// Date, time (optional), fraction (optional), zone (optional): the groups of kTime.
const std::regex kTime(R"(^(\d{4})-(\d{2})-(\d{2})(?:[T t](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,9}))?)?)?)"
                       R"(([Zz]|[+-]\d{2}:\d{2})?$)");

std::optional<std::string> Parse(const std::string& text, bool needTime) {
    std::smatch m;
    if (!std::regex_match(text, m, kTime)) return std::nullopt;
    if (needTime && (!m[4].matched || !m[6].matched || !m[8].matched)) return std::nullopt;
    const year_month_day ymd{year{std::stoi(m[1])}, month{static_cast<unsigned>(std::stoi(m[2]))},
                             day{static_cast<unsigned>(std::stoi(m[3]))}};
    if (!ymd.ok()) return std::nullopt;
    const int h = m[4].matched ? std::stoi(m[4]) : 0, min = m[5].matched ? std::stoi(m[5]) : 0;
    const int s = m[6].matched ? std::stoi(m[6]) : 0;
    if (h > 23 || min > 59 || s > 60) return std::nullopt;
    int ms = 0;
    if (m[7].matched) ms = std::stoi((m[7].str() + "00").substr(0, 3));
    sys_time<milliseconds> t = sys_days{ymd} + hours{h} + minutes{min} + seconds{s} + milliseconds{ms};
    const std::string zone = m[8];
    if (zone.size() == 6) {
        const minutes offset = hours{std::stoi(zone.substr(1, 2))} + minutes{std::stoi(zone.substr(4, 2))};
        t += zone[0] == '+' ? -offset : offset;
    }
    return Format(t);
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
