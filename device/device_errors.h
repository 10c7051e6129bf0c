// device/device_errors.h: prints a device library status code with the library's own text.
#pragma once

#include <cstdint>

void ReportDeviceError(int32_t code);
void ReportLastDeviceError();   // for operations that return no status of their own
