// trace/trace_format.cc: encoding and decoding of trace records.
//
// A record is a varint payload length, then the payload: one byte of operation (low 5 bits)
// and flags (high 3 bits), the milliseconds since the previous record as a varint, then the
// operation's fields in the order of kLayouts. A check record (operation 31, no flags, then the
// CRC-32C of the group's records, little-endian) closes each group of records; the first
// group's check also covers the header, all but its flags. Integers are zigzag varints, byte strings a
// varint length and the bytes. A clean stream block costs about six bytes: the flags say
// "status 0", "received what was asked" and "the counting pattern, where the last block ended".
#include "trace/trace_format.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "device/contract.h"

#if defined(_WIN32)
#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trace {

namespace {

constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'O', 'T', 'R', 'C'};
constexpr uint8_t kOpMask = 0x1F;
constexpr uint8_t kFlagResultZero = 0x20;        // result is 0 and not stored
constexpr uint8_t kFlagReceivedAll = 0x40;       // ReadBlock: received == requested, not stored
constexpr uint8_t kFlagPatternContinues = 0x80;  // ReadBlock: data = pattern from where it stood
constexpr uint32_t kMinPatternRun = 8;           // shorter matches are kept as they came
constexpr size_t kMaxLengthPrefix = 5;
constexpr uint8_t kOpCheck = 31;                 // the operation byte of a check record
static_assert(kOpCount < kOpCheck && kOpCheck <= kOpMask, "a check record is no operation");
constexpr size_t kCheckPayloadBytes = 5;          // operation byte, CRC

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0x82F63B78u : 0u);
            entries[i] = crc;
        }
        return entries;
    }();
    return table;
}

// The header's bytes but its flags, which the recorder may set after the first group.
uint32_t HeaderCrc(const uint8_t* header) {
    const uint32_t crc = Crc32c(0, header, kHeaderFlagsAt);
    return Crc32c(crc, header + kHeaderFlagsAt + 2, kHeaderBytes - kHeaderFlagsAt - 2);
}

struct Layout {
    uint8_t args;
    bool textIn, dataIn, result;
    uint8_t outs;
    bool textOut, dataOut, stream;
    const char* argNames[3];
};

// Indexed by the operation's number.
const Layout kLayouts[kOpCount + 1] = {
    {},
    {1, false, false, false, 0, false, false, false, {"mask"}},             // SetTraceMask
    {0, false, false, true, 0, false, false, false, {}},                    // Init_Interface
    {1, false, false, false, 0, false, false, false, {"ms"}},               // SetUsbTimeout
    {0, false, false, true, 4, false, false, false, {}},                    // GetKelvoVersion
    {1, true, false, true, 0, false, false, false, {"useDefault"}},         // Init_Firmware
    {0, false, false, true, 0, false, false, false, {}},                    // Free_Interface
    {1, false, false, true, 0, false, false, false, {"which"}},             // GetLastKelvoError
    {2, false, false, true, 0, true, false, false, {"code", "size"}},       // GetKelvoErrorText
    {2, false, false, true, 0, false, false, false, {"address", "value"}},  // RegWrite
    {2, false, false, true, 0, false, false, false, {"address", "value"}},  // RegWriteShort
    {2, false, false, true, 0, false, false, false, {"address", "value"}},  // RegWriteLong
    {2, false, false, true, 0, false, false, false, {"address", "value"}},  // RegWriteLongInc
    {1, false, false, true, 0, false, false, false, {"address"}},           // RegRead
    {1, false, false, true, 0, false, false, false, {"address"}},           // RegReadShort
    {1, false, false, true, 0, false, false, false, {"address"}},           // RegReadShortInc
    {1, false, false, true, 0, false, false, false, {"address"}},           // RegReadLong
    {1, false, false, true, 0, false, false, false, {"address"}},           // RegReadLongInc
    {3, false, true, true, 0, false, false, false, {"id", "first", "last"}},    // I2C_PROM_write
    {3, false, false, true, 0, false, true, false, {"id", "first", "last"}},    // I2C_PROM_read
    {3, false, true, true, 1, false, false, false, {"id", "start", "length"}},  // I2C_LargePROMwr
    {3, false, false, true, 1, false, true, false, {"id", "start", "length"}},  // I2C_LargePROMrd
    {2, false, false, true, 0, false, false, false, {"id", "channel"}},     // I2C_ADCread
    {2, false, false, true, 0, false, false, false, {"id", "value"}},       // I2C_DACout
    {2, false, false, true, 0, false, false, false, {"id", "value"}},       // I2C_TEMPinit
    {1, false, false, true, 0, false, false, false, {"id"}},                // I2C_TEMPread
    {1, false, false, true, 0, false, false, false, {"revolutions"}},       // Pentamotor_init
    {0, false, false, true, 0, false, false, false, {}},                    // Anz_ScanLine
    {0, false, false, true, 0, false, true, false, {}},                     // GetScanStatus
    {1, false, false, true, 1, false, false, true, {"requested"}},          // ReadBlock
    {0, false, false, false, 0, false, false, false, {}},                   // ClearReadBlock
};

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

void PutSigned(std::vector<uint8_t>& out, int64_t value) {
    PutVarint(out, (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
}

void PutBytes(std::vector<uint8_t>& out, const uint8_t* bytes, size_t count) {
    PutVarint(out, count);
    out.insert(out.end(), bytes, bytes + count);
}

// Reads fields of one payload; every read checks the bounds, so a damaged record is refused.
struct Cursor {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;

    uint64_t Varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at == end) break;
            const uint8_t byte = *at++;
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return value;
        }
        ok = false;
        return 0;
    }
    int64_t Signed() {
        const uint64_t raw = Varint();
        return static_cast<int64_t>((raw >> 1) ^ (~(raw & 1) + 1));
    }
    const uint8_t* Take(uint64_t count) {
        if (!ok || count > static_cast<uint64_t>(end - at)) {
            ok = false;
            return nullptr;
        }
        const uint8_t* taken = at;
        at += count;
        return taken;
    }
    void Bytes(std::vector<uint8_t>& out) {
        const uint64_t count = Varint();
        const uint8_t* bytes = Take(count);
        if (bytes != nullptr) out.assign(bytes, bytes + count);
    }
};

// How many bytes of `data` follow the pattern from `patternByte` on.
uint32_t MatchLength(const uint8_t* data, uint32_t count, uint32_t patternByte) {
    const uint8_t* table = CountingPattern();
    uint32_t matched = 0;
    while (matched < count) {
        const uint32_t from = (patternByte + matched) % kPatternBytes;
        const uint32_t chunk = count - matched < kPatternBytes ? count - matched : kPatternBytes;
        if (data[matched] != table[from]) return matched;   // the common miss, without a call
        if (std::memcmp(data + matched, table + from, chunk) == 0) {
            matched += chunk;
            continue;
        }
        uint32_t done = 0;
        while (done + 64 <= chunk && std::memcmp(data + matched + done, table + from + done, 64) == 0) {
            done += 64;
        }
        while (data[matched + done] == table[from + done]) ++done;
        return matched + done;
    }
    return matched;
}

void AddRun(Call& call, bool pattern, uint32_t patternByte, uint32_t bytes, size_t literalAt) {
    if (!pattern && !call.runs.empty() && !call.runs.back().pattern) {
        call.runs.back().bytes += bytes;   // literals side by side are one run
        return;
    }
    call.runs.push_back(StreamRun{pattern, patternByte, bytes, literalAt});
}

// Splits received bytes into pattern runs and literal runs. A run follows either the
// pattern where it stood (so a corrupted word costs two literal bytes) or the word found in
// the data (so a lost word or a restart costs nothing).
void SplitStream(const uint8_t* data, uint32_t count, uint32_t* patternByte, Call& call) {
    uint32_t at = 0;
    uint32_t position = *patternByte;
    while (at < count) {
        const uint32_t left = count - at;
        uint32_t matched = MatchLength(data + at, left, position);
        if (matched < kMinPatternRun && matched != left && left >= 2) {
            const uint32_t found = 2u * static_cast<uint32_t>(data[at] | data[at + 1] << 8);
            if (found != position) {
                const uint32_t foundMatched = MatchLength(data + at, left, found);
                if (foundMatched >= kMinPatternRun || foundMatched == left) {
                    position = found;
                    matched = foundMatched;
                }
            }
        }
        if (matched >= kMinPatternRun || (matched == left && matched > 0)) {
            AddRun(call, true, position, matched, 0);
        } else {
            matched = left < 2 ? left : 2;
            AddRun(call, false, 0, matched, call.literals.size());
            call.literals.insert(call.literals.end(), data + at, data + at + matched);
        }
        at += matched;
        position = (position + matched) % kPatternBytes;
    }
    *patternByte = position;
}

uint32_t AdvancedPattern(const std::vector<StreamRun>& runs, uint32_t patternByte) {
    for (const StreamRun& run : runs) {
        if (run.pattern) patternByte = run.patternByte;
        patternByte = static_cast<uint32_t>((patternByte + uint64_t{run.bytes}) % kPatternBytes);
    }
    return patternByte;
}

std::string Hex(int64_t value) {
    char text[24];
    // The magnitude in unsigned arithmetic: INT64_MIN has no positive counterpart.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::snprintf(text, sizeof text, value < 0 ? "-0x%llx" : "0x%llx", static_cast<unsigned long long>(magnitude));
    return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    constexpr size_t kShown = 32;
    std::string text = "[" + std::to_string(bytes.size()) + ":";
    char byte[4];
    for (size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        std::snprintf(byte, sizeof byte, " %02x", bytes[i]);
        text += byte;
    }
    return text + (bytes.size() > kShown ? " ...]" : "]");
}

std::string DescribeStream(const Call& call) {
    std::string text;
    for (const StreamRun& run : call.runs) {
        text += text.empty() ? " " : ", ";
        if (run.pattern) {
            text += "pattern from word " + Hex(run.patternByte / 2) +
                    (run.patternByte % 2 != 0 ? " (high byte)" : "") + " " + std::to_string(run.bytes) + " bytes";
        } else {
            text += "as came " + HexBytes(std::vector<uint8_t>(call.literals.begin() + static_cast<long>(run.literalAt),
                                                                call.literals.begin() + static_cast<long>(run.literalAt + run.bytes)));
        }
    }
    return text;
}

}  // namespace

const char* OpName(Op op) {
    const int number = static_cast<int>(op);
    return number >= 1 && number <= kOpCount ? kOperationNames[number - 1] : nullptr;
}


uint32_t StreamBytes(const Call& call) {
    const int64_t requested = call.args[0] > 0 ? call.args[0] : 0;
    const int64_t received = call.outs[0] < 0 ? 0 : call.outs[0];
    return static_cast<uint32_t>(received < requested ? received : requested);
}

void ExpandStream(const Call& call, uint32_t from, uint32_t count, uint8_t* out) {
    uint32_t runStart = 0;
    for (const StreamRun& run : call.runs) {
        const uint32_t runEnd = runStart + run.bytes;
        if (count > 0 && from < runEnd) {
            const uint32_t skip = from - runStart;
            uint32_t take = run.bytes - skip;
            if (take > count) take = count;
            if (run.pattern) {
                for (uint32_t done = 0; done < take;) {
                    const uint32_t at = static_cast<uint32_t>((uint64_t{run.patternByte} + skip + done) % kPatternBytes);
                    const uint32_t piece = take - done < kPatternBytes ? take - done : kPatternBytes;
                    std::memcpy(out, CountingPattern() + at, piece);
                    out += piece;
                    done += piece;
                }
            } else {
                std::memcpy(out, call.literals.data() + run.literalAt + skip, take);
                out += take;
            }
            from += take;
            count -= take;
        }
        runStart = runEnd;
    }
}

std::string DescribeCall(const Call& call, bool withResults) {
    const int number = static_cast<int>(call.op);
    if (number < 1 || number > kOpCount) return "operation " + std::to_string(number);
    const Layout& layout = kLayouts[number];
    std::string text = std::string(kOperationNames[number - 1]) + "(";
    for (int i = 0; i < layout.args; ++i) {
        if (i > 0) text += ", ";
        text += std::string(layout.argNames[i]) + " " + Hex(call.args[i]);
    }
    if (layout.textIn) text += std::string(layout.args > 0 ? ", " : "") + "\"" + call.text + "\"";
    if (layout.dataIn) text += " " + HexBytes(call.dataIn);
    text += ")";
    if (!withResults) return text;
    if (layout.result) {
        text += " = " + std::to_string(call.result);
    }
    if (layout.outs > 0) {
        text += " ->";
        for (int i = 0; i < layout.outs; ++i) text += " " + Hex(call.outs[i]);
    }
    if (layout.textOut) text += " \"" + call.text + "\"";
    if (layout.dataOut) text += " " + HexBytes(call.dataOut);
    if (layout.stream) text += DescribeStream(call);
    return text;
}

uint32_t Crc32c(uint32_t crc, const uint8_t* bytes, size_t count) {
    const std::array<uint32_t, 256>& table = CrcTable();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFFu];
    return ~crc;
}

void Encoder::AppendHeader(std::vector<uint8_t>& out, uint64_t startUnixMs) {
    const size_t start = out.size();
    out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
    out.push_back(static_cast<uint8_t>(kFormatVersion));
    out.push_back(static_cast<uint8_t>(kFormatVersion >> 8));
    out.push_back(0);
    out.push_back(0);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(startUnixMs >> (8 * i)));
    groupCrc_ = HeaderCrc(out.data() + start);
}

void Encoder::CloseGroup(std::vector<uint8_t>& out) {
    if (groupRecords_ == 0) return;
    out.push_back(static_cast<uint8_t>(kCheckPayloadBytes));
    out.push_back(kOpCheck);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(groupCrc_ >> (8 * i)));
    groupCrc_ = 0;
    groupRecords_ = 0;
    groupBytes_ = 0;
}

void Encoder::AppendStream(const Call& call, std::vector<uint8_t>& out, uint8_t* flags) {
    const uint32_t bytes = StreamBytes(call);
    if (bytes > 0 && call.stream != nullptr && MatchLength(call.stream, bytes, patternByte_) == bytes) {
        *flags |= kFlagPatternContinues;
        patternByte_ = static_cast<uint32_t>((uint64_t{patternByte_} + bytes) % kPatternBytes);
        return;
    }
    Call split;
    if (bytes > 0 && call.stream != nullptr) SplitStream(call.stream, bytes, &patternByte_, split);
    PutVarint(out, split.runs.size());
    for (const StreamRun& run : split.runs) {
        PutVarint(out, (uint64_t{run.bytes} << 1) | (run.pattern ? 1u : 0u));
        if (run.pattern) {
            PutVarint(out, run.patternByte);
        } else {
            out.insert(out.end(), split.literals.begin() + static_cast<long>(run.literalAt),
                       split.literals.begin() + static_cast<long>(run.literalAt + run.bytes));
        }
    }
}

void Encoder::Append(const Call& call, std::vector<uint8_t>& out) {
    const Layout& layout = kLayouts[static_cast<int>(call.op)];
    const size_t start = out.size();
    out.resize(start + kMaxLengthPrefix + 1);   // room for the length, then the operation byte
    uint8_t flags = 0;
    PutVarint(out, call.timeMs >= lastTimeMs_ ? call.timeMs - lastTimeMs_ : 0);
    lastTimeMs_ = call.timeMs > lastTimeMs_ ? call.timeMs : lastTimeMs_;
    for (int i = 0; i < layout.args; ++i) PutSigned(out, call.args[i]);
    if (layout.textIn) PutBytes(out, reinterpret_cast<const uint8_t*>(call.text.data()), call.text.size());
    if (layout.dataIn) PutBytes(out, call.dataIn.data(), call.dataIn.size());
    if (layout.result && call.result == 0) {
        flags |= kFlagResultZero;
    } else if (layout.result) {
        PutSigned(out, call.result);
    }
    int outs = layout.outs;
    if (layout.stream && call.outs[0] == call.args[0]) {
        flags |= kFlagReceivedAll;
        outs = 0;
    }
    for (int i = 0; i < outs; ++i) PutSigned(out, call.outs[i]);
    if (layout.textOut) PutBytes(out, reinterpret_cast<const uint8_t*>(call.text.data()), call.text.size());
    if (layout.dataOut) PutBytes(out, call.dataOut.data(), call.dataOut.size());
    if (layout.stream) AppendStream(call, out, &flags);
    out[start + kMaxLengthPrefix] = static_cast<uint8_t>(static_cast<uint8_t>(call.op) | flags);

    // The length goes right before the payload; the unused room is closed up.
    const size_t payloadBytes = out.size() - start - kMaxLengthPrefix;
    std::vector<uint8_t> prefix;
    PutVarint(prefix, payloadBytes);
    const size_t recordStart = start + kMaxLengthPrefix - prefix.size();
    std::memcpy(out.data() + recordStart, prefix.data(), prefix.size());
    out.erase(out.begin() + static_cast<long>(start), out.begin() + static_cast<long>(recordStart));

    groupCrc_ = Crc32c(groupCrc_, out.data() + start, out.size() - start);
    ++groupRecords_;
    groupBytes_ += out.size() - start;
    if (call.op != Op::ReadBlock || groupRecords_ >= kGroupRecords || groupBytes_ >= kGroupBytes) CloseGroup(out);
}

bool DecodePayload(const uint8_t* payload, size_t size, uint64_t* lastTimeMs, uint32_t* patternByte,
                   Call& call) {
    if (size == 0) return false;
    Cursor in{payload + 1, payload + size};
    const uint8_t flags = payload[0] & static_cast<uint8_t>(~kOpMask);
    const int number = payload[0] & kOpMask;
    if (number < 1 || number > kOpCount) return false;
    const Layout& layout = kLayouts[number];
    call = Call{};
    call.op = static_cast<Op>(number);
    call.timeMs = *lastTimeMs + in.Varint();
    for (int i = 0; i < layout.args; ++i) call.args[i] = in.Signed();
    if (layout.textIn) {
        std::vector<uint8_t> bytes;
        in.Bytes(bytes);
        call.text.assign(bytes.begin(), bytes.end());
    }
    if (layout.dataIn) in.Bytes(call.dataIn);
    if (layout.result && (flags & kFlagResultZero) == 0) call.result = in.Signed();
    if ((flags & kFlagReceivedAll) != 0) call.outs[0] = call.args[0];
    const int outs = (flags & kFlagReceivedAll) != 0 ? 0 : layout.outs;
    for (int i = 0; i < outs; ++i) call.outs[i] = in.Signed();
    if (layout.textOut) {
        std::vector<uint8_t> bytes;
        in.Bytes(bytes);
        call.text.assign(bytes.begin(), bytes.end());
    }
    if (layout.dataOut) in.Bytes(call.dataOut);
    uint32_t nextPattern = *patternByte;
    if (layout.stream) {
        const uint32_t bytes = StreamBytes(call);
        if ((flags & kFlagPatternContinues) != 0) {
            if (bytes == 0) return false;
            call.runs.push_back(StreamRun{true, *patternByte, bytes, 0});
        } else {
            const uint64_t runs = in.Varint();
            uint64_t total = 0;
            for (uint64_t i = 0; i < runs && in.ok && total <= bytes; ++i) {
                const uint64_t head = in.Varint();
                const uint64_t runBytes = head >> 1;
                if ((head & 1) != 0) {
                    const uint64_t from = in.Varint();
                    if (from >= kPatternBytes) return false;
                    call.runs.push_back(StreamRun{true, static_cast<uint32_t>(from), static_cast<uint32_t>(runBytes), 0});
                } else {
                    const uint8_t* literal = in.Take(runBytes);
                    if (literal == nullptr) return false;
                    call.runs.push_back(StreamRun{false, 0, static_cast<uint32_t>(runBytes), call.literals.size()});
                    call.literals.insert(call.literals.end(), literal, literal + runBytes);
                }
                total += runBytes;
            }
            if (total != bytes) return false;
        }
        nextPattern = AdvancedPattern(call.runs, *patternByte);
    } else if ((flags & ~kFlagResultZero) != 0) {
        return false;
    }
    if (!in.ok || in.at != in.end) return false;
    *lastTimeMs = call.timeMs;
    *patternByte = nextPattern;
    return true;
}

Reader::~Reader() {
    if (file_ != nullptr) std::fclose(file_);
}

bool Reader::Open(const std::string& path, std::string* error) {
    // Only a regular file, opened without waiting: a FIFO or a device at the name is refused.
#if defined(_WIN32)
    std::error_code code;
    const bool exists = std::filesystem::exists(path, code);
    if (exists && !std::filesystem::is_regular_file(path, code)) {
        *error = path + " is not a regular file";
        return false;
    }
    file_ = exists ? std::fopen(path.c_str(), "rb") : nullptr;
    if (file_ == nullptr) {
        *error = "cannot open the trace " + path + ": " + (exists ? "it cannot be read" : "no such file");
        return false;
    }
    size_ = static_cast<uint64_t>(std::filesystem::file_size(path, code));
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open the trace " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        *error = path + " is not a regular file";
        return false;
    }
    file_ = fdopen(fd, "rb");
    if (file_ == nullptr) {
        close(fd);
        *error = "cannot open the trace " + path + ": " + std::strerror(errno);
        return false;
    }
    size_ = static_cast<uint64_t>(status.st_size);
#endif
    return ReadHeader(path, error);
}

bool Reader::OpenBytes(const uint8_t* bytes, size_t size, std::string* error) {
    memory_ = bytes;
    size_ = size;
    return ReadHeader("the trace", error);
}

size_t Reader::ReadSome(uint8_t* out, size_t count) {
    size_t got = 0;
    if (memory_ != nullptr) {
        got = static_cast<size_t>(size_ - consumed_ < count ? size_ - consumed_ : count);
        if (got > 0) std::memcpy(out, memory_ + consumed_, got);
    } else if (file_ != nullptr) {
        got = std::fread(out, 1, count, file_);
    }
    consumed_ += got;
    return got;
}

bool Reader::ReadHeader(const std::string& name, std::string* error) {
    uint8_t header[kHeaderBytes];
    if (ReadSome(header, sizeof header) != sizeof header || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        *error = name + " is not a trace of the recording library";
        return false;
    }
    version_ = header[8] | header[9] << 8;
    if (version_ == 0 || version_ > kFormatVersion) {
        *error = name + ": trace format version " + std::to_string(version_) +
                 " is newer than this reader understands (" + std::to_string(kFormatVersion) +
                 "); read it with a newer build";
        return false;
    }
    const uint16_t flags = static_cast<uint16_t>(header[kHeaderFlagsAt] | header[kHeaderFlagsAt + 1] << 8);
    const uint16_t known = version_ >= 2 ? kHeaderFlagCut : 0;
    if ((flags & ~known) != 0) {
        *error = name + " is a damaged trace: its header has unknown flags";
        return false;
    }
    cut_ = (flags & kHeaderFlagCut) != 0;
    headerCrc_ = HeaderCrc(header);
    for (int i = 0; i < 8; ++i) startUnixMs_ |= static_cast<uint64_t>(header[12 + i]) << (8 * i);
    wholeBytes_ = kHeaderBytes;
    return true;
}

ReadStatus Reader::EndStatus(bool insideGroup) const {
    if (cut_) return ReadStatus::kCut;
    return insideGroup ? ReadStatus::kTruncated : ReadStatus::kEnd;
}

// Reads records up to and including the group's check record (version 1: one record), and
// decodes the group's calls once its check has matched. A length beyond what is left of the
// file is a cut or damaged record: nothing is allocated for it.
ReadStatus Reader::ReadGroup() {
    group_.clear();
    ready_.clear();
    readyAt_ = 0;
    uint32_t crc = wholeBytes_ == kHeaderBytes ? headerCrc_ : 0;
    for (;;) {
        uint8_t prefix[kMaxLengthPrefix];
        uint64_t length = 0;
        size_t lengthBytes = 0;
        for (;;) {
            if (ReadSome(prefix + lengthBytes, 1) != 1) {
                problemEnd_ = consumed_;
                return EndStatus(lengthBytes > 0 || !group_.empty());
            }
            length |= static_cast<uint64_t>(prefix[lengthBytes] & 0x7F) << (7 * lengthBytes);
            if ((prefix[lengthBytes++] & 0x80) == 0) break;
            if (lengthBytes == kMaxLengthPrefix) {
                problemEnd_ = consumed_;
                return ReadStatus::kCorrupt;
            }
        }
        if (length > size_ - consumed_) {
            problemEnd_ = size_;
            return cut_ ? ReadStatus::kCut : ReadStatus::kTruncated;
        }
        std::vector<uint8_t> payload(static_cast<size_t>(length));
        if (ReadSome(payload.data(), payload.size()) != payload.size()) {
            problemEnd_ = consumed_;
            return EndStatus(true);
        }
        const bool check = version_ >= 2 && !payload.empty() && payload[0] == kOpCheck;
        if (check) {
            problemEnd_ = consumed_;
            if (payload.size() != kCheckPayloadBytes || group_.empty()) return ReadStatus::kCorrupt;
            const uint32_t stored = static_cast<uint32_t>(payload[1] | payload[2] << 8 | payload[3] << 16) |
                                    static_cast<uint32_t>(payload[4]) << 24;
            if (stored != crc) return ReadStatus::kCorrupt;
            break;
        }
        crc = Crc32c(crc, prefix, lengthBytes);
        crc = Crc32c(crc, payload.data(), payload.size());
        group_.push_back(std::move(payload));
        if (version_ < 2) break;
        if (group_.size() > kGroupRecords) {
            problemEnd_ = consumed_;
            return ReadStatus::kCorrupt;
        }
    }
    for (const std::vector<uint8_t>& payload : group_) {
        Call call;
        if (!DecodePayload(payload.data(), payload.size(), &lastTimeMs_, &patternByte_, call)) {
            problemEnd_ = consumed_;
            ready_.clear();
            return ReadStatus::kCorrupt;
        }
        ready_.push_back(std::move(call));
    }
    return ReadStatus::kCall;
}

ReadStatus Reader::Next(Call& call) {
    if (stopped_ != ReadStatus::kCall) return stopped_;
    if (readyAt_ == ready_.size()) {
        const ReadStatus status = ReadGroup();
        if (status != ReadStatus::kCall) {
            stopped_ = status;
            return status;
        }
    }
    call = std::move(ready_[readyAt_++]);
    ++records_;
    if (readyAt_ == ready_.size()) wholeBytes_ = consumed_;   // the group, its check included
    return ReadStatus::kCall;
}

}  // namespace trace

namespace trace {

bool IsFailure(const Call& call) {
    switch (call.op) {
        case Op::RegWrite: case Op::RegWriteShort: case Op::RegWriteLong: case Op::RegWriteLongInc:
            return !RegisterWriteSucceeded(static_cast<int32_t>(call.result));
        case Op::I2C_ADCread: return AdcResultIsError(static_cast<int32_t>(call.result));
        case Op::I2C_TEMPread: return TemperatureReadFailed(static_cast<int32_t>(call.result));
        case Op::Anz_ScanLine: return ScanLineCountFailed(static_cast<int32_t>(call.result));
        case Op::RegRead: case Op::RegReadShort: case Op::RegReadShortInc: case Op::RegReadLong:
        case Op::RegReadLongInc: case Op::GetLastKelvoError: case Op::SetTraceMask:
        case Op::SetUsbTimeout: case Op::ClearReadBlock:
            return false;
        default: return call.result != 0;
    }
}

}  // namespace trace

namespace trace {

bool SameArguments(const Call& a, const Call& b) {
    if (a.op != b.op) return false;
    const Layout& layout = kLayouts[static_cast<int>(a.op)];
    for (int i = 0; i < layout.args; ++i) {
        if (a.args[i] != b.args[i]) return false;
    }
    return (!layout.textIn || a.text == b.text) && (!layout.dataIn || a.dataIn == b.dataIn);
}

}  // namespace trace
