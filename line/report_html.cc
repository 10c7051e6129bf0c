// line/report_html.cc: the line report's HTML and its SVG plots. Every plot is drawn here from
// figures computed elsewhere (line/capability.h, line/control_chart.h); nothing is fetched and
// nothing runs in the page.
#include "line/report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "line/control_chart.h"
#include "plan/number_text.h"

namespace line {
namespace {

std::string F(const char* format, double value) { return plan::NumberText(format, value); }

std::string H(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Percent(double share) { return F("%.1f %%", 100 * share); }
std::string N(uint64_t n) { return std::to_string(n); }
std::string Few(uint64_t n) { return n < kMeaningfulValues ? "<span class=\"few\" title=\"fewer than 25 values\">*</span>" : ""; }

// A number for an axis or a label: as few digits as tell the ticks apart.
std::string Num(double value) { return F("%.4g", value); }

std::string SvgOpen(const std::string& cls, const std::string& id, double width, double height) {
    return "<svg class=\"" + cls + "\" id=\"" + id + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + F("%.0f", width) +
           "\" height=\"" + F("%.0f", height) + "\" viewBox=\"0 0 " + F("%.0f", width) + " " + F("%.0f", height) +
           "\" role=\"img\">\n";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& cls) {
    return "<line class=\"" + cls + "\" x1=\"" + F("%.1f", x1) + "\" y1=\"" + F("%.1f", y1) + "\" x2=\"" + F("%.1f", x2) +
           "\" y2=\"" + F("%.1f", y2) + "\"/>\n";
}

std::string Text(double x, double y, const std::string& text, const std::string& extra = "") {
    return "<text x=\"" + F("%.1f", x) + "\" y=\"" + F("%.1f", y) + "\"" + extra + ">" + H(text) + "</text>\n";
}

// ---- yield over time ----------------------------------------------------------------------

std::string YieldPlot(const std::vector<const YieldRow*>& groups, int number) {
    const double width = 1100, height = 330, left = 60, right = 20, top = 20, yieldH = 170, gap = 30, barsH = 70;
    const double plotW = width - left - right;
    const double step = plotW / double(std::max<size_t>(groups.size(), 1));
    double low = 1;
    uint64_t maxUnits = 1;
    for (const YieldRow* g : groups) {
        low = std::min({low, g->FirstPassYield(), g->FinalYield()});
        maxUnits = std::max(maxUnits, g->units);
    }
    low = std::max(0.0, std::floor(low * 10 - 0.5) / 10);   // the scale starts a little below the lowest yield
    auto x = [&](size_t i) { return left + step * (double(i) + 0.5); };
    auto y = [&](double share) { return top + yieldH * (1 - (share - low) / (1 - low)); };
    std::string svg = SvgOpen("plot yield", "yield-" + std::to_string(number), width, height);
    for (double tick = low; tick <= 1.0001; tick += (1 - low) / 4) {
        svg += Line(left, y(tick), left + plotW, y(tick), "grid") + Text(left - 6, y(tick) + 4, Percent(tick), " text-anchor=\"end\"");
    }
    std::string firstPass, final;
    for (size_t i = 0; i < groups.size(); ++i) {
        firstPass += F("%.1f,", x(i)) + F("%.1f ", y(groups[i]->FirstPassYield()));
        final += F("%.1f,", x(i)) + F("%.1f ", y(groups[i]->FinalYield()));
    }
    svg += "<polyline class=\"final\" points=\"" + final + "\"/>\n<polyline class=\"first-pass\" points=\"" + firstPass + "\"/>\n";
    const double barsTop = top + yieldH + gap;
    for (size_t i = 0; i < groups.size(); ++i) {
        const YieldRow& g = *groups[i];
        const bool few = g.units < kMeaningfulValues;
        for (const auto& [share, cls] : {std::pair{g.FinalYield(), "final"}, std::pair{g.FirstPassYield(), "first-pass"}}) {
            svg += "<circle class=\"" + std::string(cls) + (few ? " few" : "") + "\" cx=\"" + F("%.1f", x(i)) + "\" cy=\"" +
                   F("%.1f", y(share)) + "\" r=\"4\"><title>" + H(g.group) + ": " + Percent(share) + " of " + N(g.units) +
                   " units</title></circle>\n";
        }
        const double h = barsH * double(g.units) / double(maxUnits);
        svg += "<rect class=\"units\" x=\"" + F("%.1f", x(i) - step * 0.35) + "\" y=\"" + F("%.1f", barsTop + barsH - h) +
               "\" width=\"" + F("%.1f", step * 0.7) + "\" height=\"" + F("%.1f", h) + "\"/>\n";
        if (groups.size() <= 16) svg += Text(x(i), barsTop + barsH - h - 3, N(g.units) + (few ? "*" : ""), " class=\"small\" text-anchor=\"middle\"");
        if (groups.size() <= 16 || i % ((groups.size() + 15) / 16) == 0) {
            svg += Text(x(i), height - 8, g.group.size() > 10 ? g.group.substr(5) : g.group, " class=\"small\" text-anchor=\"middle\"");
        }
    }
    svg += Text(left - 6, barsTop + 10, "units", " class=\"small\" text-anchor=\"end\"");
    return svg + "</svg>\n";
}

// ---- Pareto -------------------------------------------------------------------------------

std::string ParetoPlot(const std::vector<ParetoRow>& rows) {
    const size_t shown = std::min<size_t>(rows.size(), 12);
    const double width = 1100, height = 330, left = 60, right = 60, top = 20, plotH = 190;
    const double plotW = width - left - right, step = plotW / double(std::max<size_t>(shown, 1));
    uint64_t maxUnits = 1;
    for (size_t i = 0; i < shown; ++i) maxUnits = std::max(maxUnits, rows[i].units);
    auto x = [&](size_t i) { return left + step * (double(i) + 0.5); };
    std::string svg = SvgOpen("plot pareto", "pareto", width, height);
    for (int tick = 0; tick <= 4; ++tick) {
        const double y = top + plotH * (1 - tick / 4.0);
        svg += Line(left, y, left + plotW, y, "grid") + Text(left + plotW + 6, y + 4, F("%.0f %%", tick * 25.0));
    }
    std::string cumulative;
    for (size_t i = 0; i < shown; ++i) {
        const ParetoRow& row = rows[i];
        const double h = plotH * double(row.units) / double(maxUnits);
        svg += "<rect class=\"failure\" x=\"" + F("%.1f", x(i) - step * 0.38) + "\" y=\"" + F("%.1f", top + plotH - h) +
               "\" width=\"" + F("%.1f", step * 0.76) + "\" height=\"" + F("%.1f", h) + "\"><title>" + H(row.verdict) + ": " +
               N(row.units) + " units</title></rect>\n";
        svg += Text(x(i), top + plotH - h - 4, N(row.units), " class=\"count\" text-anchor=\"middle\"");
        svg += Text(x(i), top + plotH + 14, row.verdict, " class=\"small\" text-anchor=\"end\" transform=\"rotate(-25 " +
                                                             F("%.1f", x(i)) + " " + F("%.1f", top + plotH + 14) + ")\"");
        cumulative += F("%.1f,", x(i)) + F("%.1f ", top + plotH * (1 - row.cumulative));
    }
    svg += "<polyline class=\"cumulative\" points=\"" + cumulative + "\"/>\n";
    svg += Text(left - 6, top + 10, "units", " class=\"small\" text-anchor=\"end\"");
    if (rows.size() > shown) {
        svg += Text(left + plotW, height - 4, N(rows.size() - shown) + " more verdicts in the table", " class=\"small\" text-anchor=\"end\"");
    }
    return svg + "</svg>\n";
}

// ---- histogram and individuals chart ------------------------------------------------------

struct Range {
    double low, high;
    double X(double value, double left, double w) const { return left + w * (value - low) / (high - low); }
};

Range RangeOf(const ReportSeries& s, double extraLow, double extraHigh) {
    double low = extraLow, high = extraHigh;
    for (double v : s.values) low = std::min(low, v), high = std::max(high, v);
    for (const auto& bound : {s.row.limits.min, s.row.limits.max}) {
        if (bound) low = std::min(low, *bound), high = std::max(high, *bound);
    }
    if (!(high > low)) low -= 1, high += 1;
    const double pad = (high - low) * 0.06;
    return Range{low - pad, high + pad};
}

std::string Histogram(const ReportSeries& s, int number) {
    const double width = 440, height = 260, left = 14, right = 14, top = 24, plotH = 190, plotW = width - left - right;
    const Capability& f = s.row.figures;
    const Range range = RangeOf(s, f.mean, f.mean);
    constexpr int kBins = 40;
    uint64_t bins[kBins] = {};
    for (double v : s.values) bins[std::clamp(int((v - range.low) / (range.high - range.low) * kBins), 0, kBins - 1)]++;
    const uint64_t most = std::max<uint64_t>(1, *std::max_element(bins, bins + kBins));
    std::string svg = SvgOpen("plot histogram", "histogram-" + std::to_string(number), width, height);
    for (int b = 0; b < kBins; ++b) {
        const double h = plotH * double(bins[b]) / double(most);
        svg += "<rect class=\"bin\" x=\"" + F("%.1f", left + plotW * b / kBins) + "\" y=\"" + F("%.1f", top + plotH - h) +
               "\" width=\"" + F("%.1f", plotW / kBins - 1) + "\" height=\"" + F("%.1f", h) + "\"/>\n";
    }
    auto mark = [&](const std::optional<double>& at, const char* cls, const std::string& label, double labelY) {
        if (!at) return;
        const double px = range.X(*at, left, plotW);
        svg += Line(px, top - 4, px, top + plotH, cls) + Text(px, labelY, label + " " + Num(*at), " class=\"small " + std::string(cls) + "\" text-anchor=\"middle\"");
    };
    mark(s.row.limits.marginalMin, "marginal", "", top + plotH + 26);
    mark(s.row.limits.marginalMax, "marginal", "", top + plotH + 26);
    mark(s.row.limits.min, "limit", "min", top - 8);
    mark(s.row.limits.max, "limit", "max", top - 8);
    svg += Line(range.X(f.mean, left, plotW), top, range.X(f.mean, left, plotW), top + plotH, "centre");
    svg += Line(left, top + plotH, left + plotW, top + plotH, "axis");
    svg += Text(left + 2, top + plotH + 14, Num(range.low), " class=\"small\"") +
           Text(left + plotW, top + plotH + 14, Num(range.high), " class=\"small\" text-anchor=\"end\"");
    return svg + "</svg>\n";
}

// The points the chart draws: every value, or past kChartPoints each bucket's lowest and
// highest, which keeps every excursion beyond the control limits in sight.
std::vector<size_t> ChartPoints(const std::vector<double>& values, size_t* bucket) {
    std::vector<size_t> points;
    *bucket = values.size() <= kChartPoints ? 1 : (values.size() + kChartPoints / 2 - 1) / (kChartPoints / 2);
    for (size_t start = 0; start < values.size(); start += *bucket) {
        const size_t end = std::min(values.size(), start + *bucket);
        const auto [lo, hi] = std::minmax_element(values.begin() + long(start), values.begin() + long(end));
        const size_t a = size_t(lo - values.begin()), b = size_t(hi - values.begin());
        points.push_back(std::min(a, b));
        if (a != b) points.push_back(std::max(a, b));
    }
    return points;
}

std::string IndividualsChart(const ReportSeries& s, int number, std::string* caption) {
    const double width = 620, height = 262, left = 66, right = 84, top = 16, plotH = 220, plotW = width - left - right;
    const Capability& f = s.row.figures;
    const double sigma = f.sigmaWithin, ucl = f.mean + 3 * sigma, lcl = f.mean - 3 * sigma;
    const Range range = RangeOf(s, sigma > 0 ? lcl : f.mean, sigma > 0 ? ucl : f.mean);
    auto y = [&](double v) { return top + plotH * (1 - (v - range.low) / (range.high - range.low)); };
    auto x = [&](size_t i) { return left + plotW * (double(i) + 0.5) / double(std::max<size_t>(s.values.size(), 1)); };
    std::vector<uint8_t> flags;
    const RuleCounts rules = WesternElectric(s.values, f.mean, sigma, &flags);
    size_t bucket = 1;
    const std::vector<size_t> points = ChartPoints(s.values, &bucket);
    std::string svg = SvgOpen("plot individuals", "individuals-" + std::to_string(number), width, height);
    auto level = [&](double v, const char* cls, const std::string& label) {
        svg += Line(left, y(v), left + plotW, y(v), cls) + Text(left + plotW + 4, y(v) + 4, label, " class=\"small " + std::string(cls) + "\"");
    };
    if (s.row.limits.min) level(*s.row.limits.min, "limit", "min");
    if (s.row.limits.max) level(*s.row.limits.max, "limit", "max");
    level(f.mean, "centre", "x\u0304 " + Num(f.mean));
    if (sigma > 0) level(ucl, "control", "UCL"), level(lcl, "control", "LCL");
    std::string path;
    for (size_t i : points) path += F("%.1f,", x(i)) + F("%.1f ", y(s.values[i]));
    svg += "<polyline class=\"series\" points=\"" + path + "\"/>\n";
    for (size_t i : points) {
        // Drawn as a bucket's extremes, only rule 1 keeps its meaning point by point.
        if (flags[i] == 0 || (bucket > 1 && !(flags[i] & 2))) continue;
        const bool beyond = flags[i] & 2;
        svg += "<circle class=\"" + std::string(beyond ? "beyond" : "rule") + "\" cx=\"" + F("%.1f", x(i)) + "\" cy=\"" +
               F("%.1f", y(s.values[i])) + "\" r=\"" + (beyond ? "3.5" : "2.5") + "\"/>\n";
    }
    svg += Text(left - 6, top + 10, Num(range.high), " class=\"small\" text-anchor=\"end\"") +
           Text(left - 6, top + plotH, Num(range.low), " class=\"small\" text-anchor=\"end\"");
    if (bucket > 1) {
        svg += Text(left, height - 6, N(s.values.size()) + " values: each group of " + N(bucket) +
                                          " in a row is drawn as its lowest and highest", " class=\"small note\"");
    }
    // A stable process puts 0.27 % of its values beyond x̄ ± 3σ by chance alone.
    *caption = N(rules.rule[1]) + " beyond the control limits (rule 1, red; a stable process would show about " +
               F("%.0f", 0.0027 * double(s.values.size())) + " by chance); rule 2: " + N(rules.rule[2]) + ", rule 3: " +
               N(rules.rule[3]) + ", rule 4: " + N(rules.rule[4]) + (bucket > 1 ? "" : " (amber)");
    return svg + "</svg>\n";
}

std::string Grade(const Capability& f) {
    if (!f.cpk) return "none";
    return *f.cpk < 1 ? "bad" : *f.cpk < 1.33 ? "fair" : "good";
}

std::string Index(const char* label, const std::optional<double>& value) {
    return std::string(label) + " " + (value ? F("%.2f", *value) : std::string("–"));
}

std::string SeriesSection(const ReportSeries& s, int number) {
    const Capability& f = s.row.figures;
    std::string caption;
    const std::string chart = IndividualsChart(s, number, &caption);
    std::string html = "<section class=\"series " + Grade(f) + "\" id=\"series-" + std::to_string(number) + "\">\n<h3>" +
                       H(s.row.measurement) + (s.row.unit.empty() ? "" : " <span class=\"muted\">(" + H(s.row.unit) + ")</span>") +
                       " <span class=\"index\">" + Index(f.CpkLabel(), f.cpk) + "</span> <span class=\"muted\">" +
                       Index(f.PpkLabel(), f.ppk) + " · n " + N(f.n) + " · mean " + Num(f.mean) + " · σ within " +
                       Num(f.sigmaWithin) + " · σ overall " + Num(f.sigmaOverall) + " · marginal " + Percent(f.MarginalShare()) +
                       " · outside " + Percent(f.OutsideShare()) + "</span></h3>\n";
    if (!f.Meaningful()) html += "<p class=\"few-note\">* fewer than 25 values: these figures are not yet meaningful</p>\n";
    html += "<div class=\"pair\">" + Histogram(s, number) + chart + "</div>\n<p class=\"muted small\">limits digest " +
            H(s.row.limitsDigest.rfind("limits ", 0) == 0 ? "(none: the runs carry none)" : s.row.limitsDigest) + " · " + caption +
            "</p>\n</section>\n";
    return html;
}

// ---- the page -----------------------------------------------------------------------------

constexpr const char* kStyle = R"(<style>
body { font-family: sans-serif; margin: 20px 28px; color: #222; max-width: 1120px; }
h1 { margin: 0 0 4px; } h2 { margin-top: 30px; border-bottom: 2px solid #ccc; } h3 { margin: 18px 0 6px; font-size: 17px; }
.tiles { display: flex; gap: 12px; flex-wrap: wrap; margin: 14px 0; }
.tile { border: 1px solid #ccc; border-radius: 6px; padding: 8px 14px; min-width: 150px; }
.tile .big { font-size: 34px; font-weight: bold; } .tile .label { color: #555; font-size: 13px; }
.tile.bad .big { color: #c62828; } .tile.fair .big { color: #b26a00; } .tile.good .big { color: #2e7d32; }
.banner { background: #fff3cd; border: 2px solid #e0a800; padding: 8px 12px; font-weight: bold; margin: 10px 0; }
table { border-collapse: collapse; margin: 8px 0 16px; }
th, td { border: 1px solid #ccc; padding: 4px 8px; font-size: 14px; text-align: left; }
th { background: #eee; } td.num { text-align: right; font-family: monospace; }
.muted { color: #666; font-weight: normal; } .small { font-size: 11px; }
.few { color: #b26a00; font-weight: bold; } .few-note { color: #b26a00; font-weight: bold; margin: 2px 0; }
.pair { display: flex; gap: 8px; flex-wrap: wrap; }
section.series { border-left: 6px solid #ccc; padding-left: 10px; margin-bottom: 18px; }
section.series.bad { border-color: #c62828; } section.series.fair { border-color: #e0a800; } section.series.good { border-color: #2e7d32; }
section.series.bad .index { color: #c62828; } section.series.fair .index { color: #b26a00; } section.series.good .index { color: #2e7d32; }
.bar { background: #1565c0; height: 10px; display: inline-block; vertical-align: middle; margin-right: 6px; }
svg text { font-family: sans-serif; font-size: 12px; fill: #333; } svg text.small { font-size: 11px; }
svg .grid { stroke: #e4e4e4; } svg .axis { stroke: #888; }
svg polyline.first-pass { fill: none; stroke: #1565c0; stroke-width: 2.5; } svg circle.first-pass { fill: #1565c0; }
svg polyline.final { fill: none; stroke: #2e7d32; stroke-width: 2.5; stroke-dasharray: 6 3; } svg circle.final { fill: #2e7d32; }
svg circle.few { fill: #fff; stroke-width: 2; } svg circle.first-pass.few { stroke: #1565c0; } svg circle.final.few { stroke: #2e7d32; }
svg rect.units { fill: #b0bec5; } svg rect.failure { fill: #c62828; } svg text.count { font-weight: bold; }
svg polyline.cumulative { fill: none; stroke: #333; stroke-width: 2; }
svg rect.bin { fill: #5c7cfa; }
svg line.limit { stroke: #c62828; stroke-width: 2; } svg text.limit { fill: #c62828; }
svg line.marginal { stroke: #e08e00; stroke-width: 2; stroke-dasharray: 5 3; } svg text.marginal { fill: #b26a00; }
svg line.centre { stroke: #333; stroke-width: 1.5; } svg line.control { stroke: #7b1fa2; stroke-width: 1.5; stroke-dasharray: 4 3; }
svg text.control { fill: #7b1fa2; } svg polyline.series { fill: none; stroke: #5c7cfa; stroke-width: 1; }
svg circle.beyond { fill: #c62828; } svg circle.rule { fill: #e08e00; } svg text.note { fill: #b26a00; }
.legend span { margin-right: 16px; font-size: 13px; } .key { display: inline-block; width: 18px; height: 4px; vertical-align: middle; margin-right: 4px; }
footer { margin-top: 30px; border-top: 1px solid #ccc; font-size: 13px; color: #444; }
</style>
)";

std::string Tile(const std::string& big, const std::string& label, const std::string& grade = "") {
    return "<div class=\"tile " + grade + "\"><div class=\"big\">" + big + "</div><div class=\"label\">" + label + "</div></div>\n";
}

std::string Tiles(const LineReport& r) {
    YieldRow all;
    for (const YieldRow& row : r.overTime) {
        if (row.group != "all") continue;
        all.units += row.units, all.firstPass += row.firstPass, all.finalPass += row.finalPass, all.retested += row.retested;
        all.aborted += row.aborted;
    }
    std::string html = "<div class=\"tiles\">\n" + Tile(N(all.units) + Few(all.units), "units tested");
    const std::string yieldGrade = all.FirstPassYield() < 0.9 ? "bad" : all.FirstPassYield() < 0.97 ? "fair" : "good";
    html += Tile(Percent(all.FirstPassYield()), "first-pass yield", all.units ? yieldGrade : "");
    html += Tile(Percent(all.FinalYield()), "final yield");
    html += Tile(Percent(all.RetestRate()), "units retested · " + N(all.aborted) + " aborted runs");
    if (!r.pareto.empty()) {
        html += Tile(H(r.pareto.front().verdict), "fails most: " + N(r.pareto.front().units) + " units (" +
                                                      Percent(r.pareto.front().share) + ")", "bad");
    }
    if (!r.series.empty()) {
        const Capability& f = r.series.front().row.figures;
        html += Tile(H(r.series.front().row.measurement), "worst capability: " + Index(f.CpkLabel(), f.cpk) + Few(f.n), Grade(f));
    }
    return html + "</div>\n";
}

std::string YieldSection(const LineReport& r) {
    std::string html = "<h2>Yield over time</h2>\n<p class=\"legend\"><span><i class=\"key\" style=\"background:#1565c0\"></i>"
                       "first-pass yield</span><span><i class=\"key\" style=\"background:#2e7d32\"></i>final yield</span>"
                       "<span><i class=\"key\" style=\"background:#b0bec5;height:10px\"></i>units tested, per " +
                       std::string(r.byShift ? "shift (06-14, 14-22, 22-06)" : "day") +
                       "</span><span>hollow points, *: fewer than 25 units</span></p>\n";
    int number = 0;
    std::vector<const YieldRow*> groups;
    for (const YieldRow& row : r.overTime) {
        if (row.group != "all") {
            groups.push_back(&row);
            continue;
        }
        if (r.plans.size() > 1) html += "<h3>" + H(row.plan) + "</h3>\n";
        html += YieldPlot(groups, number++);
        groups.clear();
    }
    if (number == 0) html += "<p class=\"muted\">No runs in the period.</p>\n";
    return html;
}

std::string ParetoSection(const LineReport& r) {
    std::string html = "<h2>What fails most</h2>\n";
    if (r.pareto.empty()) return html + "<p class=\"muted\">No unit failed in the period.</p>\n";
    uint64_t total = 0;
    for (const ParetoRow& row : r.pareto) total += row.units;
    html += "<p class=\"muted\">Units that failed with each verdict (bars) and the cumulative share (line, right axis)." +
            std::string(total < kMeaningfulValues ? " <span class=\"few\">* fewer than 25 unit failures.</span>" : "") + "</p>\n";
    html += ParetoPlot(r.pareto) + "<table class=\"pareto\">\n<tr><th>verdict</th><th>units</th><th>share</th><th>cumulative</th></tr>\n";
    for (const ParetoRow& row : r.pareto) {
        html += "<tr><td>" + H(row.verdict) + "</td><td class=\"num\">" + N(row.units) + "</td><td class=\"num\">" +
                Percent(row.share) + "</td><td class=\"num\">" + Percent(row.cumulative) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

std::string StationsSection(const LineReport& r) {
    std::string html = "<h2>Stations</h2>\n<table class=\"stations\" id=\"stations\">\n<tr><th>station</th><th>units</th>"
                       "<th>first-pass yield</th><th>final yield</th><th>top failure</th></tr>\n";
    for (const StationSummary& s : r.stations) {
        const double fpy = s.yield.FirstPassYield();
        html += "<tr><td>" + H(s.yield.group) + "</td><td class=\"num\">" + N(s.yield.units) + Few(s.yield.units) +
                "</td><td><span class=\"bar\" style=\"width:" + F("%.0f", 160 * fpy) + "px\"></span>" + Percent(fpy) +
                "</td><td class=\"num\">" + Percent(s.yield.FinalYield()) + "</td><td>" +
                (s.topFailure.empty() ? "–" : H(s.topFailure) + " (" + N(s.topFailureUnits) + " units)") + "</td></tr>\n";
    }
    return html + "</table>\n";
}

constexpr const char* kFootnote = R"(<footer id="rules"><p><strong>The rules.</strong>
A unit is a serial; a run without a serial is a unit of its own. Yield is counted per plan over the units tested in the
period. An aborted run (a stop, a tool that could not start, a run cut short) is not a test of the unit: it is counted
and shown, but it is not an attempt. A run that ended in ERROR is an attempt that did not pass. First-pass yield: units
whose first attempt passed; final yield: units whose last attempt passed; retest rate: units with more than one attempt.
A unit is counted on the day, shift and station of its first attempt. Runs on the virtual scanner or a replay are left
out unless asked for (--include-virtual), and the page says so.</p>
<p>Capability is computed per measurement and limits digest: values judged by different limits are never pooled.
σ overall is the sample standard deviation; σ within is the mean moving range of consecutive values in time order
divided by d<sub>2</sub> = 1.128. Ppk = min(USL − x̄, x̄ − LSL) / 3σ<sub>overall</sub> and Cpk the same with
σ<sub>within</sub>; with one limit they are one-sided (Ppl, Ppu, Cpl, Cpu). Marginal: inside the limits but outside the
marginal band. Cpk below 1 is red, below 1.33 amber. The individuals chart's centre line is x̄ and its control limits
x̄ ± 3σ<sub>within</sub>; red points lie beyond them (Western Electric rule 1); amber points break rule 2 (2 of 3 beyond
2σ on one side), 3 (4 of 5 beyond 1σ) or 4 (8 in a row on one side). * marks figures resting on fewer than 25 values.
References: NIST/SEMATECH e-Handbook of Statistical Methods, 6.1.6 (capability) and 6.3.2 (individuals charts);
Western Electric Statistical Quality Control Handbook (1956). kelvotest-line-stats(7) states every formula.</p></footer>
)";

}  // namespace

std::string LineReportHtml(const LineReport& r) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<link rel=\"icon\" href=\"data:,\">\n";
    std::string plans;
    for (const std::string& plan : r.plans) plans += (plans.empty() ? "" : ", ") + plan;
    html += "<title>Line report " + H(r.since.substr(0, 10) + " – " + r.until.substr(0, 10)) + "</title>\n" + kStyle +
            "</head>\n<body>\n<h1>Line report: " + H(plans.empty() ? "no plan" : plans) + "</h1>\n";
    html += "<p class=\"muted\">" + H(r.since.substr(0, 16)) + " to " + H(r.until.substr(0, 16)) + " UTC · " +
            N(r.stations.size()) + " station" + (r.stations.size() == 1 ? "" : "s") + " · made " + H(r.generatedAt.substr(0, 16)) + "</p>\n";
    if (r.includeVirtual) {
        html += "<div class=\"banner\">Runs on the virtual scanner and replays are included (--include-virtual): these figures are not all from hardware.</div>\n";
    } else if (r.virtualLeftOut > 0) {
        html += "<p class=\"muted\">" + N(r.virtualLeftOut) + " runs on the virtual scanner or a replay are left out.</p>\n";
    }
    html += Tiles(r) + YieldSection(r) + ParetoSection(r);
    html += "<h2>Measurements, worst capability first</h2>\n<p class=\"legend\"><span><i class=\"key\" style=\"background:#c62828\"></i>limits</span>"
            "<span><i class=\"key\" style=\"background:#e08e00\"></i>marginal band</span><span><i class=\"key\" style=\"background:#7b1fa2\"></i>"
            "control limits x̄ ± 3σ within</span><span><i class=\"key\" style=\"background:#333\"></i>mean</span></p>\n";
    int number = 0;
    for (const ReportSeries& s : r.series) html += SeriesSection(s, number++);
    if (r.series.empty()) html += "<p class=\"muted\">No measurement with limits in the period.</p>\n";
    return html + StationsSection(r) + kFootnote + "</body>\n</html>\n";
}

}  // namespace line
