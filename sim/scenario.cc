// sim/scenario.cc: reads and holds the scenario settings.
#include "sim/scenario.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace sim {

static std::map<std::string, std::string>& Settings() {
    static std::map<std::string, std::string> settings;
    return settings;
}

static bool gLoaded = false;

static std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

static void AddSettings(const std::string& text) {
    std::string line;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n' || text[i] == ';') {
            const std::string entry = Trim(line.substr(0, line.find('#')));
            line.clear();
            const size_t equals = entry.find('=');
            if (equals == std::string::npos) continue;
            Settings()[Trim(entry.substr(0, equals))] = Trim(entry.substr(equals + 1));
        } else {
            line += text[i];
        }
    }
}

static void LoadFromEnvironment() {
    Settings().clear();
    if (const char* path = std::getenv("KELVOSIM_SCENARIO")) {
        std::ifstream file(path);
        std::stringstream content;
        content << file.rdbuf();
        AddSettings(content.str());
    }
    if (const char* inlineText = std::getenv("KELVOSIM")) AddSettings(inlineText);
    gLoaded = true;
}

static const std::string* Find(const char* key) {
    if (!gLoaded) LoadFromEnvironment();
    const auto found = Settings().find(key);
    return found == Settings().end() ? nullptr : &found->second;
}

bool ScenarioHas(const char* key) { return Find(key) != nullptr; }

std::string ScenarioText(const char* key, const char* fallback) {
    const std::string* value = Find(key);
    return value != nullptr ? *value : std::string(fallback);
}

double ScenarioNumber(const char* key, double fallback) {
    const std::string* value = Find(key);
    if (value == nullptr) return fallback;
    char* end = nullptr;
    const double number = std::strtod(value->c_str(), &end);
    return end == value->c_str() ? fallback : number;
}

int64_t ScenarioInteger(const char* key, int64_t fallback) {
    const std::string* value = Find(key);
    if (value == nullptr) return fallback;
    char* end = nullptr;
    const long long number = std::strtoll(value->c_str(), &end, 0);
    return end == value->c_str() ? fallback : static_cast<int64_t>(number);
}

void ScenarioReplace(const char* text) {
    if (text == nullptr) {
        LoadFromEnvironment();
        return;
    }
    Settings().clear();
    AddSettings(text);
    gLoaded = true;
}

}  // namespace sim
