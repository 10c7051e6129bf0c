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

std::vector<Check> EvaluateStep(const StepPlan& step, const Transcript& transcript, int exitCode) {
    std::vector<Check> checks;

    Check exit;
    exit.name = kToolExitCheck;
    exit.value = int64_t{exitCode};
    exit.expected = int64_t{0};
    exit.passed = exitCode == 0;
    if (!exit.passed) {
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
    }
    checks.push_back(exit);

    Check bringUp;
    bringUp.name = kBringUpCheck;
    bringUp.value = transcript.bringUpComplete;
    bringUp.expected = true;
    bringUp.passed = transcript.bringUpComplete;
    if (!bringUp.passed) {
        bringUp.verdict = "bringup-incomplete";
        std::string why = "bring-up did not complete";
        for (const DeviceError& error : transcript.errors) {
            why += ": " + error.text + (error.code ? " (" + std::to_string(*error.code) + ")" : "");
            break;
        }
        if (!transcript.interfaceOpened && transcript.errors.empty()) why += ": the interface was not opened";
        bringUp.message = why;
    }
    checks.push_back(bringUp);

    if (!step.allowErrors) {
        Check errors;
        errors.name = "errors.count";
        errors.value = static_cast<int64_t>(transcript.errorCount);
        errors.expected = int64_t{0};
        errors.passed = transcript.errorCount == 0;
        if (!errors.passed) {
            const DeviceError& first = transcript.errors.front();
            errors.verdict = "device-error";
            errors.line = first.line;
            errors.message = std::to_string(transcript.errorCount) + " device error" +
                             (transcript.errorCount == 1 ? "" : "s") + ", the first: " + first.text +
                             (first.code ? " (" + std::to_string(*first.code) + ")" : "") + " at line " +
                             std::to_string(first.line);
        }
        checks.push_back(errors);
    }

    for (const auto& [name, limit] : step.limits) {
        Check check;
        check.name = name;
        check.limit = limit;
        const Measurement* m = Measured(transcript, check, "limits " + LimitText(limit));
        if (m == nullptr) {
            checks.push_back(check);
            continue;
        }
        if (!IsNumber(m->value)) {
            check.verdict = name + "-not-a-number";
            check.message = name + " = " + ValueText(m->value) + " is not a number";
            checks.push_back(check);
            continue;
        }
        const double value = NumberOf(m->value);
        if (!std::isfinite(value)) {
            // No limit holds a value that is not a number: NaN would slip past both bounds.
            check.verdict = name + "-not-finite";
            check.message = name + " = " + WithUnit(m->value, m->unit) + " is not a finite number (limits " + LimitText(limit) + ")";
            checks.push_back(check);
            continue;
        }
        const bool low = limit.min && value < *limit.min;
        const bool high = limit.max && value > *limit.max;
        check.passed = !low && !high;
        if (!check.passed) {
            check.verdict = name + (low ? "-low" : "-high");
            check.message = name + " = " + WithUnit(m->value, m->unit) + (low ? ", below" : ", above") +
                            " its limits " + LimitText(limit);
        }
        checks.push_back(check);
    }

    for (const auto& [name, expected] : step.expects) {
        Check check;
        check.name = name;
        check.expected = expected;
        const Measurement* m = Measured(transcript, check, "expected " + ValueText(expected));
        if (m == nullptr) {
            checks.push_back(check);
            continue;
        }
        check.passed = Equal(m->value, expected);
        if (!check.passed) {
            check.verdict = name + "-mismatch";
            std::string shown = DisplayValue(name, m->value, m->unit);
            std::string wanted = DisplayValue(name, expected, m->unit);
            if (shown.size() > 80) shown = shown.substr(0, 77) + "...";
            if (wanted.size() > 80) wanted = wanted.substr(0, 77) + "...";
            check.message = name + " = " + shown + ", expected " + wanted;
        }
        checks.push_back(check);
    }
    return checks;
}

}  // namespace plan
