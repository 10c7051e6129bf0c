// sim/make_fpga_image.cc: writes the virtual scanner's FPGA configuration file. The data is
// a made-up bitstream (a sync word, then a reproducible byte sequence) in Intel HEX records
// of 16 bytes, with extended linear address records every 64 KiB and the end record.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

static void WriteRecord(FILE* out, uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::fprintf(out, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    for (uint8_t byte : data) {
        std::fprintf(out, "%02X", byte);
        sum += byte;
    }
    std::fprintf(out, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fpga_image OUTPUT\n");
        return 1;
    }
    // Only a regular file (or a new one) is written: a FIFO at the name would block the open
    // until some reader came, and a device or folder would take anything but an FPGA file.
    std::error_code error;
    const std::filesystem::file_status existing = std::filesystem::status(argv[1], error);
    if (std::filesystem::exists(existing) && !std::filesystem::is_regular_file(existing)) {
        std::fprintf(stderr, "%s: not a regular file\n", argv[1]);
        return 1;
    }
    FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr uint32_t kImageBytes = 96 * 1024;
    std::vector<uint8_t> image(kImageBytes);
    const uint8_t sync[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66};
    uint32_t state = 0x6B656C76u;
    for (uint32_t i = 0; i < kImageBytes; ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = i < sizeof sync ? sync[i] : static_cast<uint8_t>(state >> 24);
    }
    for (uint32_t offset = 0; offset < kImageBytes; offset += 16) {
        if (offset % 0x10000 == 0) {
            const uint16_t upper = static_cast<uint16_t>(offset >> 16);
            WriteRecord(out, 0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
        }
        WriteRecord(out, 0x00, static_cast<uint16_t>(offset & 0xFFFF),
                    std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + 16));
    }
    WriteRecord(out, 0x01, 0, {});
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    return (std::fclose(out) == 0 && written) ? 0 : 1;
}
