// plan/run_station.cc: the station's stages around the runs of the plan.
#include "plan/run_station.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "plan/run_stages.h"
#include "plan/serial_check.h"
#include "plan/station_loop.h"
#include "plan/station_system.h"
#include "plan/step_runner.h"

namespace plan {
namespace {

namespace fs = std::filesystem;

bool ReadStationFile(Station& station, std::string* error) {
    std::string path = station.options.stationFile;
    std::error_code missing;
    if (path.empty() && fs::exists(station.planDir / "station.toml", missing)) {
        path = (station.planDir / "station.toml").string();
    }
    if (path.empty()) return true;
    if (!LoadStationFile(path, &station.identity, error)) {
        *error = "station file: " + *error;
        return false;
    }
    if (!station.identity.PastDue(TodayIso())) return true;
    if (!station.options.allowUncalibrated) {
        *error = "the station's calibration was due " + station.identity.calibrationDue + " (" + path +
                 "); recalibrate it, or run with --allow-uncalibrated";
        return false;
    }
    station.uncalibrated = true;
    std::fprintf(stderr, "kelvotest-plan: UNCALIBRATED: the station's calibration was due %s; every run is marked\n",
                 station.identity.calibrationDue.c_str());
    return true;
}

}  // namespace

std::string GivenSerial(const Station& station) {
    return station.options.serial.empty() ? station.plan.Dut("serial") : station.options.serial;
}

bool PrepareStationIdentity(Station& station, std::string* error) {
    const std::string serial = GivenSerial(station);
    if (!station.options.loop && !serial.empty()) {
        const std::string refusal = SerialCheck(station.plan.Dut("serial_pattern")).Refusal(serial);
        if (!refusal.empty()) {
            *error = refusal;
            return false;
        }
    }
    if (station.options.station.empty()) station.options.station = HostName();
    return ReadStationFile(station, error);
}

bool LockStation(const Station& station, StationLock& lock, std::string* error) {
    if (station.options.station.empty()) return true;   // no name, not even the host's: nothing to lock by
    std::error_code failed;
    const fs::path plan = fs::absolute(station.options.planPath, failed);
    return lock.Take(DataFolder(), station.options.station, failed ? station.options.planPath : plan.string(), error);
}

PromptSide OperatorPrompt(const Options& options) {
    PromptSide side;
    side.readLine = [] { return ReadInputLine(); };
    side.write = [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
    side.terminal = StdinIsTerminal();
    side.yes = options.yes;
    return side;
}

int RunShift(const Station& station) {
    // From the first question on: a Ctrl-C while the station waits for a serial ends the shift.
    InstallInterruptHandler();
    SerialCheck check(station.plan.Dut("serial_pattern"));
    const PromptSide prompt = OperatorPrompt(station.options);
    OperatorSide side;
    side.readLine = prompt.readLine;
    side.write = prompt.write;
    side.terminal = StdoutIsTerminal() && prompt.terminal;
    const char* term = std::getenv("TERM");
    side.colour = side.terminal && std::getenv("NO_COLOR") == nullptr && (term == nullptr || std::string(term) != "dumb");
    return RunStationLoop(check, side, [&station](const std::string& serial) {
        UnitVerdict verdict;
        RunPlanForOneUnit(station, serial, &verdict);
        return verdict;
    });
}

}  // namespace plan
