// procedures/motor_status.cc: three one-shot questions to the scanner's mechanics: start the
// motor, read the scan-line count, print the status record. Each makes its library call
// whatever the log's level, and none stops the sequence.
#include "procedures/motor_status.h"

#include "device/kelvoscanusb.h"
#include "device/contract.h"
#include "device/device_errors.h"
#include "log/trace_log.h"

void RunMotorCommand(int32_t revolutions) {
    const int32_t status = Pentamotor_init(revolutions);
    if (status != 0) {
        if (ResultsOn()) gTraceLog.Print("ksutest: Error Pentamotor_init!\n");
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) gTraceLog.Print("ksutest: Pentamotor_init success\n");
}

void RunScanLineCommand() {
    const int32_t lines = Anz_ScanLine();
    if (ScanLineCountFailed(lines)) {
        if (ResultsOn()) gTraceLog.Print("ksutest: Error Anz_ScanLine, call GetLastError!\n");
        // Argument 1 reads the last error without clearing it.
        ReportDeviceError(GetLastKelvoError(1));
        return;
    }
    if (ResultsOn()) gTraceLog.Print("ksutest: Anz_ScanLine success Lines:%d\n", lines);
}

void RunStatusCommand() {
    ScannerStatus status{};
    if (GetScanStatus(&status) != 0) return;
    if (!ResultsOn()) return;
    // Every label is padded to 14 characters so that the values line up.
    gTraceLog.Print("ksutest: scannerStatus:\nLS:           %02x \nLED:          %02x \n"
                    "RAMStatus:    %02x \nAnzDat:       %d \nRamFIFO:      %d \nLastError:    %d\n",
                    status.LS, status.LED, status.RAMStatus, status.AnzDat, status.RamFIFO,
                    status.LastError);
}
