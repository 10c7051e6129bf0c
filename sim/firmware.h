// sim/firmware.h: the FPGA of the virtual scanner, configured from an Intel HEX (MCS) file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

namespace sim {

// Reads and checks every record; the FPGA counts as configured only after the whole file
// was accepted. Returns 0 or one of the kErrFpga... codes.
int32_t FirmwareLoad(const std::string& path);
int32_t FirmwareLoadDefault(const char* fileName);   // working directory, then beside the library

// The longest record is 521 characters; no FPGA's image comes near 64 MiB of records.
constexpr uint64_t kFpgaFileLimitBytes = uint64_t{64} << 20;
constexpr size_t kFpgaLineLimitBytes = 1024;

// The records of an FPGA file up to its end record: 0 with the image's data bytes, or one of
// the kErrFpga... codes. A line or a file past its limit is a malformed record.
int32_t ParseFpgaFile(std::istream& in, uint32_t& imageBytes);

bool FpgaConfigured();
uint32_t FpgaImageBytes();   // data bytes of the last accepted file
void FirmwareReset();

}  // namespace sim
