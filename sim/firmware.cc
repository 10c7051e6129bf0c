// sim/firmware.cc: loads an FPGA configuration file of Intel HEX records
// (":LLAAAATT<data>CC"). Data (00), end (01), segment and linear address (02, 04) and start
// address (03, 05) records are understood; anything else is refused, as is a file without
// its end record.
#include "sim/firmware.h"

#include <exception>
#include <string>

#include "sim/errors.h"
#include "host/host.h"

namespace sim {

static bool gConfigured = false;
static uint32_t gImageBytes = 0;

static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One record's bytes (count, address, type, data, checksum) fit half a line.
constexpr size_t kRecordLimitBytes = kFpgaLineLimitBytes / 2;

// Decodes one record line into bytes (count, address, type, data, checksum).
static int32_t DecodeRecord(const char* line, size_t length, uint8_t* bytes, size_t& byteCount) {
    if (length < 11 || line[0] != ':' || (length - 1) % 2 != 0) return kErrFpgaRecordMalformed;
    byteCount = 0;
    for (size_t i = 1; i + 1 < length; i += 2) {
        const int high = HexValue(line[i]);
        const int low = HexValue(line[i + 1]);
        if (high < 0 || low < 0) return kErrFpgaRecordMalformed;
        bytes[byteCount++] = static_cast<uint8_t>(high * 16 + low);
    }
    const size_t dataBytes = bytes[0];
    if (byteCount != dataBytes + 5) return kErrFpgaRecordMalformed;
    unsigned sum = 0;
    for (size_t i = 0; i < byteCount; ++i) sum += bytes[i];
    if ((sum & 0xFF) != 0) return kErrFpgaChecksum;
    return kOk;
}

namespace {

// The source's bytes one at a time, through a buffer.
class ByteReader {
public:
    explicit ByteReader(FpgaFileSource& source) : source_(source) {}
    // A byte (0-255), kEnd at the end of the file, kFailed when it could not be read.
    static constexpr int kEnd = -1;
    static constexpr int kFailed = -2;
    int Next() {
        if (next_ == filled_) {
            const int64_t n = source_.Read(buffer_, sizeof buffer_);
            if (n < 0) return kFailed;
            if (n == 0) return kEnd;
            next_ = 0;
            filled_ = static_cast<size_t>(n);
        }
        ++consumed_;
        return buffer_[next_++];
    }
    uint64_t Consumed() const { return consumed_; }

private:
    FpgaFileSource& source_;
    uint8_t buffer_[16384];
    size_t next_ = 0;
    size_t filled_ = 0;
    uint64_t consumed_ = 0;
};

enum class LineRead { kLine, kEnd, kTooLong, kFailed };

}  // namespace

// Reads one line of at most kFpgaLineLimitBytes into `line`, without its end, so that an
// endless line costs no more than a legal one.
static LineRead ReadLine(ByteReader& in, char* line, size_t& length) {
    length = 0;
    for (;;) {
        const int c = in.Next();
        if (c == ByteReader::kFailed) return LineRead::kFailed;
        if (c == ByteReader::kEnd) return length > 0 ? LineRead::kLine : LineRead::kEnd;
        if (c == '\n') return LineRead::kLine;
        if (length >= kFpgaLineLimitBytes) return LineRead::kTooLong;
        line[length++] = static_cast<char>(c);
    }
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int32_t ParseFpgaFile(FpgaFileSource& source, uint32_t& imageBytes) noexcept {
    ByteReader in(source);
    char line[kFpgaLineLimitBytes];
    uint8_t bytes[kRecordLimitBytes];
    imageBytes = 0;
    for (;;) {
        size_t length = 0;
        const LineRead read = ReadLine(in, line, length);
        if (read == LineRead::kFailed) return kErrFpgaFileMissing;
        if (read == LineRead::kEnd) return kErrFpgaNoEndRecord;
        if (read == LineRead::kTooLong || in.Consumed() > kFpgaFileLimitBytes) return kErrFpgaRecordMalformed;
        while (length > 0 && IsBlank(line[length - 1])) --length;
        if (length == 0) continue;
        size_t byteCount = 0;
        const int32_t status = DecodeRecord(line, length, bytes, byteCount);
        if (status != kOk) return status;
        switch (bytes[3]) {
            case 0x00: imageBytes += bytes[0]; break;
            case 0x01: return kOk;
            case 0x02: case 0x03: case 0x04: case 0x05: break;
            default: return kErrFpgaRecordType;
        }
    }
}

namespace {

class InputFileSource final : public FpgaFileSource {
public:
    explicit InputFileSource(intptr_t handle) : handle_(handle) {}
    ~InputFileSource() { host::CloseInputFile(handle_); }
    InputFileSource(const InputFileSource&) = delete;
    InputFileSource& operator=(const InputFileSource&) = delete;
    int64_t Read(uint8_t* data, size_t capacity) noexcept override { return host::ReadInputFile(handle_, data, capacity); }

private:
    intptr_t handle_;
};

}  // namespace

int32_t FirmwareLoad(const char* path) noexcept {
    gConfigured = false;
    intptr_t handle = -1;
    uint64_t fileBytes = 0;
    if (!host::OpenInputFile(path, handle, fileBytes)) return kErrFpgaFileMissing;
    InputFileSource source(handle);
    // A file too large for any FPGA is refused before a byte of it is read.
    if (fileBytes > kFpgaFileLimitBytes) return kErrFpgaRecordMalformed;
    uint32_t imageBytes = 0;
    const int32_t status = ParseFpgaFile(source, imageBytes);
    if (status != kOk) return status;
    gImageBytes = imageBytes;
    gConfigured = true;
    return kOk;
}

int32_t FirmwareLoadDefault(const char* fileName) noexcept {
    intptr_t handle = -1;
    uint64_t fileBytes = 0;
    if (host::OpenInputFile(fileName, handle, fileBytes)) {
        host::CloseInputFile(handle);
        return FirmwareLoad(fileName);
    }
    try {
        return FirmwareLoad((host::LibraryDirectory() + fileName).c_str());
    } catch (const std::exception&) {   // no memory for the path: no file to be had
        gConfigured = false;
        return kErrFpgaFileMissing;
    }
}

bool FpgaConfigured() { return gConfigured; }
uint32_t FpgaImageBytes() { return gImageBytes; }

void FirmwareReset() {
    gConfigured = false;
    gImageBytes = 0;
}

}  // namespace sim
