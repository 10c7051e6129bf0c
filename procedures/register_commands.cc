// procedures/register_commands.cc: the register write and read options. All writes use the one
// -val value, each cut to its own width; a read prints its address in decimal and the value
// in as many upper-case hex digits as its width has nibbles.
#include "procedures/register_commands.h"

#include <cstdint>

#include "device/kelvoscanusb.h"
#include "device/contract.h"
#include "device/device_errors.h"
#include "log/trace_log.h"

namespace {

struct WriteAction {
    std::optional<int32_t> RegisterRequests::*address;
    int32_t (*write)(uint32_t address, uint32_t value);   // cuts the value to its width
    LogFormat<> errorMessage;
    LogFormat<> successMessage;
};

struct ReadAction {
    std::optional<int32_t> RegisterRequests::*address;
    uint32_t (*read)(uint32_t address);                   // the result cut to its width
    LogFormat<int32_t, uint32_t> message;                 // the address and the value
};

int32_t WriteByte(uint32_t address, uint32_t value) {
    return RegWrite(address, static_cast<uint8_t>(value));
}
int32_t WriteShort(uint32_t address, uint32_t value) {
    return RegWriteShort(address, static_cast<uint16_t>(value));
}
int32_t WriteLong(uint32_t address, uint32_t value) { return RegWriteLong(address, value); }
int32_t WriteLongInc(uint32_t address, uint32_t value) { return RegWriteLongInc(address, value); }

uint32_t ReadByte(uint32_t address) { return RegRead(address); }
uint32_t ReadShort(uint32_t address) { return RegReadShort(address); }
uint32_t ReadShortInc(uint32_t address) { return RegReadShortInc(address); }
uint32_t ReadLong(uint32_t address) { return RegReadLong(address); }
uint32_t ReadLongInc(uint32_t address) { return RegReadLongInc(address); }

// The library has no incrementing 16-bit write: -wwi makes the plain one under its own name.
// -wdi shares the failure text of -wd.
const WriteAction kWriteActions[] = {
    {&RegisterRequests::writeByte, WriteByte, "ksutest: Err.RegWrite\n", "ksutest: RegWrite success!\n"},
    {&RegisterRequests::writeWord, WriteShort, "ksutest: Err.RegWriteShort\n", "ksutest: RegWriteShort success!\n"},
    {&RegisterRequests::writeWordInc, WriteShort, "ksutest: Err.RegWriteShortInc\n",
     "ksutest: RegWriteShortInc success!\n"},
    {&RegisterRequests::writeDword, WriteLong, "ksutest: Err.RegWriteLong\n", "ksutest: RegWriteLong success!\n"},
    {&RegisterRequests::writeDwordInc, WriteLongInc, "ksutest: Err.RegWriteLong\n",
     "ksutest: RegWriteLongInc success!\n"},
};

const ReadAction kReadActions[] = {
    {&RegisterRequests::readByte, ReadByte, "ksutest: RegRead from Adr.%d Byte:0x%02X\n"},
    {&RegisterRequests::readWord, ReadShort, "ksutest: RegReadShort from Adr.%d Byte:0x%04X\n"},
    {&RegisterRequests::readWordInc, ReadShortInc, "ksutest: RegReadShortInc from Adr.%d Byte:0x%04X\n"},
    {&RegisterRequests::readDword, ReadLong, "ksutest: RegReadDword from Adr.%d Byte:0x%08X\n"},
    {&RegisterRequests::readDwordInc, ReadLongInc, "ksutest: RegReadDwordInc from Adr.%d Byte:0x%08X\n"},
};

void RunWrite(const WriteAction& action, int32_t address, int32_t writeValue) {
    const uint32_t value = static_cast<uint32_t>(writeValue);
    const int32_t result = action.write(static_cast<uint32_t>(address), value);
    if (RegisterWriteSucceeded(result)) {
        if (ResultsOn()) gTraceLog.Print(action.successMessage);
        return;
    }
    if (ErrorsOn()) gTraceLog.Print(action.errorMessage);
    ReportLastDeviceError();
}

void RunRead(const ReadAction& action, int32_t address) {
    // The read itself is the test, so it is made even when its line will not be printed.
    const uint32_t value = action.read(static_cast<uint32_t>(address));
    if (ResultsOn()) gTraceLog.Print(action.message, address, value);
}

}  // namespace

void RunRegisterCommands(const RegisterRequests& requests) {
    // Writes go first so that a read in the same run sees what was written.
    for (const WriteAction& action : kWriteActions) {
        if (const auto& address = requests.*action.address) RunWrite(action, *address, requests.value);
    }
    for (const ReadAction& action : kReadActions) {
        if (const auto& address = requests.*action.address) RunRead(action, *address);
    }
}
