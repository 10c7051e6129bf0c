// procedures/boot_eeprom.cc: programs the boot EEPROM. The file is read and checked before the
// first device call; then the header is zeroed, the payload written and read back, and the
// header written last, so a run that stops half-way never leaves a bootable header in front
// of a broken payload.
#include "procedures/boot_eeprom.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "device/device_errors.h"
#include "log/trace_log.h"

namespace {

constexpr uint32_t kImageBufferBytes = kLargestTransferBytes;   // a read that fills it means the file is too large
constexpr uint32_t kHeaderBytes = 8;
constexpr uint8_t kHeaderLast = kHeaderBytes - 1;
class ImageFile {
public:
    explicit ImageFile(const char* path) : file_(std::fopen(path, "rb")) {}
    ~ImageFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

// Reads the image into the front of image (which holds kImageBufferBytes). Returns the byte
// count, or 0 for a file that cannot be an image: empty, shorter than its header, as large as
// the buffer or larger, or unreadable part-way.
uint32_t ReadImage(std::FILE* file, std::vector<uint8_t>& image) {
    const size_t count = std::fread(image.data(), 1, kImageBufferBytes, file);
    if (std::ferror(file) != 0 || count < kHeaderBytes || count >= kImageBufferBytes) return 0;
    return static_cast<uint32_t>(count);
}

// The device part, from the zeroing write to the header write. Returns the result code.
int32_t ProgramImage(std::vector<uint8_t>& image, uint32_t imageBytes, uint8_t deviceId) {
    // Zero the header before the payload goes in: if anything below fails or the run is cut
    // off, the scanner finds a header it cannot mistake for a valid one.
    std::vector<uint8_t> zeros(kHeaderBytes, 0);
    int32_t status = I2C_PROM_write(zeros.data(), deviceId, 0, kHeaderLast);
    if (status != 0) {
        if (BootTraceOn()) gTraceLog.Print("ksutest: Err.I2C_PROM_write adr.0..7\n");
        return status;
    }

    const int32_t payloadBytes = static_cast<int32_t>(imageBytes - kHeaderBytes);
    uint8_t* payload = image.data() + kHeaderBytes;
    int32_t length = payloadBytes;
    if (payloadBytes > 0) {
        status = I2C_LargePROMwr(deviceId, kHeaderBytes, payload, &length);
        if (status != 0) {
            // The library leaves in length how far it got; that is what the user needs.
            if (BootTraceOn()) gTraceLog.Print("ksutest: Err.I2C_LargePROMwr Length:%d\n", length);
            return status;
        }
    }

    // Prefill the read-back with the complement of the payload, so that a byte the library
    // does not deliver can never compare equal by chance. Full size even for an empty payload:
    // the library gets a real buffer for its zero-length read.
    std::vector<uint8_t> readBack(kImageBufferBytes - kHeaderBytes);
    for (int32_t i = 0; i < payloadBytes; ++i) readBack[i] = static_cast<uint8_t>(~payload[i]);
    length = payloadBytes;
    status = I2C_LargePROMrd(deviceId, kHeaderBytes, readBack.data(), &length);
    if (status != 0) {
        if (BootTraceOn()) gTraceLog.Print("ksutest: Err.I2C_LargePROMrd!\n");
        return status;
    }
    // Compared over the file's payload size. A library that reports fewer bytes than asked for
    // has not vouched for the rest, so such a read-back cannot verify the image either.
    if (length != payloadBytes || !std::equal(payload, payload + payloadBytes, readBack.begin())) {
        if (BootTraceOn()) gTraceLog.Print("ksutest: Err.Verify EEPROM!\n");
        return kErrVerify;
    }

    status = I2C_PROM_write(image.data(), deviceId, 0, kHeaderLast);
    if (status != 0 && BootTraceOn()) gTraceLog.Print("ksutest: Err.write first 8 Bytes to EEPROM!\n");
    return status;
}

// Opens, reads and checks the file, then programs it. No device call is made for a file that
// is refused, so a mistyped path cannot wipe the header of a working scanner.
int32_t ProgramFromFile(const char* path, uint8_t deviceId) {
    std::vector<uint8_t> image(kImageBufferBytes, 0);
    uint32_t imageBytes = 0;
    {
        ImageFile file(path);
        if (file.get() == nullptr) {
            std::fprintf(stderr, "Cannot open %s", path);
            return kErrOpenImage;
        }
        imageBytes = ReadImage(file.get(), image);
    }
    if (imageBytes == 0) {
        if (BootTraceOn()) gTraceLog.Print("ksutest: Err.read File!\n");
        return kErrReadImage;
    }
    return ProgramImage(image, imageBytes, deviceId);
}

}  // namespace

int32_t ProgBootPROM(const char* path, uint8_t deviceId) {
    if (BootTraceOn()) gTraceLog.Print("ksutest: [ProgBootPROM\n");
    const int32_t result = ProgramFromFile(path, deviceId);
    if (result != 0) ReportDeviceError(result);
    if (BootTraceOn()) gTraceLog.Print("ksutest: ]ProgBootPROM\n");
    return result;
}
