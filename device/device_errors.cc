// device/device_errors.cc: the two error reports shared by every action. Both gate their
// own output on the error bit of the log.
#include "device/device_errors.h"

#include "device/kelvoscanusb.h"
#include "log/trace_log.h"

constexpr uint32_t kErrorTextBytes = 1024;

void ReportDeviceError(int32_t code) {
    char text[kErrorTextBytes] = {};
    const bool haveText = GetKelvoErrorText(code, text, kErrorTextBytes) == 0;
    text[kErrorTextBytes - 1] = '\0';   // a library that fills the buffer to the brim
    if (!ErrorsOn()) return;
    if (haveText) {
        gTraceLog.Print("ksutest: Error: %d %s\n", code, text);
    } else {
        gTraceLog.Print("ksutest: Error: %d \n", code);
    }
}

void ReportLastDeviceError() {
    const int32_t code = GetLastKelvoError(1);
    char text[kErrorTextBytes] = {};
    const bool haveText = GetKelvoErrorText(code, text, kErrorTextBytes) == 0;
    text[kErrorTextBytes - 1] = '\0';
    if (!ErrorsOn()) return;
    if (haveText) {
        gTraceLog.Print("ksutest: GetLastError:%s\n", text);
    } else {
        gTraceLog.Print("ksutest: GetLastError: %d \n", code);
    }
}
