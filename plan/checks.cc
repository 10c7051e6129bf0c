#include "plan/checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plan {
namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string WithUnit(const Value& value, const std::string& unit) {
    return ValueText(value) + (unit.empty() ? "" : " " + unit);
}

bool Equal(const Value& a, const Value& b) {
    if (IsNumber(a) && IsNumber(b)) {
        if (std::holds_alternative<int64_t>(a) && std::holds_alternative<int64_t>(b)) {
            return std::get<int64_t>(a) == std::get<int64_t>(b);
        }
        const double x = NumberOf(a);
        const double y = NumberOf(b);
        return std::fabs(x - y) <= 1e-9 * std::max({1.0, std::fabs(x), std::fabs(y)});
    }
    return a == b;
}

// The measurement a check names, its value, unit and line taken into the check; or nullptr,
// with the check failed as missing (`wanted`: what the plan asked of it).
const Measurement* Measured(const Transcript& transcript, Check& check, const std::string& wanted) {
    const Measurement* m = transcript.Find(check.name);
    if (m == nullptr) {
        check.found = false;
        check.verdict = check.name + "-missing";
        check.message = check.name + " was not found in the transcript (" + wanted + ")";
        return nullptr;
    }
    check.value = m->value;
    check.unit = m->unit;
    check.line = m->line;
    return m;
}

}  // namespace

std::string LimitText(const Limit& limit) {
    if (limit.min && limit.max) return "[" + Number(*limit.min) + ", " + Number(*limit.max) + "]";
    if (limit.min) return ">= " + Number(*limit.min);
    return "<= " + Number(*limit.max);
}

std::string DisplayValue(const std::string& name, const Value& value, const std::string& unit) {
    std::string text = ValueText(value) + (unit.empty() ? "" : " " + unit);
    const bool hexName = name.rfind("reg.", 0) == 0 || name.rfind("eeprom.", 0) == 0 ||
                         (name.rfind("versions.", 0) == 0 && name != "versions.match") || name == "status.ls" ||
                         name == "status.led" || name == "status.ram" || name == "stream.first_error_position";
    if (hexName && std::holds_alternative<int64_t>(value)) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(std::get<int64_t>(value)));
        text = std::string(hex) + " (" + text + ")";
    }
    return text;
}

namespace {

Check ToolExitCheck(int exitCode) {
    Check exit;
    exit.name = kToolExitCheck;
    exit.value = int64_t{exitCode};
    exit.expected = int64_t{0};
    exit.passed = exitCode == 0;
    if (exit.passed) return exit;
    exit.verdict = "tool-exit";
    if (exitCode < 0) {
        exit.found = false;
        exit.value.reset();
        exit.message = "the tool did not exit by itself";
    } else if (exitCode == 1) {
        exit.message = "the tool exited 1: it refused its command line";
    } else {
        exit.message = "the tool exited " + std::to_string(exitCode) + ": the device interface did not close cleanly";
    }
    return exit;
}

Check BringUpCheck(const Transcript& transcript) {
    Check bringUp;
    bringUp.name = kBringUpCheck;
    bringUp.value = transcript.bringUpComplete;
    bringUp.expected = true;
    bringUp.passed = transcript.bringUpComplete;
    if (bringUp.passed) return bringUp;
    bringUp.verdict = "bringup-incomplete";
    std::string why = "bring-up did not complete";
    if (!transcript.errors.empty()) {
        const DeviceError& error = transcript.errors.front();
        why += ": " + error.text + (error.code ? " (" + std::to_string(*error.code) + ")" : "");
    }
    if (!transcript.interfaceOpened && transcript.errors.empty()) why += ": the interface was not opened";
    bringUp.message = why;
    return bringUp;
}

Check DeviceErrorsCheck(const Transcript& transcript) {
    Check errors;
    errors.name = "errors.count";
    errors.value = static_cast<int64_t>(transcript.errorCount);
    errors.expected = int64_t{0};
    errors.passed = transcript.errorCount == 0;
    if (errors.passed) return errors;
    const DeviceError& first = transcript.errors.front();
    errors.verdict = "device-error";
    errors.line = first.line;
    errors.message = std::to_string(transcript.errorCount) + " device error" + (transcript.errorCount == 1 ? "" : "s") +
                     ", the first: " + first.text + (first.code ? " (" + std::to_string(*first.code) + ")" : "") +
                     " at line " + std::to_string(first.line);
    return errors;
}

// Limits are inclusive at both ends; a reading that is not a finite number passes none.
Check LimitCheck(const std::string& name, const Limit& limit, const Transcript& transcript) {
    Check check;
    check.name = name;
    check.limit = limit;
    const Measurement* m = Measured(transcript, check, "limits " + LimitText(limit));
    if (m == nullptr) return check;
    if (!IsNumber(m->value)) {
        check.verdict = name + "-not-a-number";
        check.message = name + " = " + ValueText(m->value) + " is not a number";
        return check;
    }
    const double value = NumberOf(m->value);
    if (!std::isfinite(value)) {
        // NaN compares false both ways: it would slip past both bounds.
        check.verdict = name + "-not-finite";
        check.message = name + " = " + WithUnit(m->value, m->unit) + " is not a finite number (limits " + LimitText(limit) + ")";
        return check;
    }
    const bool low = limit.min && value < *limit.min;
    const bool high = limit.max && value > *limit.max;
    check.passed = !low && !high;
    if (!check.passed) {
        check.verdict = name + (low ? "-low" : "-high");
        check.message = name + " = " + WithUnit(m->value, m->unit) + (low ? ", below" : ", above") + " its limits " +
                        LimitText(limit);
    }
    return check;
}

Check ExpectCheck(const std::string& name, const Value& expected, const Transcript& transcript) {
    Check check;
    check.name = name;
    check.expected = expected;
    const Measurement* m = Measured(transcript, check, "expected " + ValueText(expected));
    if (m == nullptr) return check;
    check.passed = Equal(m->value, expected);
    if (!check.passed) {
        check.verdict = name + "-mismatch";
        std::string shown = DisplayValue(name, m->value, m->unit);
        std::string wanted = DisplayValue(name, expected, m->unit);
        if (shown.size() > 80) shown = shown.substr(0, 77) + "...";
        if (wanted.size() > 80) wanted = wanted.substr(0, 77) + "...";
        check.message = name + " = " + shown + ", expected " + wanted;
    }
    return check;
}

}  // namespace

std::vector<Check> EvaluateStep(const StepPlan& step, const Transcript& transcript, int exitCode) {
    std::vector<Check> checks{ToolExitCheck(exitCode), BringUpCheck(transcript)};
    if (!step.allowErrors) checks.push_back(DeviceErrorsCheck(transcript));
    for (const auto& [name, limit] : step.limits) checks.push_back(LimitCheck(name, limit, transcript));
    for (const auto& [name, expected] : step.expects) checks.push_back(ExpectCheck(name, expected, transcript));
    return checks;
}

}  // namespace plan
