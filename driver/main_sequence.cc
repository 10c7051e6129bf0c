// driver/main_sequence.cc: start-up, bring-up of the scanner, the requested actions in their
// fixed order, and the shutdown that every path through Init_Interface ends with.
#include "driver/main_sequence.h"

#include <cstdint>
#include <cstdio>

#include "console/stop_request.h"
#include "device/device_errors.h"
#include "device/kelvoscanusb.h"
#include "device/scanner.h"
#include "driver/option_table.h"
#include "driver/requests.h"
#include "log/trace_log.h"
#include "platform/platform.h"
#include "procedures/boot_eeprom.h"
#include "procedures/i2c_commands.h"
#include "procedures/motor_status.h"
#include "procedures/register_commands.h"
#include "procedures/scan_stream.h"

static const char kToolName[] = "kelvotest";
static const char kLogFileName[] = "kelvotest.log";
constexpr uint32_t kLibraryTraceMask = 0x8F07;
constexpr uint32_t kUsbTimeoutMs = 5000;

static bool OpenInterface() {
    const int32_t status = Init_Interface();
    if (status != 0) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err. Init_Interface!\n");
        ReportDeviceError(status);
        return false;
    }
    if (ResultsOn()) gTraceLog.Print("ksutest: Init_Interface success!\n");
    return true;
}

static bool ReportVersions() {
    uint16_t hardware = 0, firmware = 0, library = 0, usbDriver = 0;
    if (GetKelvoVersion(&hardware, &firmware, &library, &usbDriver) != 0) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err.GetKelvoVersion!\n");
        return false;
    }
    if (ErrorsOn()) {
        gTraceLog.Print("ksutest: \nHardwareVersion:            0x%04x\nFirmwareVersion:            "
                        "0x%04x\nDllVersion:                 0x%04x\nUSB-DriverVersion:          "
                        "0x%04x!\n\n",
                        hardware, firmware, library, usbDriver);
        if (library != firmware) {
            gTraceLog.Print("ksutest: Version Error: DllVerison != FirmwareVerison, could lead "
                            "to errors during test!\n\n");
        }
    }
    if (ResultsOn()) gTraceLog.Print("\n\n");
    return true;
}

static bool LoadFpga() {
    if (gFpgaFilename[0] == '\0') {
        const int32_t status = Init_Firmware(kDefaultFpgaFile, 1);
        if (status != 0 && ErrorsOn()) gTraceLog.Print("ksutest: Err. Init_Firmware:%d\n", status);
        return status == 0;
    }
    const int32_t status = Init_Firmware(gFpgaFilename, 0);
    if (status != 0 && ErrorsOn()) gTraceLog.Print("ksutest: Err. Init_Firmware\n");
    return status == 0;
}

// Boot EEPROM programming, when -prg names an image. A failure skips every action.
static bool ProgramBootEeprom() {
    if (gBootFilename[0] == '\0') return true;
    if (ProgBootPROM(gBootFilename, kBootEepromId) != 0) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err. gBootFilename\n");
        ReportLastDeviceError();
        return false;
    }
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: program EEPROM with ID 0x%2x from file %s successfull\n!",
                        kBootEepromId, gBootFilename);
    }
    return true;
}

// The actions run in this order whatever the order on the command line. None of them ends
// the sequence, but a stop request (Ctrl-C, a termination request, a hang-up) skips every
// action still to come, also one that was to start after the loop the request ended.
using Action = void (*)();
static const Action kActions[] = {
    [] { RunRegisterCommands(RegisterRequestsFromOptions()); },
    [] { RunI2cCommands(I2cRequestsFromOptions(), StopRequested); },
    [] { if (IsRequested(gMotorRevolutions)) RunMotorCommand(gMotorRevolutions); },
    [] { if (gLinesFlag != 0) RunScanLineCommand(); },
    [] { if (gStatusFlag != 0) RunStatusCommand(); },
    [] { if (ScanRequested()) RunScanStreamTest(ScanFileFromOptions()); },
};

static void RunActions() {
    for (const Action action : kActions) {
        if (StopRequested()) return;
        action();
    }
}

// A stop request during bring-up takes effect when the library call it came in returns (an
// open or an FPGA load may take seconds on a scanner): the steps after it are skipped as the
// actions are, the boot EEPROM programming included, and the interface is freed as usual.
static bool BringUp() {
    if (!OpenInterface() || StopRequested()) return false;
    SetUsbTimeout(kUsbTimeoutMs);
    return ReportVersions() && !StopRequested() && LoadFpga() && !StopRequested() && ProgramBootEeprom();
}

static int Shutdown() {
    const int32_t status = Free_Interface();
    if (status == 0) {
        if (ErrorsOn()) gTraceLog.Print("\n");
        CloseTraceLog();
        return kExitClean;
    }
    if (ErrorsOn()) {
        gTraceLog.Print("ksutest: Error Free_interface!\n");
        gTraceLog.Print("ksutest: Error occured during test: %d!\n", status);
    }
    CloseTraceLog();
    return kExitInterfaceError;
}

int RunMainSequence(int argc, char** argv) {
    // A reader that goes away (a closed pipe behind standard error or the scan file) turns
    // writes into failed writes that the run survives, never an end without shutdown.
    IgnoreBrokenPipe();
    std::printf("%s\n", kToolName);
    std::fflush(stdout);
    OpenTraceLog(kRunLevelMask, 0, TO_STDERR | TO_DEBUGGER, kLogFileName);
    SetTraceMask(kLibraryTraceMask);

    ResetOptionTargets();
    if (const char* badWord = ParseCommandLine(argc, argv, kOptionTable)) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Error in command line parameter %s\n\n", badWord);
        PrintUsage();
        return kExitUsage;
    }
    if (gHelpFlag != 0) {
        PrintUsage();
        return kExitUsage;
    }

    // From here on a stop request ends the run through shutdown: gate off, file complete,
    // interface freed. It is remembered until the process ends.
    StopRequestScope stopRequests;
    if (BringUp()) RunActions();
    return Shutdown();
}
