// fuzz/sim_fpga_file_fuzz.cc: the virtual scanner's FPGA file reader on arbitrary bytes: it
// must answer with 0 or one of its own codes, whatever the file holds and however it arrives.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sim/errors.h"
#include "sim/firmware.h"

namespace {

// The input in pieces of 1 to 7 bytes, as a slow pipe or a short read would hand them over.
class PieceSource final : public sim::FpgaFileSource {
public:
    PieceSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int64_t Read(uint8_t* out, size_t capacity) noexcept override {
        const size_t n = std::min({capacity, size_ - at_, at_ % 7 + 1});
        if (n == 0) return 0;
        std::memcpy(out, data_ + at_, n);
        at_ += n;
        return static_cast<int64_t>(n);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PieceSource file(data, size);
    uint32_t imageBytes = 0;
    const int32_t status = sim::ParseFpgaFile(file, imageBytes);
    if (status != sim::kOk && (status > sim::kErrFpgaFileMissing || status < sim::kErrFpgaNotConfigured)) std::abort();
    if (status == sim::kOk && imageBytes > size) std::abort();
    return 0;
}
