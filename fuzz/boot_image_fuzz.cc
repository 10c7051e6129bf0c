// fuzz/boot_image_fuzz.cc: the boot EEPROM programming with any file against the scripted
// device, which fails one of its calls for some inputs. A file that cannot be an image never
// reaches the device; a programming that succeeds leaves exactly the file in the EEPROM; one
// that fails never leaves the file's header in front of its payload.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/scanner.h"
#include "procedures/boot_eeprom.h"
#include "tests/support/fake_device.h"

namespace {

std::string ScratchFile() {
    char path[] = "/tmp/boot_image_fuzz_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    close(fd);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchFile();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    ResetFakeDevice();
    gFakeDevice.failDeviceCall = static_cast<int>(size % 7);   // 0: no failure; 5, 6: past the last call
    const int32_t result = ProgBootPROM(path.c_str(), kBootEepromId);

    const bool canBeImage = size >= 8 && size < 70000;
    if (!canBeImage) {
        if (result != kErrReadImage || gFakeDevice.deviceCalls != 0) std::abort();
        return 0;
    }
    const std::vector<uint8_t> cells = gFakeDevice.Cells(kBootEepromId, 0, static_cast<uint32_t>(size));
    if (!gFakeDevice.failureInjected) {
        if (result != 0 || std::memcmp(cells.data(), data, size) != 0) std::abort();
        return 0;
    }
    if (result == 0) std::abort();
    // The header of the file in front of a payload that was not verified would boot.
    const bool headerWritten = std::memcmp(cells.data(), data, 8) == 0;
    const bool headerHarmless = std::all_of(data, data + 8, [](uint8_t b) { return b == 0 || b == 0xCC; });
    if (headerWritten && !headerHarmless) std::abort();
    return 0;
}
