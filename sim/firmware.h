// sim/firmware.h: the FPGA of the virtual scanner, configured from an Intel HEX (MCS) file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Reads and checks every record; the FPGA counts as configured only after the whole file
// was accepted. Returns 0 or one of the kErrFpga... codes: -201 also for a name that is not a
// regular file (a folder, a FIFO, a device), which is neither waited on nor read.
int32_t FirmwareLoad(const char* path) noexcept;
// The working directory's file when it is a regular file, else the one beside the library.
int32_t FirmwareLoadDefault(const char* fileName) noexcept;

// The longest record is 521 characters; no FPGA's image comes near 64 MiB of records.
constexpr uint64_t kFpgaFileLimitBytes = uint64_t{64} << 20;
constexpr size_t kFpgaLineLimitBytes = 1024;

// The bytes of an FPGA file, piece by piece: Read fills up to `capacity` bytes and returns
// how many, 0 at the end, -1 when the rest cannot be read.
class FpgaFileSource {
public:
    virtual int64_t Read(uint8_t* data, size_t capacity) noexcept = 0;

protected:
    ~FpgaFileSource() = default;
};

// The records of an FPGA file up to its end record: 0 with the image's data bytes, or one of
// the kErrFpga... codes. A line or a file past its limit is a malformed record; a read error
// is a file that cannot be read (-201). Allocates nothing.
int32_t ParseFpgaFile(FpgaFileSource& source, uint32_t& imageBytes) noexcept;

bool FpgaConfigured();
uint32_t FpgaImageBytes();   // data bytes of the last accepted file
void FirmwareReset();

}  // namespace sim
