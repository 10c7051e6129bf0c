// plan/station_loop.cc: the shift's loop, its tally and the verdict in large type.
#include "plan/station_loop.h"

#include <cstdio>

namespace plan {
namespace {

// Five rows per letter, the same width each: a verdict read from across the bench.
struct Glyph {
    char letter;
    const char* rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #"}}, {'B', {"#### ", "#   #", "#### ", "#   #", "#### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#### "}}, {'E', {"#####", "#    ", "#### ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#### ", "#    ", "#    "}}, {'I', {" ### ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#####"}}, {'O', {" ### ", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    "}}, {'R', {"#### ", "#   #", "#### ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}}, {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
};

const Glyph* GlyphOf(char letter) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.letter == letter) return &glyph;
    }
    return nullptr;
}

std::string Large(const std::string& word) {
    std::string block;
    for (int row = 0; row < 5; ++row) {
        std::string line = "  ";
        for (const char letter : word) {
            if (const Glyph* glyph = GlyphOf(letter)) line += std::string(glyph->rows[row]) + "  ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        block += line + "\n";
    }
    return block;
}

const char* VerdictWord(const UnitVerdict& verdict) {
    if (verdict.interrupted || verdict.endShift || verdict.exitCode == 2) return "ABORTED";
    return verdict.exitCode == 0 ? "PASS" : "FAIL";
}

bool IsYes(const std::string& answer) { return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES"; }

// Asks a yes/no question; no answer (end of input) is no.
bool Ask(OperatorSide& side, const std::string& question) {
    side.write(question + " ");
    const std::optional<std::string> answer = side.readLine();
    return answer && IsYes(*answer);
}

// The next serial that may become a run, or nullopt when the shift ends.
std::optional<std::string> NextSerial(SerialCheck& check, OperatorSide& side) {
    for (;;) {
        side.write("serial (Enter to finish): ");
        const std::optional<std::string> serial = side.readLine();
        if (!serial || serial->empty()) return std::nullopt;
        if (!side.terminal) side.write(*serial + "\n");   // a script's serial is shown as if typed
        const std::string refusal = check.Refusal(*serial);
        if (!refusal.empty()) {
            side.write("refused: " + refusal + "; scan it again\n");
            continue;
        }
        if (check.IsRepeat(*serial) && !Ask(side, RepeatQuestion(*serial))) {
            side.write("not tested again\n");
            continue;
        }
        return serial;
    }
}

void ShowVerdict(OperatorSide& side, const std::string& serial, const UnitVerdict& verdict) {
    if (side.terminal) {
        side.write("\n" + VerdictBlock(verdict, side.colour));
    } else {
        side.write(std::string("unit ") + serial + ": " + VerdictWord(verdict) + "\n");
        for (const std::string& failure : verdict.failures) side.write("  " + failure + "\n");
        if (!verdict.message.empty()) side.write("  " + verdict.message + "\n");
    }
}

}  // namespace

void ShiftTally::Add(const std::string& serial, bool passed) {
    ++runs_;
    passed_ += passed ? 1 : 0;
    if (units_.insert(serial).second && passed) ++firstPassed_;
}

double ShiftTally::FirstPassYield() const { return units_.empty() ? 0.0 : 100.0 * firstPassed_ / Units(); }

std::string ShiftTally::Line() const {
    char line[160];
    std::snprintf(line, sizeof line, "shift: %d %s, %d passed, %d failed, first-pass yield %.1f %%", Units(),
                  Units() == 1 ? "unit" : "units", passed_, Failed(), FirstPassYield());
    std::string text = line;
    if (runs_ != Units()) text += " (" + std::to_string(runs_) + " runs: units tested again)";
    return text;
}

std::string VerdictBlock(const UnitVerdict& verdict, bool colour) {
    const std::string word = VerdictWord(verdict);
    const char* on = word == "PASS" ? "\033[1;32m" : "\033[1;31m";
    std::string block = colour ? on + Large(word) + "\033[0m" : Large(word);
    for (const std::string& failure : verdict.failures) block += "  " + failure + "\n";
    if (!verdict.message.empty()) block += "  " + verdict.message + "\n";
    return block;
}

int RunStationLoop(SerialCheck& check, OperatorSide& side, const std::function<UnitVerdict(const std::string&)>& runUnit) {
    ShiftTally tally;
    bool couldNotRun = false;
    while (const std::optional<std::string> serial = NextSerial(check, side)) {
        const UnitVerdict verdict = runUnit(*serial);
        check.Accepted(*serial);
        tally.Add(*serial, verdict.exitCode == 0);
        ShowVerdict(side, *serial, verdict);
        side.write(tally.Line() + "\n\n");
        if (verdict.endShift) {
            side.write("the station was told to stop; the shift ends\n");
            break;
        }
        if (verdict.interrupted) {
            if (!Ask(side, "the unit was stopped; go on with the next unit? [y/N]")) break;
        } else if (verdict.exitCode == 2) {
            couldNotRun = true;   // the tool or the reports: every next unit would fail the same way
            side.write("the unit could not be tested; the loop ends\n");
            break;
        }
    }
    side.write("end of the shift. " + tally.Line() + "\n");
    if (couldNotRun) return 2;
    return tally.Failed() > 0 ? 1 : 0;
}

}  // namespace plan
