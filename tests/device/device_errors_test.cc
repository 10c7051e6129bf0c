// The two error reports against the scripted fake library.
#include "device/device_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_device.h"
#include "tests/support/log_capture.h"

// The last error is read with argument 1, which leaves it in place for a later reader; a code
// the library has no text for is printed bare.
TEST(DeviceErrorsTest, LastErrorIsReadWithoutClearingAndPrintedBareWithoutText) {
    ResetFakeDevice();
    gFakeDevice.lastError = -999;
    LogCapture log;
    ReportLastDeviceError();
    EXPECT_EQ("ksutest: GetLastError: -999 \n", log.Text());
    EXPECT_EQ((std::vector<std::string>{"GetLastKelvoError(1)", "GetKelvoErrorText(-999)"}), gFakeDevice.calls);
}
