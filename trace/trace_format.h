// trace/trace_format.h: the trace file of the recording device library: one header, then
// one record per library call. The encoder and the reader share the state that makes records
// small (the time of the last record, where the counting pattern stands), so a trace is read
// only from its start. Records come in small groups, each closed by a check record that holds
// the CRC-32C of the group, so a damaged group is refused before any of its calls is used.
// A session that ended ends with a closing record, so a trace without one (a program that was
// killed) is told from a whole one. The layout is described in the README ("Trace files").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/contract.h"
#include "device/counting_pattern.h"
#include "device/kelvoscanusb.h"

namespace trace {

// Version 1 has no check records, version 2 no closing record and no check of its header's
// flags; both are still read.
constexpr uint32_t kFormatVersion = 3;
constexpr size_t kHeaderBytes = 24;             // magic 8, version 2, flags 2, start time 8, CRC 4
constexpr size_t kOldHeaderBytes = 20;          // versions 1 and 2: no CRC of the header
constexpr size_t kHeaderFlagsAt = 10;
constexpr uint16_t kHeaderFlagCut = 1;          // the recorder stopped: calls after the end are missing
constexpr uint32_t kGroupRecords = 256;         // most records in a group before its check record
constexpr uint32_t kOldGroupRecords = 32;       // the same in version 2
constexpr size_t kGroupBytes = 65536;           // a group is closed once it holds this much
// The largest payload a record can have: the largest buffer of one call, and its other
// fields. A longer length is damage, refused before anything is allocated for it.
constexpr size_t kLargestRecordBytes = kLargestTransferBytes + 256;

// A record's operation: its place in the library's list of operations, from 1.
enum class Op : uint8_t {
    kNone = 0,
#define KELVO_OP(result, name, parameters, arguments) name,
    KELVO_OPERATIONS(KELVO_OP)
#undef KELVO_OP
};
constexpr int kOpCount = kOperationCount;

const char* OpName(Op op);   // nullptr for a number that is no operation

// A piece of ReadBlock data: bytes of the counting pattern from a byte position of it, or
// bytes as they came (taken from Call::literals).
struct StreamRun {
    bool pattern;
    uint32_t patternByte;   // pattern runs: 2 * word + (0 low byte, 1 high byte)
    uint32_t bytes;
    size_t literalAt;       // literal runs: offset into Call::literals
};

// One call: what the program passed and what the library gave back. Which fields an
// operation uses is fixed per operation (trace_format.cc, kLayouts).
struct Call {
    Op op = Op::Init_Interface;
    uint64_t timeMs = 0;        // since the trace began, when the call returned
    int64_t args[3] = {};       // numeric arguments in the order of the declaration
    int64_t result = 0;
    int64_t outs[4] = {};       // the versions; *length of the large EEPROM calls; *received
    std::string text;           // Init_Firmware's file name; the text GetKelvoErrorText wrote
    std::vector<uint8_t> dataIn;    // bytes the program handed over (EEPROM writes)
    std::vector<uint8_t> dataOut;   // bytes written back (EEPROM reads, the status record)
    // ReadBlock data: to encode, `stream` points at the received bytes; decoded, it is runs.
    const uint8_t* stream = nullptr;
    std::vector<StreamRun> runs;
    std::vector<uint8_t> literals;
};

// A call of op with its numeric arguments, as the recorder records it and replay compares it.
inline Call CallOf(Op op, int64_t a0 = 0, int64_t a1 = 0, int64_t a2 = 0) {
    Call call;
    call.op = op;
    call.args[0] = a0;
    call.args[1] = a1;
    call.args[2] = a2;
    return call;
}

// Bytes of ReadBlock data a call carries: the received count, within 0..requested.
uint32_t StreamBytes(const Call& call);
// Writes the decoded ReadBlock data of `call` from byte `from` on, `count` bytes, to `out`.
void ExpandStream(const Call& call, uint32_t from, uint32_t count, uint8_t* out);

// "RegWrite(address 0x4, value 0x1)"; with results: " = 1", data in hex or summarised.
std::string DescribeCall(const Call& call, bool withResults);

// CRC-32C (Castagnoli), continued from `crc` (0 to start).
uint32_t Crc32c(uint32_t crc, const uint8_t* bytes, size_t count);

// Turns calls into whole records (length prefix and payload), each appended in one piece
// together with the group's check record when the call closes a group: every call but a
// ReadBlock closes one. The session's end is AppendClosing, after the last call.
class Encoder {
public:
    // The file's header, with its own check over all its bytes; written again with
    // kHeaderFlagCut when the recorder has to stop.
    static void AppendHeader(std::vector<uint8_t>& out, uint64_t startUnixMs, uint16_t flags = 0);
    void Append(const Call& call, std::vector<uint8_t>& out);
    // Appends the check record of a group still open (nothing when none is).
    void CloseGroup(std::vector<uint8_t>& out);
    // The session's last record, in a group of its own: the program ended, nothing is missing.
    void AppendClosing(std::vector<uint8_t>& out);
    bool GroupOpen() const { return groupRecords_ > 0; }

private:
    bool ContinuesHere(const Call& call) const;   // a block of the pattern from where it stands
    void AppendCleanBlock(const Call& call, std::vector<uint8_t>& out);
    void AppendRecord(const Call& call, std::vector<uint8_t>& out, bool mayContinue);
    void AppendStream(const Call& call, std::vector<uint8_t>& out, uint8_t* flags, bool mayContinue);
    uint64_t lastTimeMs_ = 0;
    uint32_t patternByte_ = 0;   // where a block that continues the pattern would begin
    uint32_t groupCrc_ = 0;
    uint32_t groupRecords_ = 0;
    size_t groupBytes_ = 0;
    uint64_t calls_ = 0;
};

// kCut: the recorder marked the trace as cut (it could not write on); the calls read are all
// there is. kTruncated: the file ends inside a record or a group without its check record.
// kCorrupt: a check record does not match its group, a record is longer than any call's
// record can be, or is not a call within its fields' bounds, or something follows the
// closing record.
// kUnclosed: whole groups, but no closing record: the recorded program never ended its
// session (it was killed), so calls after the last one read may be missing.
enum class ReadStatus { kCall, kEnd, kTruncated, kCorrupt, kCut, kUnclosed };

class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // False with a message for a missing file, one that is not a regular file (a FIFO is
    // refused without waiting on it), a file that is no trace, a newer format, or a damaged
    // header (version 0, unknown flags, a header that does not match its check).
    bool Open(const std::string& path, std::string* error);
    // The same for a trace held in memory; the bytes must outlive the reader.
    bool OpenBytes(const uint8_t* bytes, size_t size, std::string* error);
    ReadStatus Next(Call& call);
    uint64_t StartUnixMs() const { return startUnixMs_; }
    uint32_t Version() const { return version_; }
    bool MarkedCut() const { return cut_; }
    // Header and the calls handed out so far, as bytes of the file (with their check records).
    uint64_t WholeBytes() const { return wholeBytes_; }
    uint64_t Records() const { return records_; }   // calls handed out
    // Where reading stopped on kCorrupt or kTruncated: the damaged or cut part begins at
    // WholeBytes() and reaches to this byte.
    uint64_t ProblemEnd() const { return problemEnd_; }

private:
    bool ReadHeader(const std::string& name, std::string* error);
    size_t ReadSome(uint8_t* out, size_t count);
    ReadStatus ReadGroup();
    ReadStatus ReadRecord(std::vector<uint8_t>& payload, uint32_t* crc);
    ReadStatus DecodeGroup();
    ReadStatus EndStatus(bool insideRecord, bool insideGroup) const;

    intptr_t file_ = -1;
    const uint8_t* memory_ = nullptr;
    uint64_t size_ = 0;       // of the whole file
    uint64_t consumed_ = 0;   // bytes read so far
    std::vector<std::vector<uint8_t>> group_;   // payloads of the group being read
    std::vector<Call> ready_;                   // decoded calls of a checked group
    size_t readyAt_ = 0;
    ReadStatus stopped_ = ReadStatus::kCall;    // once not kCall, every later Next returns it
    uint32_t version_ = 0;
    bool cut_ = false;
    bool closed_ = false;      // the closing record has been read
    uint32_t headerCrc_ = 0;   // version 2: the header's part of the first group's check
    uint64_t startUnixMs_ = 0;
    uint64_t wholeBytes_ = 0;
    uint64_t records_ = 0;
    uint64_t problemEnd_ = 0;
    uint64_t lastTimeMs_ = 0;
    uint32_t patternByte_ = 0;
};

// Decodes one record's payload; false when it does not hold exactly one call.
bool DecodePayload(const uint8_t* payload, size_t size, uint64_t* lastTimeMs, uint32_t* patternByte,
                   Call& call);

}  // namespace trace

namespace trace {
// Whether the call's result is the library's failure marker for that operation.
bool IsFailure(const Call& call);
}  // namespace trace

namespace trace {
// Same operation and same arguments (numbers, the file name, the bytes handed over).
bool SameArguments(const Call& a, const Call& b);
}  // namespace trace
