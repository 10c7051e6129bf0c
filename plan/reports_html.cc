// The HTML report: one self-contained file, no script, nothing fetched. The verdict in large
// type, a banner when the results did not come from hardware, the steps, an inline SVG plot
// of each stream's throughput with its first-error positions, the rails against their limit
// bands, and every measurement with its limits, failures first.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plan/checks.h"
#include "plan/reports.h"

namespace plan {
namespace {

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
// Every format given is a literal of this file with one double conversion.
std::string Fmt(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

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

std::string ThroughputPlot(const StepResult& step, int number) {
    const auto& reports = step.transcript.throughput;
    const double width = 760, height = 280, left = 70, right = 20, top = 20, bottom = 40;
    const double plotW = width - left - right, plotH = height - top - bottom;
    std::vector<std::pair<double, double>> points;   // seconds, interval rate
    uint64_t lastBytes = 0;
    double lastSeconds = 0;
    for (const ThroughputReport& r : reports) {
        const double span = r.seconds - lastSeconds;
        points.emplace_back(r.seconds, span > 0 ? static_cast<double>(r.bytes - lastBytes) / span : 0.0);
        lastBytes = r.bytes;
        lastSeconds = r.seconds;
    }
    const Check* limit = CheckOf(step, "stream.rate");
    double maxRate = 1;
    for (const auto& p : points) maxRate = std::max(maxRate, p.second);
    if (limit && limit->limit->min) maxRate = std::max(maxRate, *limit->limit->min);
    maxRate *= 1.15;
    const double maxSeconds = std::max(1.0, points.empty() ? 1.0 : std::ceil(points.back().first));
    auto x = [&](double s) { return left + plotW * s / maxSeconds; };
    auto y = [&](double r) { return top + plotH * (1 - r / maxRate); };

    std::string svg = "<svg class=\"plot\" id=\"throughput-" + std::to_string(number) + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      Fmt("%.0f", width) + "\" height=\"" + Fmt("%.0f", height) + "\" viewBox=\"0 0 " + Fmt("%.0f", width) +
                      " " + Fmt("%.0f", height) + "\" role=\"img\" aria-label=\"Throughput of step " + H(step.plan->name) +
                      "\">\n";
    svg += "<rect x=\"" + Fmt("%.1f", left) + "\" y=\"" + Fmt("%.1f", top) + "\" width=\"" + Fmt("%.1f", plotW) +
           "\" height=\"" + Fmt("%.1f", plotH) + "\" fill=\"#fafafa\" stroke=\"#999\"/>\n";
    for (int i = 0; i <= 4; ++i) {
        const double r = maxRate * i / 4;
        svg += "<line x1=\"" + Fmt("%.1f", left) + "\" x2=\"" + Fmt("%.1f", left + plotW) + "\" y1=\"" + Fmt("%.1f", y(r)) +
               "\" y2=\"" + Fmt("%.1f", y(r)) + "\" stroke=\"#e0e0e0\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", left - 6) + "\" y=\"" + Fmt("%.1f", y(r) + 4) +
               "\" text-anchor=\"end\" font-size=\"11\">" + H(Rate(r)) + "</text>\n";
    }
    const double tick = std::max(1.0, std::ceil(maxSeconds / 8));
    for (double s = 0; s <= maxSeconds + 1e-9; s += tick) {
        svg += "<text x=\"" + Fmt("%.1f", x(s)) + "\" y=\"" + Fmt("%.1f", top + plotH + 16) +
               "\" text-anchor=\"middle\" font-size=\"11\">" + Fmt("%.0f s", s) + "</text>\n";
    }
    svg += "<text x=\"" + Fmt("%.1f", left + plotW / 2) + "\" y=\"" + Fmt("%.1f", height - 4) +
           "\" text-anchor=\"middle\" font-size=\"12\">time since the stream started</text>\n";
    if (limit && limit->limit->min) {
        svg += "<line class=\"limit\" x1=\"" + Fmt("%.1f", left) + "\" x2=\"" + Fmt("%.1f", left + plotW) + "\" y1=\"" +
               Fmt("%.1f", y(*limit->limit->min)) + "\" y2=\"" + Fmt("%.1f", y(*limit->limit->min)) +
               "\" stroke=\"#c62828\" stroke-dasharray=\"6 4\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", left + plotW - 4) + "\" y=\"" + Fmt("%.1f", y(*limit->limit->min) + 14) +
               "\" text-anchor=\"end\" font-size=\"11\" fill=\"#c62828\">stream.rate min " +
               H(Rate(*limit->limit->min)) + " (average)</text>\n";
    }
    for (size_t i = 0; i < reports.size(); ++i) {
        if (!reports[i].firstErrorPosition) continue;
        const double px = x(points[i].first);
        char label[64];
        std::snprintf(label, sizeof label, "error at byte 0x%llx", static_cast<unsigned long long>(*reports[i].firstErrorPosition));
        svg += "<line class=\"first-error\" x1=\"" + Fmt("%.1f", px) + "\" x2=\"" + Fmt("%.1f", px) + "\" y1=\"" +
               Fmt("%.1f", top) + "\" y2=\"" + Fmt("%.1f", top + plotH) + "\" stroke=\"#c62828\" stroke-width=\"2\"/>\n";
        svg += "<text x=\"" + Fmt("%.1f", px + 3) + "\" y=\"" + Fmt("%.1f", top + 12) +
               "\" font-size=\"11\" fill=\"#c62828\">" + label + "</text>\n";
    }
    std::string polyline;
    for (const auto& p : points) polyline += Fmt("%.1f", x(p.first)) + "," + Fmt("%.1f", y(p.second)) + " ";
    svg += "<polyline class=\"series\" points=\"" + polyline + "\" fill=\"none\" stroke=\"#1565c0\" stroke-width=\"2\"/>\n";
    for (const auto& p : points) {
        svg += "<circle cx=\"" + Fmt("%.1f", x(p.first)) + "\" cy=\"" + Fmt("%.1f", y(p.second)) +
               "\" r=\"3\" fill=\"#1565c0\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

struct Rail {
    std::string step;
    const Check* check;
};

std::string RailsPlot(const std::vector<Rail>& rails) {
    const double width = 760, rowH = 46, left = 190, right = 30;
    const double height = 20 + rowH * static_cast<double>(rails.size());
    std::string svg = "<svg class=\"rails\" id=\"rails\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fmt("%.0f", width) +
                      "\" height=\"" + Fmt("%.0f", height) + "\" viewBox=\"0 0 " + Fmt("%.0f", width) + " " +
                      Fmt("%.0f", height) + "\" role=\"img\" aria-label=\"Rails against their limits\">\n";
    double row = 10;
    for (const Rail& rail : rails) {
        const Check& c = *rail.check;
        const double value = c.value && IsNumber(*c.value) ? NumberOf(*c.value) : NAN;
        double lo = c.limit->min ? *c.limit->min : (c.limit->max ? *c.limit->max : 0);
        double hi = c.limit->max ? *c.limit->max : lo;
        if (!std::isnan(value)) {
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
        svg += "<text x=\"" + Fmt("%.1f", left - 8) + "\" y=\"" + Fmt("%.1f", row + 18) +
               "\" text-anchor=\"end\" font-size=\"13\">" + H(c.name) + " (" + H(rail.step) + ")</text>\n";
        svg += "<rect x=\"" + Fmt("%.1f", left) + "\" y=\"" + Fmt("%.1f", row + 6) + "\" width=\"" + Fmt("%.1f", plotW) +
               "\" height=\"18\" fill=\"#f3f3f3\" stroke=\"#bbb\"/>\n";
        svg += "<rect class=\"band\" x=\"" + Fmt("%.1f", bandLo) + "\" y=\"" + Fmt("%.1f", row + 6) + "\" width=\"" +
               Fmt("%.1f", std::max(1.0, bandHi - bandLo)) + "\" height=\"18\" fill=\"#c8e6c9\" stroke=\"#2e7d32\"/>\n";
        if (c.limit->min) {
            svg += "<text x=\"" + Fmt("%.1f", bandLo) + "\" y=\"" + Fmt("%.1f", row + 38) +
                   "\" text-anchor=\"middle\" font-size=\"10\">" + Fmt("%g", *c.limit->min) + "</text>\n";
        }
        if (c.limit->max) {
            svg += "<text x=\"" + Fmt("%.1f", bandHi) + "\" y=\"" + Fmt("%.1f", row + 38) +
                   "\" text-anchor=\"middle\" font-size=\"10\">" + Fmt("%g", *c.limit->max) + "</text>\n";
        }
        if (!std::isnan(value)) {
            const char* colour = c.passed ? "#1b5e20" : "#c62828";
            svg += "<circle class=\"value\" cx=\"" + Fmt("%.1f", x(value)) + "\" cy=\"" + Fmt("%.1f", row + 15) +
                   "\" r=\"7\" fill=\"" + colour + "\"/>\n";
            svg += "<text x=\"" + Fmt("%.1f", x(value)) + "\" y=\"" + Fmt("%.1f", row + 2) +
                   "\" text-anchor=\"middle\" font-size=\"11\" font-weight=\"bold\" fill=\"" + colour + "\">" +
                   H(ValueText(*c.value) + " " + c.unit) + "</text>\n";
        } else {
            svg += "<text x=\"" + Fmt("%.1f", left + plotW / 2) + "\" y=\"" + Fmt("%.1f", row + 19) +
                   "\" text-anchor=\"middle\" font-size=\"12\" fill=\"#c62828\">not found</text>\n";
        }
        row += rowH;
    }
    svg += "</svg>\n";
    return svg;
}

// One row of the steps table; each attempt of a retried step has its own.
std::string StepRow(const StepResult& step) {
    std::string result = step.status == StepStatus::kSkip    ? "skipped"
                         : step.status == StepStatus::kError ? "ERROR"
                         : step.Passed()                     ? "pass"
                                                             : "FAIL";
    const std::string note = step.AttemptNote();
    if (!note.empty()) result += "<br><span class=\"muted\">" + H(note) + "</span>";
    std::string failed;
    if (step.status != StepStatus::kComplete) failed += H(step.statusMessage) + "<br>";
    for (const Check* check : step.Failures()) failed += H(check->message) + "<br>";
    const std::string name = step.plan->name + (step.attemptsAllowed > 1 ? " (attempt " + std::to_string(step.attempt) +
                                                                                " of " + std::to_string(step.attemptsAllowed) + ")"
                                                                          : "");
    return std::string("<tr") + (step.Passed() || step.status == StepStatus::kSkip ? "" : " class=\"failed\"") + "><td>" +
           std::to_string(step.index + 1) + "</td><td>" + H(name) + "</td><td>" + result + "</td><td class=\"num\">" +
           Fmt(step.seconds < 10 ? "%.2f s" : "%.1f s", step.seconds) + "</td><td>" + failed + "</td></tr>\n";
}

}  // namespace

std::string HtmlReport(const RunResult& run) {
    const bool passed = run.Passed();
    const std::string verdict = run.info.aborted ? "ABORTED" : passed ? "PASS" : "FAIL";
    const std::string verdictClass = passed ? "pass" : "fail";
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<link rel=\"icon\" href=\"data:,\">\n";
    html += "<title>" + H(verdict + " - " + run.plan->name + (run.info.serial.empty() ? "" : " - " + run.info.serial)) +
            "</title>\n";
    html += R"(<style>
body { font-family: sans-serif; margin: 24px; color: #222; max-width: 1100px; }
.verdict { font-size: 96px; font-weight: bold; line-height: 1; margin: 8px 0 16px; }
.verdict.pass { color: #2e7d32; } .verdict.fail { color: #c62828; }
.banner { background: #fff3cd; border: 2px solid #e0a800; padding: 10px 14px; font-size: 18px; font-weight: bold; margin: 12px 0; }
table { border-collapse: collapse; margin: 8px 0 20px; }
th, td { border: 1px solid #ccc; padding: 4px 8px; text-align: left; font-size: 14px; vertical-align: top; }
th { background: #eee; }
tr.failed td { background: #ffebee; }
td.num { text-align: right; font-family: monospace; }
.muted { color: #666; }
h2 { margin-top: 28px; border-bottom: 1px solid #ccc; }
code { word-break: break-all; }
</style>
</head>
<body>
)";
    html += "<h1>" + H(run.plan->name) + "</h1>\n";
    if (run.info.source != "hardware") html += "<div class=\"banner\">" + H(run.info.sourceNote) + "</div>\n";
    html += "<div class=\"verdict " + verdictClass + "\" id=\"verdict\">" + verdict + "</div>\n";
    if (run.info.aborted) html += "<p><strong>" + H(run.info.abortMessage) + "</strong></p>\n";
    if (run.info.uncalibrated) {
        html += "<div class=\"banner\">UNCALIBRATED: the station's calibration was due " +
                H(run.info.stationIdentity.calibrationDue) + "; this run was made with --allow-uncalibrated.</div>\n";
    }
    html += "<table class=\"info\">\n";
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
    html += "</table>\n";

    html += "<h2>Steps</h2>\n<table class=\"steps\">\n<tr><th>#</th><th>step</th><th>result</th><th>time</th><th>failed checks</th></tr>\n";
    for (const StepResult& step : run.steps) {
        for (const StepResult& earlier : step.earlierAttempts) html += StepRow(earlier);
        html += StepRow(step);
    }
    html += "</table>\n";

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
    if (rails.empty()) {
        html += "<p class=\"muted\">The plan sets no limits on the rails.</p>\n";
    } else {
        html += "<p class=\"muted\">Each rail's value against its limit band (green).</p>\n" + RailsPlot(rails);
    }

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
            const std::string wanted = check.limit      ? LimitText(*check.limit)
                                       : check.expected ? "= " + DisplayValue(check.name, *check.expected, "")
                                                        : "";
            rows.push_back({check.passed ? 1 : 0,
                            std::string("<tr") + (check.passed ? "" : " class=\"failed\"") + "><td>" + H(step.plan->name) +
                                "</td><td>" + H(check.name) + "</td><td class=\"num\"><code>" + H(value) + "</code></td><td>" +
                                H(wanted) + "</td><td>" + (check.passed ? "pass" : "<strong>FAIL</strong> " + H(check.verdict)) +
                                "</td></tr>\n"});
        }
        for (const Measurement& m : step.transcript.measurements) {
            if (std::find(checked.begin(), checked.end(), m.name) != checked.end()) continue;
            std::string value = DisplayValue(m.name, m.value, m.unit);
            if (value.size() > 120) value = value.substr(0, 117) + "...";
            rows.push_back({2, "<tr><td>" + H(step.plan->name) + "</td><td>" + H(m.name) + "</td><td class=\"num\"><code>" +
                                   H(value) + "</code></td><td class=\"muted\">not checked</td><td></td></tr>\n"});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.order < b.order; });
    for (const Row& r : rows) html += r.html;
    html += "</table>\n";

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
    html += "<p class=\"muted\">Each step's transcript (stderr.txt) and kelvotest.log are in its folder under " +
            H(run.info.outDir) + ".</p>\n</body>\n</html>\n";
    return html;
}

}  // namespace plan
