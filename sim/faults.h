// sim/faults.h: failures injected by the scenario. "fail.<Operation> = <code>" makes every
// call of that library operation fail with the code; "<code> at N" fails only the Nth call,
// "<code> from N" the Nth and every later one, "<code> every N" each Nth call. Calls are
// counted per operation from the moment the library is loaded or reconfigured, so the same
// settings always give the same faults.
#pragma once

#include <cstdint>
#include <string_view>

namespace sim {

// The library operations a scenario can make fail, in the order of kOperationNames.
enum class Operation : int {
    kInit_Interface, kSetUsbTimeout, kGetKelvoVersion, kInit_Firmware, kFree_Interface,
    kRegWrite, kRegWriteShort, kRegWriteLong, kRegWriteLongInc,
    kRegRead, kRegReadShort, kRegReadShortInc, kRegReadLong, kRegReadLongInc,
    kI2C_PROM_write, kI2C_PROM_read, kI2C_LargePROMwr, kI2C_LargePROMrd,
    kI2C_ADCread, kI2C_DACout, kI2C_TEMPinit, kI2C_TEMPread,
    kPentamotor_init, kAnz_ScanLine, kGetScanStatus, kReadBlock, kClearReadBlock,
    kCount
};

// True when `name` is an operation a scenario can make fail (the part after "fail.").
bool IsInjectableOperation(std::string_view name);

// Counts this call of the operation; returns the code it must fail with, or 0.
int32_t InjectedFailure(Operation operation);

// Call counters back to zero and the rules read again from the scenario in force.
void FaultCountersReset();

}  // namespace sim
