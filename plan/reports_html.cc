// The HTML report: one self-contained file, no script, nothing fetched. The verdict in large
// type, a banner when the results did not come from hardware, the steps, an inline SVG plot
// of each stream's throughput with its first-error positions, the rails against their limit
// bands, and every measurement with its limits, failures first.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plan/checks.h"
#include "plan/limits_digest.h"
#include "plan/number_text.h"
#include "plan/reports.h"

namespace plan {
namespace {

std::string Fmt(const char* format, double value) { return plan::NumberText(format, value); }

std::string H(const std::string& text) { return XmlEscape(text); }

// A rate in bytes per second, shortly: "40.1 MB/s".
std::string Rate(double rate) {
    if (rate >= 1e9) return Fmt("%.2f GB/s", rate / 1e9);
    if (rate >= 1e6) return Fmt("%.1f MB/s", rate / 1e6);
    if (rate >= 1e3) return Fmt("%.1f kB/s", rate / 1e3);
    return Fmt("%.0f B/s", rate);
}

const Check* CheckOf(const StepResult& step, const std::string& name) {
    for (const Check& check : step.checks) {
        if (check.name == name && check.limit) return &check;
    }
    return nullptr;
}

// The y axis of a rate: its top and its step, the step 1, 2 or 5 times a power of ten, so
// that the ticks fall on values a technician reads at a glance (0, 10, 20 ... 50 MB/s).
struct RateAxis {
    double top;
    double step;
};

RateAxis NiceRateAxis(double highest) {
    const double rough = std::max(highest, 1.0) / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10 * power;
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough) {
            step = factor * power;
            break;
        }
    }
    return {std::ceil(highest / step - 1e-9) * step, step};
}

// A tick label in the unit of the axis's top, with a decimal only when the step needs one.
std::string RateTick(double rate, const RateAxis& axis) {
    const double unit = axis.top >= 1e9 ? 1e9 : axis.top >= 1e6 ? 1e6 : axis.top >= 1e3 ? 1e3 : 1;
    const char* name = unit == 1e9 ? "GB/s" : unit == 1e6 ? "MB/s" : unit == 1e3 ? "kB/s" : "B/s";
    const bool whole = std::fabs(axis.step / unit - std::round(axis.step / unit)) < 1e-9;
    return Fmt(whole ? "%.0f" : "%.1f", rate / unit) + " " + name;
}

struct PlotArea {
    double left, top, width, height, maxSeconds;
    RateAxis axis;
    double X(double seconds) const { return left + width * seconds / maxSeconds; }
    double Y(double rate) const { return top + height * (1 - rate / axis.top); }
};

std::string PlotAxes(const PlotArea& a) {
    std::string svg = "<rect x=\"" + Fmt("%.1f", a.left) + "\" y=\"" + Fmt("%.1f", a.top) + "\" width=\"" +
                      Fmt("%.1f", a.width) + "\" height=\"" + Fmt("%.1f", a.height) + "\" fill=\"#fafafa\" stroke=\"#999\"/>\n";
    for (double r = 0; r <= a.axis.top + a.axis.step / 2; r += a.axis.step) {
        svg += "<line x1=\"" + Fmt("%.1f", a.left) + "\" x2=\"" + Fmt("%.1f", a.left + a.width) + "\" y1=\"" +
               Fmt("%.1f", a.Y(r)) + "\" y2=\"" + Fmt("%.1f", a.Y(r)) + "\" stroke=\"#e0e0e0\"/>\n";
        svg += "<text class=\"y-tick\" x=\"" + Fmt("%.1f", a.left - 6) + "\" y=\"" + Fmt("%.1f", a.Y(r) + 4) +
               "\" text-anchor=\"end\" font-size=\"11\">" + H(RateTick(r, a.axis)) + "</text>\n";
    }
    const double tick = std::max(1.0, std::ceil(a.maxSeconds / 8));
    for (double s = 0; s <= a.maxSeconds + 1e-9; s += tick) {
        svg += "<text x=\"" + Fmt("%.1f", a.X(s)) + "\" y=\"" + Fmt("%.1f", a.top + a.height + 16) +
               "\" text-anchor=\"middle\" font-size=\"11\">" + Fmt("%.0f s", s) + "</text>\n";
    }
    svg += "<text x=\"" + Fmt("%.1f", a.left + a.width / 2) + "\" y=\"" + Fmt("%.1f", a.top + a.height + 36) +
           "\" text-anchor=\"middle\" font-size=\"12\">time since the stream started</text>\n";
    return svg;
}

std::string PlotMarks(const PlotArea& a, const StepResult& step, const Check* limit) {
    std::string svg;
    if (limit && limit->limit->min) {
        const double y = a.Y(*limit->limit->min);
        svg += "<line class=\"limit\" x1=\"" + Fmt("%.1f", a.left) + "\" x2=\"" + Fmt("%.1f", a.left + a.width) + "\" y1=\"" +
               Fmt("%.1f", y) + "\" y2=\"" + Fmt("%.1f", y) + "\" stroke=\"#c62828\" stroke-dasharray=\"6 4\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", a.left + a.width - 4) + "\" y=\"" + Fmt("%.1f", y + 14) +
               "\" text-anchor=\"end\" font-size=\"11\" fill=\"#c62828\">stream.rate min " + H(Rate(*limit->limit->min)) +
               " (average)</text>\n";
    }
    for (const ThroughputReport& r : step.transcript.throughput) {
        if (!r.firstErrorPosition) continue;
        const double px = a.X(r.seconds);
        char label[64];
        std::snprintf(label, sizeof label, "error at byte 0x%llx", static_cast<unsigned long long>(*r.firstErrorPosition));
        svg += "<line class=\"first-error\" x1=\"" + Fmt("%.1f", px) + "\" x2=\"" + Fmt("%.1f", px) + "\" y1=\"" +
               Fmt("%.1f", a.top) + "\" y2=\"" + Fmt("%.1f", a.top + a.height) + "\" stroke=\"#c62828\" stroke-width=\"2\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", px + 3) + "\" y=\"" + Fmt("%.1f", a.top + 12) +
               "\" font-size=\"11\" fill=\"#c62828\">" + label + "</text>\n";
    }
    return svg;
}

std::string ThroughputPlot(const StepResult& step, int number) {
    const auto& reports = step.transcript.throughput;
    const double width = 760, height = 280;
    const Check* limit = CheckOf(step, "stream.rate");
    double highest = 1;
    for (const ThroughputReport& r : reports) highest = std::max(highest, r.intervalRate);
    if (limit && limit->limit->min) highest = std::max(highest, *limit->limit->min);
    const double maxSeconds = std::max(1.0, reports.empty() ? 1.0 : std::ceil(reports.back().seconds));
    const PlotArea area{80, 20, width - 80 - 20, height - 20 - 40, maxSeconds, NiceRateAxis(highest * 1.05)};

    std::string svg = "<svg class=\"plot\" id=\"throughput-" + std::to_string(number) + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      Fmt("%.0f", width) + "\" height=\"" + Fmt("%.0f", height) + "\" viewBox=\"0 0 " + Fmt("%.0f", width) +
                      " " + Fmt("%.0f", height) + "\" role=\"img\" aria-label=\"Throughput of step " + H(step.plan->name) +
                      "\">\n";
    svg += PlotAxes(area) + PlotMarks(area, step, limit);
    std::string polyline;
    std::string circles;
    for (const ThroughputReport& r : reports) {
        const std::string x = Fmt("%.1f", area.X(r.seconds)), y = Fmt("%.1f", area.Y(r.intervalRate));
        polyline += x + "," + y + " ";
        circles += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"3\" fill=\"#1565c0\"/>\n";
    }
    svg += "<polyline class=\"series\" points=\"" + polyline + "\" fill=\"none\" stroke=\"#1565c0\" stroke-width=\"2\"/>\n";
    return svg + circles + "</svg>\n";
}

struct Rail {
    std::string step;
    const Check* check;
};

// A rail's label: its name in full, then the step's name, shortened with an ellipsis when the
// row has no room for it (the measurements table below has it whole).
std::string RailLabel(const Rail& rail) {
    constexpr size_t kRoom = 100;   // characters of 13 px type across the plot
    std::string label = rail.check->name + " (" + rail.step + ")";
    if (label.size() > kRoom) {
        const size_t keep = kRoom > rail.check->name.size() + 4 ? kRoom - rail.check->name.size() - 4 : 0;
        label = rail.check->name + " (" + rail.step.substr(0, keep) + "\xE2\x80\xA6)";
    }
    return label;
}

// One row: the label on a line of its own above the bar, so that no name is ever cut off
// at the plot's edge, and the value and the limits around the band.
std::string RailRow(const Rail& rail, double row, double width) {
    const Check& c = *rail.check;
    const double left = 20, right = 30, barY = row + 36;
    const double value = c.value && IsNumber(*c.value) ? NumberOf(*c.value) : NAN;
    double lo = c.limit->min ? *c.limit->min : (c.limit->max ? *c.limit->max : 0);
    double hi = c.limit->max ? *c.limit->max : lo;
    if (std::isfinite(value)) {
        lo = std::min(lo, value);
        hi = std::max(hi, value);
    }
    double span = hi - lo;
    if (span <= 0) span = std::max(1.0, std::fabs(hi) * 0.1);
    lo -= span * 0.25;
    hi += span * 0.25;
    const double plotW = width - left - right;
    auto x = [&](double v) { return left + plotW * (v - lo) / (hi - lo); };
    const double bandLo = c.limit->min ? x(*c.limit->min) : left;
    const double bandHi = c.limit->max ? x(*c.limit->max) : left + plotW;
    std::string svg = "<text class=\"rail-name\" x=\"" + Fmt("%.1f", left) + "\" y=\"" + Fmt("%.1f", row + 14) +
                      "\" font-size=\"13\">" + H(RailLabel(rail)) + "</text>\n";
    svg += "<rect x=\"" + Fmt("%.1f", left) + "\" y=\"" + Fmt("%.1f", barY) + "\" width=\"" + Fmt("%.1f", plotW) +
           "\" height=\"18\" fill=\"#f3f3f3\" stroke=\"#bbb\"/>\n";
    svg += "<rect class=\"band\" x=\"" + Fmt("%.1f", bandLo) + "\" y=\"" + Fmt("%.1f", barY) + "\" width=\"" +
           Fmt("%.1f", std::max(1.0, bandHi - bandLo)) + "\" height=\"18\" fill=\"#c8e6c9\" stroke=\"#2e7d32\"/>\n";
    for (const auto& [bound, at] : {std::pair{c.limit->min, bandLo}, std::pair{c.limit->max, bandHi}}) {
        if (!bound) continue;
        svg += "<text x=\"" + Fmt("%.1f", at) + "\" y=\"" + Fmt("%.1f", barY + 32) +
               "\" text-anchor=\"middle\" font-size=\"10\">" + Fmt("%g", *bound) + "</text>\n";
    }
    if (std::isfinite(value)) {
        const char* colour = !c.passed ? "#c62828" : c.marginal ? "#e08e00" : "#1b5e20";
        svg += "<circle class=\"value\" cx=\"" + Fmt("%.1f", x(value)) + "\" cy=\"" + Fmt("%.1f", barY + 9) +
               "\" r=\"7\" fill=\"" + colour + "\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", x(value)) + "\" y=\"" + Fmt("%.1f", barY - 4) +
               "\" text-anchor=\"middle\" font-size=\"11\" font-weight=\"bold\" fill=\"" + colour + "\">" +
               H(ValueText(*c.value) + " " + c.unit) + "</text>\n";
    } else {
        svg += "<text x=\"" + Fmt("%.1f", left + plotW / 2) + "\" y=\"" + Fmt("%.1f", barY + 13) +
               "\" text-anchor=\"middle\" font-size=\"12\" fill=\"#c62828\">" +
               (c.value ? H(ValueText(*c.value)) : std::string("not found")) + "</text>\n";
    }
    return svg;
}

std::string RailsPlot(const std::vector<Rail>& rails) {
    const double width = 760, rowH = 80;
    const double height = 10 + rowH * static_cast<double>(rails.size());
    std::string svg = "<svg class=\"rails\" id=\"rails\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fmt("%.0f", width) +
                      "\" height=\"" + Fmt("%.0f", height) + "\" viewBox=\"0 0 " + Fmt("%.0f", width) + " " +
                      Fmt("%.0f", height) + "\" role=\"img\" aria-label=\"Rails against their limits\">\n";
    double row = 6;
    for (const Rail& rail : rails) {
        svg += RailRow(rail, row, width);
        row += rowH;
    }
    return svg + "</svg>\n";
}


const char* StepResultText(const StepResult& step) {
    return step.status == StepStatus::kSkip    ? "skipped"
           : step.status == StepStatus::kError ? "ERROR"
           : step.Passed()                     ? "pass"
                                               : "FAIL";
}

std::string FailedChecksCell(const StepResult& step) {
    std::string failed;
    if (step.status != StepStatus::kComplete) failed += H(step.statusMessage) + "<br>";
    for (const Check* check : step.Failures()) failed += H(check->message) + "<br>";
    for (const Check* check : step.Marginals()) failed += "<span class=\"marginal\">" + H(check->message) + "</span><br>";
    return failed;
}

std::string HtmlHead(const RunResult& run, const std::string& verdict) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<link rel=\"icon\" href=\"data:,\">\n";
    html += "<title>" + H(verdict + " - " + run.plan->name + (run.info.serial.empty() ? "" : " - " + run.info.serial)) +
            "</title>\n";
    // Cells wrap anywhere: a 512-digit dump or a long name breaks into lines instead of
    // pushing the page sideways.
    html += R"(<style>
body { font-family: sans-serif; margin: 24px; color: #222; max-width: 1100px; }
.verdict { font-size: 96px; font-weight: bold; line-height: 1; margin: 8px 0 16px; }
.verdict.pass { color: #2e7d32; } .verdict.fail { color: #c62828; }
.banner { background: #fff3cd; border: 2px solid #e0a800; padding: 10px 14px; font-size: 18px; font-weight: bold; margin: 12px 0; }
table { border-collapse: collapse; margin: 8px 0 20px; max-width: 100%; }
th, td { border: 1px solid #ccc; padding: 4px 8px; text-align: left; font-size: 14px; vertical-align: top; }
td { overflow-wrap: anywhere; }
th, td.num, td.short { white-space: nowrap; overflow-wrap: normal; }
th { background: #eee; }
tr.failed td { background: #ffebee; }
tr.marginal td { background: #fff3e0; } .marginal { color: #b26a00; font-weight: bold; }
td.num, td.value { text-align: right; font-family: monospace; }
.muted { color: #666; }
h2 { margin-top: 28px; border-bottom: 1px solid #ccc; }
code { word-break: break-all; }
svg { max-width: 100%; height: auto; }
</style>
</head>
<body>
)";
    return html;
}

std::string InfoTable(const RunResult& run) {
    std::string html = "<table class=\"info\">\n";
    auto row = [&html](const std::string& key, const std::string& value) {
        if (!value.empty()) html += "<tr><th>" + H(key) + "</th><td>" + H(value) + "</td></tr>\n";
    };
    row("run id", run.info.runId);
    row("DUT serial", run.info.serial.empty() ? "(not given)" : run.info.serial);
    for (const auto& [key, value] : run.plan->dut) {
        if (key != "serial") row("DUT " + key, value);
    }
    for (const auto& [key, value] : run.plan->dutInfo) row("DUT " + key, value);
    row("scanner", run.info.source == "hardware" ? "hardware" : run.info.source == "virtual" ? "VIRTUAL SCANNER" : "REPLAY");
    row("scenario", run.info.scenario);
    row("station", run.info.station);
    for (const auto& [key, value] : StationFacts(run.info)) row(key, value);
    row("operator", run.info.operatorName);
    row("plan", run.plan->path + (run.plan->revision.empty() ? "" : ", revision " + run.plan->revision));
    row("started", run.info.startTime);
    row("ended", run.info.endTime);
    row("tool", run.info.toolPath);
    row("kelvotest-plan", run.info.version);
    row("limits digest", LimitsDigest(*run.plan));
    return html + "</table>\n";
}

// The steps that did not pass, at the top: in a long plan a technician sees them without
// scrolling through the steps that passed.
std::string FailuresSummary(const RunResult& run) {
    std::string rows;
    for (const StepResult& step : run.steps) {
        if (step.Passed() || step.status == StepStatus::kSkip) continue;
        rows += "<tr class=\"failed\"><td class=\"short\">" + std::to_string(step.index + 1) + "</td><td>" + H(step.plan->name) +
                "</td><td class=\"short\">" + StepResultText(step) + "</td><td>" + FailedChecksCell(step) + "</td></tr>\n";
    }
    if (rows.empty()) return "";
    return "<h2>Failures</h2>\n<table class=\"failures\">\n<tr><th>#</th><th>step</th><th>result</th><th>failed checks</th></tr>\n" +
           rows + "</table>\n";
}

// One row of the steps table; each attempt of a retried step has its own.
std::string StepRow(const StepResult& step) {
    std::string result = StepResultText(step);
    const std::string note = step.AttemptNote();
    if (!note.empty()) result += "<br><span class=\"muted\">" + H(note) + "</span>";
    std::string name = step.plan->name;
    if (step.attemptsAllowed > 1) {
        name += " (attempt " + std::to_string(step.attempt) + " of " + std::to_string(step.attemptsAllowed) + ")";
    }
    return std::string("<tr") + (step.Passed() || step.status == StepStatus::kSkip ? "" : " class=\"failed\"") +
           "><td class=\"short\">" + std::to_string(step.index + 1) + "</td><td>" + H(name) + "</td><td class=\"short\">" +
           result + "</td><td class=\"num\">" + Fmt(step.seconds < 10 ? "%.2f s" : "%.1f s", step.seconds) + "</td><td>" +
           FailedChecksCell(step) + "</td></tr>\n";
}

std::string StepsTable(const RunResult& run) {
    std::string html = "<h2>Steps</h2>\n<table class=\"steps\">\n<tr><th>#</th><th>step</th><th>result</th><th>time</th><th>failed checks</th></tr>\n";
    for (const StepResult& step : run.steps) {
        for (const StepResult& earlier : step.earlierAttempts) html += StepRow(earlier);
        html += StepRow(step);
    }
    return html + "</table>\n";
}

std::string PlotsSection(const RunResult& run) {
    std::string html;
    int plots = 0;
    for (const StepResult& step : run.steps) {
        if (step.transcript.throughput.empty()) continue;
        html += "<h2>Throughput: " + H(step.plan->name) + "</h2>\n";
        html += "<p class=\"muted\">Bytes per second in each report interval; red lines mark where a first error of an "
                "interval was reported.</p>\n";
        html += ThroughputPlot(step, plots++);
    }
    if (plots == 0) html += "<h2>Throughput</h2>\n<p class=\"muted\">No step streamed.</p>\n";

    std::vector<Rail> rails;
    for (const StepResult& step : run.steps) {
        for (const Check& check : step.checks) {
            if (check.limit && check.name.rfind("adc.", 0) == 0 && check.name != "adc.raw") {
                rails.push_back({step.plan->name, &check});
            }
        }
    }
    html += "<h2>Rails</h2>\n";
    if (rails.empty()) return html + "<p class=\"muted\">The plan sets no limits on the rails.</p>\n";
    return html + "<p class=\"muted\">Each rail's value against its limit band (green).</p>\n" + RailsPlot(rails);
}

std::string MeasurementsTable(const RunResult& run) {
    std::string html;
    html += "<h2>Measurements</h2>\n<table class=\"measurements\">\n<tr><th>step</th><th>measurement</th><th>value</th>"
            "<th>limits / expected</th><th>result</th></tr>\n";
    struct Row {
        int order;
        std::string html;
    };
    std::vector<Row> rows;
    for (const StepResult& step : run.steps) {
        std::vector<std::string> checked;
        for (const Check& check : step.checks) {
            checked.push_back(check.name);
            std::string value = check.value ? DisplayValue(check.name, *check.value, check.unit) : "not found";
            if (value.size() > 120) value = value.substr(0, 117) + "...";
            std::string wanted = check.limit      ? LimitText(*check.limit)
                                 : check.expected ? "= " + DisplayValue(check.name, *check.expected, "")
                                                  : "";
            if (check.limit && (check.limit->marginalMin || check.limit->marginalMax)) {
                wanted += ", marginal " + BandText(*check.limit);
            }
            if (wanted.size() > 120) wanted = wanted.substr(0, 117) + "...";
            const char* rowClass = !check.passed ? " class=\"failed\"" : check.marginal ? " class=\"marginal\"" : "";
            const std::string result = !check.passed   ? "<strong>FAIL</strong> " + H(check.verdict)
                                       : check.marginal ? "pass <span class=\"marginal\">marginal</span>"
                                                        : "pass";
            rows.push_back({!check.passed ? 0 : check.marginal ? 1 : 2,
                            std::string("<tr") + rowClass + "><td>" + H(step.plan->name) + "</td><td class=\"short\">" +
                                H(check.name) + "</td><td class=\"value\"><code>" + H(value) + "</code></td><td><code>" +
                                H(wanted) + "</code></td><td>" + result + "</td></tr>\n"});
        }
        for (const Measurement& m : step.transcript.measurements) {
            if (std::find(checked.begin(), checked.end(), m.name) != checked.end()) continue;
            std::string value = DisplayValue(m.name, m.value, m.unit);
            if (value.size() > 120) value = value.substr(0, 117) + "...";
            rows.push_back({3, "<tr><td>" + H(step.plan->name) + "</td><td class=\"short\">" + H(m.name) + "</td><td class=\"value\"><code>" +
                                   H(value) + "</code></td><td class=\"muted\">not checked</td><td></td></tr>\n"});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.order < b.order; });
    for (const Row& r : rows) html += r.html;
    html += "</table>\n";

    return html;
}

std::string DeviceErrorsTable(const RunResult& run) {
    std::string html;
    bool anyErrors = false;
    for (const StepResult& step : run.steps) anyErrors = anyErrors || step.transcript.errorCount > 0;
    if (anyErrors) {
        html += "<h2>Device errors</h2>\n<table class=\"errors\">\n<tr><th>step</th><th>line</th><th>code</th><th>error</th></tr>\n";
        for (const StepResult& step : run.steps) {
            size_t shown = 0;
            for (const DeviceError& e : step.transcript.errors) {
                if (++shown > 50) break;
                html += "<tr><td>" + H(step.plan->name) + "</td><td class=\"num\">" + std::to_string(e.line) +
                        "</td><td class=\"num\">" + (e.code ? std::to_string(*e.code) : "") + "</td><td>" + H(e.text) +
                        "</td></tr>\n";
            }
            if (step.transcript.errorCount > 50) {
                html += "<tr><td>" + H(step.plan->name) + "</td><td colspan=\"3\" class=\"muted\">" +
                        std::to_string(step.transcript.errorCount - 50) +
                        " more: see the step's transcript</td></tr>\n";
            }
        }
        html += "</table>\n";
    }
    return html;
}

}  // namespace

std::string HtmlReport(const RunResult& run) {
    const bool passed = run.Passed();
    const std::string verdict = run.info.aborted ? "ABORTED" : passed ? "PASS" : "FAIL";
    std::string html = HtmlHead(run, verdict);
    html += "<h1>" + H(run.plan->name) + "</h1>\n";
    if (run.info.source != "hardware") html += "<div class=\"banner\">" + H(run.info.sourceNote) + "</div>\n";
    html += "<div class=\"verdict " + std::string(passed ? "pass" : "fail") + "\" id=\"verdict\">" + verdict + "</div>\n";
    if (run.info.aborted) html += "<p><strong>" + H(run.info.abortMessage) + "</strong></p>\n";
    for (const StepResult& step : run.steps) {
        for (const Check* check : step.Marginals()) html += "<p class=\"marginal\">" + H(MarginalNote(*check)) + "</p>\n";
    }
    if (run.info.uncalibrated) {
        html += "<div class=\"banner\">UNCALIBRATED: the station's calibration was due " +
                H(run.info.stationIdentity.calibrationDue) + "; this run was made with --allow-uncalibrated.</div>\n";
    }
    html += InfoTable(run) + FailuresSummary(run) + StepsTable(run) + PlotsSection(run) + MeasurementsTable(run) +
            DeviceErrorsTable(run);
    html += "<p class=\"muted\">Each step's transcript (stderr.txt) and kelvotest.log are in its folder under " +
            H(run.info.outDir) + ".</p>\n</body>\n</html>\n";
    return html;
}

}  // namespace plan
