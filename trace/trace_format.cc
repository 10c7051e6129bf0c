// trace/trace_format.cc: encoding and decoding of trace records.
//
// A record is a varint payload length, then the payload: one byte of operation (low 5 bits)
// and flags (high 3 bits), the milliseconds since the previous record as a varint, then the
// operation's fields in the order of kLayouts. A check record (operation 31, no flags, then the
// CRC-32C of the group's records, little-endian) closes each group of records. The header
// carries its own CRC-32C, flags included (version 2: the first group's check covers the
// header but its flags). A session's last group holds the closing record alone (operation 0,
// no flags, the number of calls before it). Integers are zigzag varints, byte strings a
// varint length and the bytes. A clean stream block costs about six bytes: the flags say
// "status 0", "received what was asked" and "the counting pattern, where the last block ended".
#include "trace/trace_format.h"

#include <array>
#include <cstring>

#include "trace/layout.h"

namespace trace {

using namespace layout;

namespace {

constexpr uint8_t kFlagResultZero = 0x20;        // result is 0 and not stored
constexpr uint8_t kFlagReceivedAll = 0x40;       // ReadBlock: received == requested, not stored
constexpr uint8_t kFlagPatternContinues = 0x80;  // ReadBlock: data = pattern from where it stood
constexpr uint32_t kMinPatternRun = 8;           // shorter matches are kept as they came

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

}  // namespace

namespace layout {

// The header's bytes but its flags, which the recorder may set after the first group.
uint32_t OldHeaderCrc(const uint8_t* header) {
    const uint32_t crc = Crc32c(0, header, kHeaderFlagsAt);
    return Crc32c(crc, header + kHeaderFlagsAt + 2, kOldHeaderBytes - kHeaderFlagsAt - 2);
}

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

}  // namespace layout

namespace {

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

}  // namespace

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

namespace {

uint32_t Crc32cByTable(uint32_t crc, const uint8_t* bytes, size_t count) {
    const std::array<uint32_t, 256>& table = CrcTable();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFFu];
    return ~crc;
}

#if defined(__x86_64__)
// The processor's own CRC-32C, eight bytes a step: every record of a group goes through the
// check, and with the table a clean stream block's few bytes cost as much as a kilobyte of
// its comparison with the pattern.
__attribute__((target("sse4.2"))) uint32_t Crc32cByInstruction(uint32_t crc, const uint8_t* bytes, size_t count) {
    uint64_t state = ~crc;
    for (; count >= 8; count -= 8, bytes += 8) {
        uint64_t eight;
        std::memcpy(&eight, bytes, sizeof eight);
        state = __builtin_ia32_crc32di(state, eight);
    }
    for (; count > 0; --count, ++bytes) state = __builtin_ia32_crc32qi(static_cast<uint32_t>(state), *bytes);
    return ~static_cast<uint32_t>(state);
}
#endif

}  // namespace

uint32_t Crc32c(uint32_t crc, const uint8_t* bytes, size_t count) {
#if defined(__x86_64__)
    static const bool byInstruction = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.2") != 0;
    }();
    if (byInstruction) return Crc32cByInstruction(crc, bytes, count);
#endif
    return Crc32cByTable(crc, bytes, count);
}

void Encoder::AppendHeader(std::vector<uint8_t>& out, uint64_t startUnixMs, uint16_t flags) {
    const size_t start = out.size();
    out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
    out.push_back(static_cast<uint8_t>(kFormatVersion));
    out.push_back(static_cast<uint8_t>(kFormatVersion >> 8));
    out.push_back(static_cast<uint8_t>(flags));
    out.push_back(static_cast<uint8_t>(flags >> 8));
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(startUnixMs >> (8 * i)));
    const uint32_t crc = Crc32c(0, out.data() + start, kOldHeaderBytes);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
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

void Encoder::AppendClosing(std::vector<uint8_t>& out) {
    CloseGroup(out);
    const size_t start = out.size();
    uint8_t payload[1 + 10] = {kOpClosing};
    size_t payloadBytes = 1;
    for (uint64_t value = calls_; ; value >>= 7) {
        payload[payloadBytes++] = static_cast<uint8_t>(value >= 0x80 ? (value & 0x7F) | 0x80 : value);
        if (value < 0x80) break;
    }
    out.push_back(static_cast<uint8_t>(payloadBytes));
    out.insert(out.end(), payload, payload + payloadBytes);
    groupCrc_ = Crc32c(0, out.data() + start, out.size() - start);
    groupRecords_ = 1;
    CloseGroup(out);
}

bool Encoder::ContinuesHere(const Call& call) const {
    const uint32_t bytes = StreamBytes(call);
    return bytes > 0 && call.stream != nullptr &&
           (patternByte_ % 2 == 0 ? ContinuesPattern(call.stream, bytes, patternByte_)
                                  : MatchLength(call.stream, bytes, patternByte_) == bytes);
}

void Encoder::AppendStream(const Call& call, std::vector<uint8_t>& out, uint8_t* flags, bool mayContinue) {
    const uint32_t bytes = StreamBytes(call);
    if (mayContinue && ContinuesHere(call)) {
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

// A block with status 0 that received all it asked for, all of it the pattern where the last
// block ended: the common record, put together in place.
void Encoder::AppendCleanBlock(const Call& call, std::vector<uint8_t>& out) {
    uint8_t record[2 + 10 + 10];
    size_t size = 2;
    const auto put = [&](uint64_t value) {
        for (; value >= 0x80; value >>= 7) record[size++] = static_cast<uint8_t>(value | 0x80);
        record[size++] = static_cast<uint8_t>(value);
    };
    record[1] = static_cast<uint8_t>(static_cast<uint8_t>(Op::ReadBlock) | kFlagResultZero | kFlagReceivedAll |
                                     kFlagPatternContinues);
    put(call.timeMs >= lastTimeMs_ ? call.timeMs - lastTimeMs_ : 0);
    put((static_cast<uint64_t>(call.args[0]) << 1) ^ static_cast<uint64_t>(call.args[0] >> 63));
    record[0] = static_cast<uint8_t>(size - 1);   // at most 21 bytes of payload: one byte of length
    out.insert(out.end(), record, record + size);
    lastTimeMs_ = call.timeMs > lastTimeMs_ ? call.timeMs : lastTimeMs_;
    patternByte_ = static_cast<uint32_t>((uint64_t{patternByte_} + StreamBytes(call)) % kPatternBytes);
}

void Encoder::AppendRecord(const Call& call, std::vector<uint8_t>& out, bool mayContinue) {
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
    if (layout.stream) AppendStream(call, out, &flags, mayContinue);
    out[start + kMaxLengthPrefix] = static_cast<uint8_t>(static_cast<uint8_t>(call.op) | flags);

    // The length goes right before the payload; the unused room is closed up.
    uint8_t prefix[kMaxLengthPrefix];
    size_t prefixBytes = 0;
    for (uint64_t value = out.size() - start - kMaxLengthPrefix; ; value >>= 7) {
        prefix[prefixBytes++] = static_cast<uint8_t>(value >= 0x80 ? (value & 0x7F) | 0x80 : value);
        if (value < 0x80) break;
    }
    const size_t recordStart = start + kMaxLengthPrefix - prefixBytes;
    std::memcpy(out.data() + recordStart, prefix, prefixBytes);
    out.erase(out.begin() + static_cast<long>(start), out.begin() + static_cast<long>(recordStart));
}

void Encoder::Append(const Call& call, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    const bool whole = call.op == Op::ReadBlock && call.result == 0 && call.outs[0] == call.args[0];
    if (whole && ContinuesHere(call)) {
        AppendCleanBlock(call, out);
    } else {
        AppendRecord(call, out, !whole);
    }
    ++calls_;
    groupCrc_ = Crc32c(groupCrc_, out.data() + start, out.size() - start);
    ++groupRecords_;
    groupBytes_ += out.size() - start;
    if (call.op != Op::ReadBlock || groupRecords_ >= kGroupRecords || groupBytes_ >= kGroupBytes) CloseGroup(out);
}

namespace {

// The runs of a block's data as they were stored: false unless they make up exactly `bytes`.
bool DecodeRuns(Cursor& in, uint32_t bytes, Call& call) {
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
    return total == bytes;
}

}  // namespace

// The fields are checked against their bounds before a block's data is decoded, so that the
// data's size comes from a request that could have been made.
bool DecodePayload(const uint8_t* payload, size_t size, uint64_t* lastTimeMs, uint32_t* patternByte,
                   Call& call) {
    if (size == 0) return false;
    Cursor in{payload + 1, payload + size};
    const uint8_t flags = payload[0] & static_cast<uint8_t>(~kOpMask);
    const int number = payload[0] & kOpMask;
    if (number < 1 || number > kOpCount) return false;
    const Layout& layout = kLayouts[number];
    if (!layout.stream && (flags & ~kFlagResultZero) != 0) return false;
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
    if (!in.ok || !WithinBounds(call)) return false;
    uint32_t nextPattern = *patternByte;
    if (layout.stream) {
        const uint32_t bytes = StreamBytes(call);
        if ((flags & kFlagPatternContinues) != 0) {
            if (bytes == 0) return false;
            call.runs.push_back(StreamRun{true, *patternByte, bytes, 0});
        } else if (!DecodeRuns(in, bytes, call)) {
            return false;
        }
        nextPattern = AdvancedPattern(call.runs, *patternByte);
    }
    if (!in.ok || in.at != in.end) return false;
    *lastTimeMs = call.timeMs;
    *patternByte = nextPattern;
    return true;
}

}  // namespace trace
