// plan/limits_digest.cc: the canonical form behind the limits digest. Steps and arguments keep
// their order (it changes what runs); limits and expectations are sorted by name within a step
// (their order in the file changes nothing). Numbers are written in their shortest form that
// reads back to the same double, so 3.2, 3.20 and 3.2e0 give one digest.
#include "plan/limits_digest.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

#include "plan/sha256.h"

namespace plan {
namespace {

std::string Quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string ValueForm(const Value& value) {
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    if (const int64_t* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
    if (const double* d = std::get_if<double>(&value)) return Number(*d);
    return Quoted(std::get<std::string>(value));
}

std::string LimitForm(const std::string& name, const Limit& limit) {
    std::string line = "limit " + Quoted(name);
    const std::pair<const char*, const std::optional<double>*> bounds[] = {
        {"min", &limit.min}, {"max", &limit.max}, {"marginal_min", &limit.marginalMin}, {"marginal_max", &limit.marginalMax}};
    for (const auto& [key, bound] : bounds) {
        if (*bound) line += std::string(" ") + key + "=" + Number(**bound);
    }
    return line + "\n";
}

template <typename Entry>
std::vector<Entry> ByName(std::vector<Entry> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return entries;
}

}  // namespace

std::string LimitsCanonicalForm(const PlanFile& plan) {
    std::string form = "kelvotest-plan limits 1\n";
    for (const StepPlan& step : plan.steps) {
        form += "step " + Quoted(step.name) + "\n";
        for (const std::string& arg : step.args) form += "arg " + Quoted(arg) + "\n";
        if (step.duration) form += "duration " + Number(*step.duration) + "\n";
        form += std::string("allow_errors ") + (step.allowErrors ? "true" : "false") + "\n";
        for (const auto& [name, limit] : ByName(step.limits)) form += LimitForm(name, limit);
        for (const auto& [name, value] : ByName(step.expects)) form += "expect " + Quoted(name) + " " + ValueForm(value) + "\n";
    }
    return form;
}

std::string LimitsDigest(const PlanFile& plan) { return "sha256:" + Sha256Hex(LimitsCanonicalForm(plan)); }

}  // namespace plan
