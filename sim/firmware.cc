// sim/firmware.cc: loads an FPGA configuration file of Intel HEX records
// (":LLAAAATT<data>CC"). Data (00), end (01), segment and linear address (02, 04) and start
// address (03, 05) records are understood; anything else is refused, as is a file without
// its end record.
#include "sim/firmware.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <istream>
#include <system_error>

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

// Reads one line of at most kFpgaLineLimitBytes into `line`, without its end; false at the
// end of the input. A longer line is cut there and reported by *tooLong, so that an endless
// line costs no more memory than a legal one.
static bool ReadLine(std::istream& in, std::string& line, uint64_t& consumed, bool* tooLong) {
    line.clear();
    *tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) return !line.empty() || *tooLong;
        ++consumed;
        if (c == '\n') return true;
        if (line.size() >= kFpgaLineLimitBytes) {
            *tooLong = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

int32_t ParseFpgaFile(std::istream& in, uint32_t& imageBytes) {
    std::string line, bytes;
    imageBytes = 0;
    uint64_t consumed = 0;
    bool tooLong = false;
    while (ReadLine(in, line, consumed, &tooLong)) {
        if (tooLong || consumed > kFpgaFileLimitBytes) return kErrFpgaRecordMalformed;
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
    // A regular file too large for any FPGA is refused before a byte of it is read; for
    // anything else the reader's own limits hold.
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error) && std::filesystem::file_size(path, error) > kFpgaFileLimitBytes) {
        return kErrFpgaRecordMalformed;
    }
    uint32_t imageBytes = 0;
    const int32_t status = ParseFpgaFile(file, imageBytes);
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
