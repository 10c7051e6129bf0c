// sim/firmware.h: the FPGA of the virtual scanner, configured from an Intel HEX (MCS) file.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Reads and checks every record; the FPGA counts as configured only after the whole file
// was accepted. Returns 0 or one of the kErrFpga... codes.
int32_t FirmwareLoad(const std::string& path);
int32_t FirmwareLoadDefault(const char* fileName);   // working directory, then beside the library

bool FpgaConfigured();
uint32_t FpgaImageBytes();   // data bytes of the last accepted file
void FirmwareReset();

}  // namespace sim
