// fuzz/sim_fpga_file_fuzz.cc: the virtual scanner's FPGA file reader on arbitrary bytes: it
// must answer with 0 or one of its own codes, whatever the file holds.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/errors.h"
#include "sim/firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    uint32_t imageBytes = 0;
    const int32_t status = sim::ParseFpgaFile(file, imageBytes);
    if (status != sim::kOk && (status > sim::kErrFpgaFileMissing || status < sim::kErrFpgaNotConfigured)) std::abort();
    if (status == sim::kOk && imageBytes > size) std::abort();
    return 0;
}
