// sim/firmware.cc: loads an FPGA configuration file of Intel HEX records
// (":LLAAAATT<data>CC"). Data (00), end (01), segment and linear address (02, 04) and start
// address (03, 05) records are understood; anything else is refused, as is a file without
// its end record.
#include "sim/firmware.h"

#include <cctype>
#include <fstream>

#include "sim/errors.h"
#include "sim/host.h"

namespace sim {

static bool gConfigured = false;
static uint32_t gImageBytes = 0;

static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes one record line into bytes (count, address, type, data, checksum).
static int32_t DecodeRecord(const std::string& line, std::string& bytes) {
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return kErrFpgaRecordMalformed;
    bytes.clear();
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        const int high = HexValue(line[i]);
        const int low = HexValue(line[i + 1]);
        if (high < 0 || low < 0) return kErrFpgaRecordMalformed;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    const size_t dataBytes = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() != dataBytes + 5) return kErrFpgaRecordMalformed;
    unsigned sum = 0;
    for (char byte : bytes) sum += static_cast<unsigned char>(byte);
    if ((sum & 0xFF) != 0) return kErrFpgaChecksum;
    return kOk;
}

static int32_t ParseFile(std::ifstream& file, uint32_t& imageBytes) {
    std::string line, bytes;
    imageBytes = 0;
    while (std::getline(file, line)) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        if (line.empty()) continue;
        const int32_t status = DecodeRecord(line, bytes);
        if (status != kOk) return status;
        const int type = static_cast<unsigned char>(bytes[3]);
        switch (type) {
            case 0x00: imageBytes += static_cast<unsigned char>(bytes[0]); break;
            case 0x01: return kOk;
            case 0x02: case 0x03: case 0x04: case 0x05: break;
            default: return kErrFpgaRecordType;
        }
    }
    return kErrFpgaNoEndRecord;
}

int32_t FirmwareLoad(const std::string& path) {
    gConfigured = false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return kErrFpgaFileMissing;
    uint32_t imageBytes = 0;
    const int32_t status = ParseFile(file, imageBytes);
    if (status != kOk) return status;
    gImageBytes = imageBytes;
    gConfigured = true;
    return kOk;
}

int32_t FirmwareLoadDefault(const char* fileName) {
    if (std::ifstream(fileName).good()) return FirmwareLoad(fileName);
    return FirmwareLoad(LibraryDirectory() + fileName);
}

bool FpgaConfigured() { return gConfigured; }
uint32_t FpgaImageBytes() { return gImageBytes; }

void FirmwareReset() {
    gConfigured = false;
    gImageBytes = 0;
}

}  // namespace sim
