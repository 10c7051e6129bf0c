// plan/station_file.cc: reads station.toml.
#include "plan/station_file.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

// Errors are values here, not exceptions.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "plan/input_file.h"

namespace plan {
namespace {

struct Place {
    const std::string& path;
    std::string* error;
    bool Fail(const toml::node& node, const std::string& key, const std::string& what) {
        *error = path + ":" + std::to_string(node.source().begin.line) + ": key '" + key + "': " + what;
        return false;
    }
};

bool IsIsoDate(const std::string& text) {
    int year = 0, month = 0, day = 0;
    char end = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3) return false;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1] && (month != 2 || day <= 28 || leap);
}

// A value as the reports show it: texts as they are, dates in ISO form, numbers and
// true/false as TOML writes them.
bool AsText(const toml::node& node, std::string* text) {
    if (const auto* s = node.as_string()) {
        *text = s->get();
    } else if (const auto* d = node.as_date()) {
        char iso[16];
        std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", static_cast<int>(d->get().year),
                      static_cast<int>(d->get().month), static_cast<int>(d->get().day));
        *text = iso;
    } else if (node.is_integer() || node.is_floating_point() || node.is_boolean()) {
        std::ostringstream out;
        node.visit([&](const auto& value) { out << value; });
        *text = out.str();
    } else {
        return false;
    }
    return true;
}

bool ReadEntry(const std::string& key, const toml::node& node, Place& place, StationIdentity* station) {
    const std::string name = "station." + key;
    std::string text;
    if (!AsText(node, &text)) return place.Fail(node, name, "must be a text, a number, true/false or a date");
    if (key == "calibration_date" || key == "calibration_due") {
        if (!IsIsoDate(text)) return place.Fail(node, name, "must be a date in ISO form, e.g. 2026-06-01");
        (key == "calibration_date" ? station->calibrationDate : station->calibrationDue) = text;
    } else if (key == "fixture_id") {
        if (text.empty()) return place.Fail(node, name, "must not be empty");
        station->fixtureId = text;
    } else {
        station->keys.emplace_back(key, text);
    }
    return true;
}

}  // namespace

bool ParseStationFile(const std::string& text, const std::string& path, StationIdentity* station, std::string* error) {
    *station = StationIdentity{};
    station->file = path;
    Place place{path, error};
    toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        *error = path + ":" + std::to_string(parsed.error().source().begin.line) + ": " +
                 std::string(parsed.error().description());
        return false;
    }
    for (const auto& [key, node] : parsed.table()) {
        if (key.str() != "station") return place.Fail(node, std::string(key.str()), "unknown key (the file holds [station])");
    }
    const toml::table* table = parsed.table().get_as<toml::table>("station");
    if (table == nullptr) {
        *error = path + ":1: key 'station': the file needs a [station] table";
        return false;
    }
    std::vector<std::pair<std::string, const toml::node*>> entries;
    for (const auto& [key, node] : *table) entries.emplace_back(std::string(key.str()), &node);
    // The free keys in the order the file gives them (toml++ keeps them sorted by key).
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.second->source().begin.line < b.second->source().begin.line;
    });
    for (const auto& [key, node] : entries) {
        if (!ReadEntry(key, *node, place, station)) return false;
    }
    if (!station->calibrationDate.empty() && !station->calibrationDue.empty() &&
        station->calibrationDue < station->calibrationDate) {
        return place.Fail(*table->get("calibration_due"), "station.calibration_due", "is before calibration_date");
    }
    return true;
}

bool LoadStationFile(const std::string& path, StationIdentity* station, std::string* error) {
    std::string text;
    if (!ReadInputFile(path, "station file", 1 << 20, "1 MiB", &text, error)) return false;
    return ParseStationFile(text, path, station, error);
}

}  // namespace plan
