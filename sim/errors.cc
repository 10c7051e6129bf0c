// sim/errors.cc: the one table of error codes and their texts.
#include "sim/errors.h"

namespace sim {

struct ErrorEntry {
    int32_t code;
    const char* text;
};

static const ErrorEntry kErrorTable[] = {
    {kOk, "no error"},
    {kErrNotOpen, "interface not open (call Init_Interface first)"},
    {kErrAlreadyOpen, "interface already open"},
    {kErrNoScanner, "no scanner found on the USB bus"},
    {kErrBadArgument, "invalid argument"},
    {kErrScenario, "scenario error: a setting cannot be honoured (see standard error)"},
    {kErrBusy, "scanner busy: another program has it open"},
    {kErrReplay, "replay stopped: the call differs from the recording"},
    {kErrReplayTrace, "replay: the trace cannot be read (see standard error)"},
    {kErrFpgaFileMissing, "FPGA configuration file not found"},
    {kErrFpgaRecordMalformed, "FPGA configuration file: malformed record"},
    {kErrFpgaChecksum, "FPGA configuration file: record checksum error"},
    {kErrFpgaRecordType, "FPGA configuration file: unsupported record type"},
    {kErrFpgaNoEndRecord, "FPGA configuration file: end record missing"},
    {kErrFpgaNotConfigured, "FPGA not configured (call Init_Firmware first)"},
    {kErrUsbTransfer, "USB transfer error"},
    {kErrUsbStall, "USB endpoint stalled"},
    {kErrNoData, "no data within the USB time-out"},
    {kErrRegisterAddress, "register address out of range"},
    {kErrRegisterReadOnly, "register is read-only"},
    {kErrRegisterWriteOnly, "register is write-only"},
    {kErrNoAck, "I2C: no acknowledge from device"},
    {kErrAddressRange, "I2C: address range past the end of the device"},
    {kErrBusTimeout, "I2C: bus time-out"},
    {kErrVerifyWrite, "I2C: EEPROM write cycle failed"},
    {kErrChannel, "I2C: converter channel does not exist"},
    {kErrSensor, "I2C: temperature sensor does not answer"},
    {kErrMotorRange, "motor: revolutions out of range"},
    {kErrMotorStalled, "motor: stalled"},
    {kErrLineCounter, "scan-line counter not readable"},
    {kErrFifoOverflow, "scan FIFO overflow, data lost"},
    {kErrStatus, "scanner status not readable"},
};

const char* ErrorText(int32_t code) {
    for (const ErrorEntry& entry : kErrorTable) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

}  // namespace sim
