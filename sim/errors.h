// sim/errors.h: the virtual scanner's error codes. Every code the library can return has a
// text in errors.cc. The tool's own codes (-300, -400, -401) are deliberately not used here.
#pragma once

#include <cstdint>

#include "device/contract.h"

namespace sim {

enum ErrorCode : int32_t {
    kOk = 0,
    // interface
    kErrNotOpen = -101,          // operation before Init_Interface or after Free_Interface
    kErrAlreadyOpen = -102,
    kErrNoScanner = -103,        // injected: no scanner on the bus
    kErrBadArgument = -104,      // null pointer or impossible length
    kErrScenario = -105,         // a scenario setting cannot be honoured (told on stderr)
    kErrBusy = -107,             // another process has the scanner (its EEPROM state) open
    kErrReplay = -110,           // replay stopped: the program's call differs from the recording
    kErrReplayTrace = -111,      // replay: the trace cannot be read (told on stderr)
    // FPGA configuration
    kErrFpgaFileMissing = -201,
    kErrFpgaRecordMalformed = -202,
    kErrFpgaChecksum = -203,
    kErrFpgaRecordType = -204,
    kErrFpgaNoEndRecord = -205,
    kErrFpgaNotConfigured = -206,
    // USB transfer
    kErrUsbTransfer = -301,
    kErrUsbStall = -302,
    kErrNoData = kNoDataStatus,  // no data within the USB time-out
    // registers
    kErrRegisterAddress = -501,
    kErrRegisterReadOnly = -502,
    kErrRegisterWriteOnly = -503,
    // I2C bus
    kErrNoAck = -601,            // no device answers at this address
    kErrAddressRange = -602,     // transfer runs past the end of the device
    kErrBusTimeout = -603,
    kErrVerifyWrite = -604,      // EEPROM write cycle did not complete
    kErrChannel = -605,          // converter channel does not exist
    kErrSensor = -606,           // temperature sensor does not answer
    // motor and scan lines
    kErrMotorRange = -701,
    kErrMotorStalled = -702,
    kErrLineCounter = -703,
    // stream
    kErrFifoOverflow = -801,
    kErrStatus = -802,
};

// nullptr for a code the library never returns.
const char* ErrorText(int32_t code);

}  // namespace sim
