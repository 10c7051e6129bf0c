#include "plan/plan_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "plan/input_file.h"
#include "plan/serial_check.h"

// Errors are values here, not exceptions.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "device/scanner.h"

namespace plan {
namespace {

// Keeps the first error of the plan: "FILE:LINE: key 'KEY': what is wrong". Returns false, so
// that a reader can `return Fail(...)`.
struct Errors {
    std::string* message;
    bool Fail(const std::string& path, int line, const std::string& key, const std::string& what) {
        *message = path + ":" + std::to_string(line) + ": ";
        if (!key.empty()) *message += "key '" + key + "': ";
        *message += what;
        return false;
    }
};

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

std::optional<double> Number(const toml::node& node) {
    if (const auto* i = node.as_integer()) return static_cast<double>(i->get());
    if (const auto* f = node.as_floating_point()) return f->get();
    return std::nullopt;
}

// The slot of a limit's table that a key names, or nullptr.
std::optional<double>* LimitBound(Limit& limit, std::string_view key) {
    if (key == "min") return &limit.min;
    if (key == "max") return &limit.max;
    if (key == "marginal_min") return &limit.marginalMin;
    if (key == "marginal_max") return &limit.marginalMax;
    return nullptr;
}

// A marginal band lies inside its limits: each edge needs the limit on its side, and sits
// between the limits; or the plan is wrong.
const char* BandProblem(const Limit& limit) {
    if (limit.marginalMin && !limit.min) return "marginal_min needs a min";
    if (limit.marginalMax && !limit.max) return "marginal_max needs a max";
    for (const std::optional<double>& edge : {limit.marginalMin, limit.marginalMax}) {
        if (edge && ((limit.min && *edge < *limit.min) || (limit.max && *edge > *limit.max))) {
            return "the marginal band lies outside the limits";
        }
    }
    if (limit.marginalMin && limit.marginalMax && *limit.marginalMin > *limit.marginalMax) {
        return "marginal_min is above marginal_max";
    }
    return nullptr;
}

// Entries of a table in the order the file gives them (toml++ keeps them sorted by key).
std::vector<std::pair<std::string, const toml::node*>> InFileOrder(const toml::table& table) {
    std::vector<std::pair<std::string, const toml::node*>> entries;
    for (const auto& [key, node] : table) entries.emplace_back(std::string(key.str()), &node);
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const auto& sa = a.second->source().begin;
        const auto& sb = b.second->source().begin;
        return sa.line != sb.line ? sa.line < sb.line : sa.column < sb.column;
    });
    return entries;
}

// A measurement name as the parser produces it: register addresses in canonical hex, EEPROM
// IDs in lower case and EEPROM addresses in decimal without leading zeros ("eeprom.A0.007"
// is "eeprom.a0.7", as the tool prints "Adr:7").
std::string CanonicalName(const std::string& name) {
    std::string result = name;
    if (result.rfind("eeprom.", 0) == 0) {
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        const size_t dot = result.find('.', 7);
        size_t digits = dot == std::string::npos ? dot : dot + 1;
        while (digits != std::string::npos && digits + 1 < result.size() && result[digits] == '0' &&
               std::isdigit(static_cast<unsigned char>(result[digits + 1]))) {
            result.erase(digits, 1);
        }
    }
    if (result.rfind("reg.", 0) == 0) {
        const size_t dot = result.find('.', 4);
        if (dot != std::string::npos) {
            if (const auto address = CanonicalHexAddress(result.substr(dot + 1))) {
                result = result.substr(0, dot + 1) + *address;
            }
        }
    }
    return result;
}

bool Text(const toml::node& node, const std::string& path, const std::string& key, std::string* text, Errors& errors) {
    if (const auto* s = node.as_string()) {
        *text = s->get();
        return true;
    }
    if (const auto* i = node.as_integer()) {
        *text = std::to_string(i->get());
        return true;
    }
    return errors.Fail(path, LineOf(node), key, "must be a text");
}

// The loops report once a second, counted from the loop's start, which comes after bring-up:
// a measurement of their reports needs a duration that leaves room for the first one.
constexpr double kFirstReportSeconds = 2.0 * kReportIntervalMs / 1000.0;

bool FromLoopReport(const std::string& name) { return name.rfind("stream.", 0) == 0 || name.rfind("iic.", 0) == 0; }

bool CheckFirstReport(const toml::table& table, const std::string& path, const StepPlan& step, Errors& errors) {
    if (!step.duration || *step.duration >= kFirstReportSeconds) return true;
    std::string needed;
    for (const auto& [name, limit] : step.limits) {
        if (FromLoopReport(name) && needed.empty()) needed = name;
    }
    for (const auto& [name, value] : step.expects) {
        if (FromLoopReport(name) && needed.empty()) needed = name;
    }
    if (needed.empty()) return true;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", kFirstReportSeconds);
    return errors.Fail(path, LineOf(*table.get("duration")), "duration",
                       needed + " comes from the loop's once-a-second report, which a duration under " + seconds +
                           " s may never see: give the step at least " + seconds + " s");
}

bool ReadArgs(const toml::table& table, const std::string& path, const std::string& where, StepPlan& step, Errors& errors) {
    const toml::node* args = table.get("args");
    if (args == nullptr) return errors.Fail(path, step.line, "args", where + " has no args (the tool's arguments; [] for none)");
    const toml::array* list = args->as_array();
    if (list == nullptr) return errors.Fail(path, LineOf(*args), "args", "must be a list of texts, e.g. [\"-adread\", \"-trd\"]");
    for (const toml::node& word : *list) {
        if (!word.is_string()) return errors.Fail(path, LineOf(word), "args", "must be a list of texts; quote every word");
        step.args.push_back(word.as_string()->get());
    }
    step.toolArgs = ParseToolArgs(step.args);
    if (!step.toolArgs.error.empty()) return errors.Fail(path, LineOf(*args), "args", step.toolArgs.error);
    const std::string skipped = ActionSkippedByLoop(step.toolArgs);
    if (!skipped.empty()) return errors.Fail(path, LineOf(*args), "args", skipped);
    return true;
}

bool ReadTiming(const toml::table& table, const std::string& path, const std::string& where, StepPlan& step, Errors& errors) {
    if (const toml::node* duration = table.get("duration")) {
        const auto seconds = Number(*duration);
        if (!seconds || *seconds <= 0 || *seconds > 86400) {
            return errors.Fail(path, LineOf(*duration), "duration", "must be a number of seconds above 0 and at most 86400");
        }
        if (!step.toolArgs.RunsLoop()) {
            return errors.Fail(path, LineOf(*duration), "duration",
                 where + " runs no loop (-iictest, -scan, -scanfile): it ends by itself, without a duration");
        }
        step.duration = *seconds;
    } else if (step.toolArgs.RunsLoop()) {
        return errors.Fail(path, step.line, "duration", where + " runs a loop that ends only when stopped: give it a duration");
    }
    if (const toml::node* timeout = table.get("timeout")) {
        const auto seconds = Number(*timeout);
        if (!seconds || *seconds <= 0 || *seconds > 86400) {
            return errors.Fail(path, LineOf(*timeout), "timeout", "must be a number of seconds above 0 and at most 86400");
        }
        step.timeout = *seconds;
    } else if (step.duration) {
        step.timeout = *step.duration + std::max(10.0, *step.duration);
    }
    if (step.duration && step.timeout <= *step.duration) {
        return errors.Fail(path, LineOf(*table.get("timeout")), "timeout", "must be longer than the duration");
    }
    if (const toml::node* allow = table.get("allow_errors")) {
        if (!allow->is_boolean()) return errors.Fail(path, LineOf(*allow), "allow_errors", "must be true or false");
        step.allowErrors = allow->as_boolean()->get();
    }
    return true;
}

bool ReadLimits(const toml::table& table, const std::string& path, StepPlan& step, Errors& errors) {
    if (const toml::node* limits = table.get("limits")) {
        const toml::table* entries = limits->as_table();
        if (entries == nullptr) return errors.Fail(path, LineOf(*limits), "limits", "must be a table ([step.limits])");
        for (const auto& [rawKey, node] : InFileOrder(*entries)) {
            const std::string key = CanonicalName(rawKey);
            char kind = 0;
            if (!IsKnownMeasurement(key, &kind)) {
                return errors.Fail(path, LineOf(*node), rawKey, "no such measurement (see kelvotest-plan(5))");
            }
            if (kind != 'n') {
                return errors.Fail(path, LineOf(*node), rawKey, "is not a number: check it with [step.expect] instead");
            }
            Limit limit;
            if (const toml::array* pair = node->as_array()) {
                if (pair->size() != 2 || !Number(*pair->get(0)) || !Number(*pair->get(1))) {
                    return errors.Fail(path, LineOf(*node), rawKey, "a range is two numbers, [min, max]");
                }
                limit.min = Number(*pair->get(0));
                limit.max = Number(*pair->get(1));
            } else if (const toml::table* bounds = node->as_table()) {
                for (const auto& [bound, value] : *bounds) {
                    const auto number = Number(value);
                    std::optional<double>* slot = LimitBound(limit, bound.str());
                    if (slot == nullptr) {
                        return errors.Fail(path, LineOf(value), rawKey, "a bound is min, max, marginal_min or marginal_max, not '" +
                                                                            std::string(bound.str()) + "'");
                    }
                    if (!number) return errors.Fail(path, LineOf(value), rawKey, std::string(bound.str()) + " must be a number");
                    *slot = number;
                }
                if (!limit.min && !limit.max) return errors.Fail(path, LineOf(*node), rawKey, "give min, max or both");
            } else {
                return errors.Fail(path, LineOf(*node), rawKey, "a limit is [min, max], { min = ... } or { max = ... }");
            }
            // NaN compares false both ways, so a NaN bound would pass every reading; an
            // infinite one is no limit at all, and OCP's validators cannot carry it.
            if ((limit.min && !std::isfinite(*limit.min)) || (limit.max && !std::isfinite(*limit.max))) {
                return errors.Fail(path, LineOf(*node), rawKey, "a limit must be a finite number (not nan or inf)");
            }
            if (limit.min && limit.max && *limit.min > *limit.max) {
                return errors.Fail(path, LineOf(*node), rawKey, "min is above max");
            }
            if (const char* problem = BandProblem(limit)) return errors.Fail(path, LineOf(*node), rawKey, problem);
            step.limits.emplace_back(key, limit);
        }
    }
    return true;
}

bool ReadExpects(const toml::table& table, const std::string& path, StepPlan& step, Errors& errors) {
    if (const toml::node* expect = table.get("expect")) {
        const toml::table* entries = expect->as_table();
        if (entries == nullptr) return errors.Fail(path, LineOf(*expect), "expect", "must be a table ([step.expect])");
        for (const auto& [rawKey, node] : InFileOrder(*entries)) {
            const std::string key = CanonicalName(rawKey);
            char kind = 0;
            if (!IsKnownMeasurement(key, &kind)) {
                return errors.Fail(path, LineOf(*node), rawKey, "no such measurement (see kelvotest-plan(5))");
            }
            Value value;
            if (const auto* b = node->as_boolean()) {
                value = b->get();
            } else if (const auto* i = node->as_integer()) {
                value = static_cast<int64_t>(i->get());
            } else if (const auto* f = node->as_floating_point()) {
                if (!std::isfinite(f->get())) {
                    return errors.Fail(path, LineOf(*node), rawKey, "an expected number must be finite (not nan or inf)");
                }
                value = f->get();
            } else if (const auto* s = node->as_string()) {
                value = s->get();
            } else {
                return errors.Fail(path, LineOf(*node), rawKey, "an expected value is a number, true/false or a text");
            }
            const char given = std::holds_alternative<bool>(value) ? 'b' : IsNumber(value) ? 'n' : 's';
            if (given != kind) {
                static const char* const kNames[] = {"a number", "true or false", "a text"};
                const char* wanted = kind == 'n' ? kNames[0] : kind == 'b' ? kNames[1] : kNames[2];
                return errors.Fail(path, LineOf(*node), rawKey, std::string("is ") + wanted + ", so its expected value must be too");
            }
            step.expects.emplace_back(key, value);
        }
    }
    return true;
}

// An operator's prompt instead of the tool, and the retries of a failed step.
bool ReadPromptAndRetries(const toml::table& table, const std::string& path, StepPlan& step, Errors& errors) {
    const std::string where = "step '" + step.name + "'";
    if (const toml::node* prompt = table.get("prompt")) {
        if (!prompt->is_string() || prompt->as_string()->get().empty()) {
            return errors.Fail(path, LineOf(*prompt), "prompt", "must be a text that is not empty");
        }
        if (table.get("args") != nullptr) {
            return errors.Fail(path, LineOf(*prompt), "prompt", where + " is a prompt for the operator: it has no args");
        }
        for (const char* key : {"duration", "timeout", "allow_errors", "limits", "expect"}) {
            if (const toml::node* node = table.get(key)) {
                return errors.Fail(path, LineOf(*node), key, where + " is a prompt for the operator: it runs no tool");
            }
        }
        step.prompt = prompt->as_string()->get();
    }
    if (const toml::node* retries = table.get("retries")) {
        const auto* count = retries->as_integer();
        if (count == nullptr || count->get() < 0 || count->get() > 10) {
            return errors.Fail(path, LineOf(*retries), "retries", "must be a whole number from 0 to 10");
        }
        step.retries = static_cast<int>(count->get());
    }
    return true;
}

bool ReadStep(const toml::table& table, const std::string& path, std::set<std::string>& names, StepPlan& step,
              Errors& errors) {
    step.line = LineOf(table);
    static const std::set<std::string> kKeys{"name",         "args",   "duration", "timeout", "allow_errors",
                                             "limits",       "expect", "prompt",   "retries"};
    for (const auto& [key, node] : InFileOrder(table)) {
        if (kKeys.count(key) == 0) {
            return errors.Fail(path, LineOf(*node), "step." + key,
                 "unknown key (a step has name, args or prompt, duration, timeout, allow_errors, limits, expect, "
                 "retries)");
        }
    }
    const toml::node* name = table.get("name");
    if (name == nullptr) return errors.Fail(path, step.line, "step.name", "every step needs a name");
    if (!name->is_string() || name->as_string()->get().empty()) {
        return errors.Fail(path, LineOf(*name), "step.name", "must be a text that is not empty");
    }
    step.name = name->as_string()->get();
    if (!names.insert(step.name).second) {
        return errors.Fail(path, LineOf(*name), "step.name", "'" + step.name + "' names two steps; step names are unique");
    }
    const std::string where = "step '" + step.name + "'";
    if (!ReadPromptAndRetries(table, path, step, errors)) return false;
    if (!step.prompt.empty()) return true;
    return ReadArgs(table, path, where, step, errors) && ReadTiming(table, path, where, step, errors) &&
           ReadLimits(table, path, step, errors) && ReadExpects(table, path, step, errors) &&
           CheckFirstReport(table, path, step, errors);
}

}  // namespace

std::string PlanFile::Dut(const std::string& key) const {
    for (const auto& [k, v] : dut) {
        if (k == key) return v;
    }
    return "";
}

namespace {

bool ReadTexts(const toml::table& table, const std::string& path, const std::string& prefix,
               std::vector<std::pair<std::string, std::string>>& texts, Errors& errors) {
    for (const auto& [key, node] : InFileOrder(table)) {
        std::string value;
        if (!Text(*node, path, prefix + key, &value, errors)) return false;
        texts.emplace_back(key, value);
    }
    return true;
}

// [dut] has fixed keys, so that a typo ("serail") is an error instead of a unit without a
// serial; anything else a line wants to carry goes into [dut.info].
bool ReadDut(const toml::node& dut, const std::string& path, PlanFile* plan, Errors& errors) {
    const toml::table* table = dut.as_table();
    if (table == nullptr) return errors.Fail(path, LineOf(dut), "dut", "must be a table ([dut])");
    for (const auto& [key, node] : InFileOrder(*table)) {
        if (key == "info") {
            const toml::table* info = node->as_table();
            if (info == nullptr) return errors.Fail(path, LineOf(*node), "dut.info", "must be a table ([dut.info])");
            if (!ReadTexts(*info, path, "dut.info.", plan->dutInfo, errors)) return false;
        } else if (key != "part" && key != "serial" && key != "serial_pattern") {
            return errors.Fail(path, LineOf(*node), "dut." + key,
                               "unknown key ([dut] has part, serial and serial_pattern; put other keys in [dut.info])");
        } else {
            std::string value;
            if (!Text(*node, path, "dut." + key, &value, errors)) return false;
            if (key == "serial_pattern") {
                const std::string problem = SerialPatternError(value);
                if (!problem.empty()) return errors.Fail(path, LineOf(*node), "dut." + key, problem);
            }
            plan->dut.emplace_back(key, value);
        }
    }
    return true;
}

}  // namespace

bool ParsePlan(const std::string& text, const std::string& path, PlanFile* plan, std::string* error) {
    Errors errors{error};
    toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        return errors.Fail(path, static_cast<int>(parsed.error().source().begin.line), "",
                           std::string(parsed.error().description()));
    }
    const toml::table& root = parsed.table();
    *plan = PlanFile{};
    plan->path = path;
    static const std::set<std::string> kKeys{"name", "revision", "dut", "step"};
    for (const auto& [key, node] : InFileOrder(root)) {
        if (kKeys.count(key) == 0) {
            return errors.Fail(path, LineOf(*node), key, "unknown key (a plan has name, revision, [dut] and [[step]])");
        }
    }
    const toml::node* name = root.get("name");
    if (name == nullptr) return errors.Fail(path, 1, "name", "the plan needs a name");
    if (!name->is_string() || name->as_string()->get().empty()) {
        return errors.Fail(path, LineOf(*name), "name", "must be a text that is not empty");
    }
    plan->name = name->as_string()->get();
    if (const toml::node* revision = root.get("revision")) {
        if (!Text(*revision, path, "revision", &plan->revision, errors)) return false;
    }
    if (const toml::node* dut = root.get("dut")) {
        if (!ReadDut(*dut, path, plan, errors)) return false;
    }
    const toml::node* steps = root.get("step");
    if (steps == nullptr) return errors.Fail(path, 1, "step", "the plan has no steps ([[step]])");
    const toml::array* list = steps->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
        return errors.Fail(path, LineOf(*steps), "step", "steps are tables: write each as [[step]]");
    }
    std::set<std::string> names;
    for (const toml::node& node : *list) {
        StepPlan step;
        if (!ReadStep(*node.as_table(), path, names, step, errors)) return false;
        plan->steps.push_back(std::move(step));
    }
    if (plan->steps.empty()) return errors.Fail(path, LineOf(*steps), "step", "the plan has no steps");
    return true;
}

bool LoadPlan(const std::string& path, PlanFile* plan, std::string* error) {
    std::string text;
    if (!ReadInputFile(path, "plan", size_t{1} << 20, "1 MiB", &text, error)) return false;
    return ParsePlan(text, path, plan, error);
}

std::string StepFolderName(size_t index, const std::string& name) {
    char number[16];
    std::snprintf(number, sizeof number, "%02zu-", index + 1);
    std::string folder = number;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        folder += plain ? c : '_';
    }
    if (folder.size() > 64) folder.resize(64);
    return folder;
}

}  // namespace plan
