// sim/replay.cc: answers every operation from a recorded trace.
//
// Matching: the program's calls are compared with the recording in order, operation and
// arguments (for ReadBlock the operation only). Before the first call the whole trace is
// read once for its loops, because the programs that use the library drive their endless
// loops by their own clock and keys:
// - A stream loop runs from the first ReadBlock of a stretch to its last, with the calls that
//   restart the data flow between the blocks. Its data is served as a byte stream: a request
//   gets at most what is left of the recorded block, the rest comes with the next request;
//   status and received count are the recorded ones, the count cut to what was asked. A
//   program that restarts the flow earlier than recorded skips the blocks it did not ask
//   for; one that reads on where the recording did not gets "no data" (kNoDataStatus).
// - A call loop is a pass of calls made at least twice in a row, the same each time.
// A loop running longer than recorded gets its passes again, in their order, answered as
// the last recorded pass was ("replay.end = wait"), or the replay raises a stop request where
// the recording's last loop ended ("replay.end = stop"), as Ctrl-C would. A loop left early
// skips the rest of its recorded passes. Every other call must be the recorded one: anything
// else stops the replay with "kelvosim: replay: ..." on stderr.
#include "sim/replay.h"

#include <algorithm>
#include <deque>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/contract.h"
#include "trace/call_packing.h"
#include "trace/trace_format.h"
#include "sim/device.h"
#include "sim/errors.h"
#include "host/host.h"
#include "sim/scenario.h"

namespace sim {

namespace {

using trace::Call;
using trace::Op;
namespace asked = trace::asked;

constexpr uint64_t kNoDataPauseNs = 1000000;   // a program reading on must not spin flat out
constexpr size_t kLongestPass = 64;            // calls in one pass of a call loop
constexpr size_t kRestartCalls = 8;            // calls between the blocks of one stream loop
// Under recorded pace, blocks come this much ahead of their time. The program restarts the data
// flow when its own clock says; a block served late would let it restart before it had read
// all the bench read before its restart, and the blocks left over would meet the restarted
// stream in a seam the bench never saw. Served early, the program at worst reads on to where
// the bench restarted, and gets "no data" there until it restarts too.
constexpr uint64_t kStreamLeadMs = 50;
constexpr uint64_t kLongestPaceWaitMs = 5000;  // a longer recorded pause is cut to this (the USB time-out)

// A loop of the recording: records first..last (numbered from 1), and the pass that repeats
// in it (the calls between two stretches of blocks, for a stream loop), as last recorded.
struct Loop {
    uint64_t first = 0;
    uint64_t last = 0;
    bool stream = false;
    std::vector<Call> pass;
};

struct Replay {
    bool checked = false;
    bool stopped = false;
    int32_t stopCode = kErrReplay;
    bool paced = false;
    bool stopAtEnd = false;
    bool stopRaised = false;
    std::string path;
    std::unique_ptr<trace::Reader> reader;
    bool haveNext = false;
    Call next;
    uint32_t nextServed = 0;   // bytes of the next ReadBlock already handed out
    uint64_t askedCalls = 0;
    std::vector<Loop> loops;
    size_t loopsEntered = 0;   // loops whose first record has come up
    const Loop* active = nullptr;   // the loop the program is in, while it may still be
    size_t phase = 0;               // the place in its pass that the program's next call takes
    bool loosePass = false;         // the pass under way began past the recording's loop
    // Blocks of a stream the program restarted earlier than recorded: still served, first,
    // so that the data comes out as recorded whatever the replay's clock does.
    std::deque<Call> carried;
    uint32_t carriedServed = 0;
    bool clockStarted = false;
    uint64_t startNs = 0;
    uint64_t firstRecordMs = 0;
    bool pauseCutTold = false;
};

Replay gReplay;

void Stop(const std::string& message, int32_t code = kErrReplay) {
    std::fprintf(stderr, "kelvosim: replay: %s\n", message.c_str());
    gReplay.stopped = true;
    gReplay.stopCode = code;
}

std::string Signature(const Call& call) {
    if (call.op == Op::ReadBlock) return "ReadBlock";
    std::string key = trace::DescribeCall(call, false);
    key.append(call.dataIn.begin(), call.dataIn.end());
    return key;
}

void Advance() {
    Replay& r = gReplay;
    const uint64_t consumed = r.haveNext ? r.reader->Records() : 0;
    r.nextServed = 0;
    const trace::ReadStatus status = r.reader->Next(r.next);
    r.haveNext = status == trace::ReadStatus::kCall;
    if (status == trace::ReadStatus::kTruncated || status == trace::ReadStatus::kCorrupt) {
        std::fprintf(stderr, "kelvosim: replay: %s is %s after record %llu; the replay ends there\n", r.path.c_str(),
                     status == trace::ReadStatus::kTruncated ? "cut off" : "damaged",
                     static_cast<unsigned long long>(r.reader->Records()));
    } else if (status == trace::ReadStatus::kCut) {
        std::fprintf(stderr,
                     "kelvosim: replay: %s was marked as cut by the recorder (its disk was full) after record %llu; "
                     "the replay ends there\n",
                     r.path.c_str(), static_cast<unsigned long long>(r.reader->Records()));
    } else if (status == trace::ReadStatus::kUnclosed) {
        std::fprintf(stderr,
                     "kelvosim: replay: %s ends after record %llu without its closing record (the recorded program "
                     "was killed); the replay ends there\n",
                     r.path.c_str(), static_cast<unsigned long long>(r.reader->Records()));
    }
    if (r.haveNext && r.loopsEntered < r.loops.size() && r.loops[r.loopsEntered].first == r.reader->Records()) {
        r.active = &r.loops[r.loopsEntered++];
        r.phase = 0;
    }
    if (r.stopAtEnd && !r.stopRaised && !r.loops.empty() && consumed == r.loops.back().last) {
        r.stopRaised = true;
        std::string error;
        if (!host::RaiseStopRequest(&error)) Stop("replay.end = stop: cannot raise a stop request: " + error);
    }
}

// Reads the whole trace once for its loops. Records are taken as tokens, a stretch of
// ReadBlocks as one; a stream loop is a stretch of blocks with at most kRestartCalls calls
// between them, a call loop a pass of up to kLongestPass tokens found twice in a row and
// repeated as long as it lasts.
std::vector<Loop> FindLoops(const std::string& path) {
    trace::Reader reader;
    std::string error;
    if (!reader.Open(path, &error)) return {};
    struct Token {
        uint32_t id;   // 0: a stretch of ReadBlocks
        uint64_t first, last;
    };
    std::vector<Token> tokens;
    std::vector<Call> calls;   // by token id, the call as last recorded
    std::map<std::string, uint32_t> ids;
    calls.emplace_back();
    Call call;
    while (reader.Next(call) == trace::ReadStatus::kCall) {
        const uint64_t number = reader.Records();
        if (call.op == Op::ReadBlock) {
            if (!tokens.empty() && tokens.back().id == 0) {
                tokens.back().last = number;
            } else {
                tokens.push_back(Token{0, number, number});
            }
            continue;
        }
        const auto [found, added] = ids.emplace(Signature(call), static_cast<uint32_t>(calls.size()));
        if (added) calls.emplace_back();
        calls[found->second] = call;
        calls[found->second].runs.clear();
        tokens.push_back(Token{found->second, number, number});
    }
    std::vector<Loop> loops;
    std::vector<bool> taken(tokens.size(), false);
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].id != 0) continue;
        size_t end = i;
        size_t lastGap = i;   // the restart calls: those after the last-but-one stretch
        for (size_t j = i + 1; j < tokens.size() && j <= end + kRestartCalls + 1; ++j) {
            if (tokens[j].id == 0) {
                lastGap = end;
                end = j;
            }
        }
        Loop loop{tokens[i].first, tokens[end].last, true, {}};
        for (size_t k = lastGap + 1; k < end; ++k) loop.pass.push_back(calls[tokens[k].id]);
        for (size_t k = i; k <= end; ++k) taken[k] = true;
        loops.push_back(std::move(loop));
        i = end;
    }
    for (size_t i = 0; i < tokens.size();) {
        size_t period = 0;
        for (size_t p = 1; p <= kLongestPass && i + 2 * p <= tokens.size() && period == 0; ++p) {
            bool repeats = true;
            for (size_t k = 0; k < p && repeats; ++k) {
                repeats = !taken[i + k] && !taken[i + p + k] && tokens[i + k].id == tokens[i + p + k].id;
            }
            if (repeats) period = p;
        }
        if (period == 0) {
            ++i;
            continue;
        }
        size_t end = i + 2 * period;
        while (end < tokens.size() && !taken[end] && tokens[end].id == tokens[end - period].id) ++end;
        end -= (end - i) % period;   // whole passes only
        Loop loop{tokens[i].first, tokens[end - 1].last, false, {}};
        for (size_t k = i; k < i + period; ++k) loop.pass.push_back(calls[tokens[k].id]);
        loops.push_back(std::move(loop));
        i = end;
    }
    std::sort(loops.begin(), loops.end(), [](const Loop& a, const Loop& b) { return a.first < b.first; });
    return loops;
}

void Load() {
    Replay& r = gReplay;
    r.path = ScenarioText("replay", "");
    r.paced = ScenarioText("replay.pace", "fast") == "recorded";
    r.stopAtEnd = ScenarioText("replay.end", "wait") == "stop";
    r.reader = std::make_unique<trace::Reader>();
    std::string error;
    if (!r.reader->Open(r.path, &error)) {
        Stop(error, kErrReplayTrace);
        return;
    }
    r.loops = FindLoops(r.path);
    Advance();
}

bool Matches(const Call& asked) {
    const Replay& r = gReplay;
    if (!r.haveNext) return false;
    if (asked.op == Op::ReadBlock) return r.next.op == Op::ReadBlock;
    return trace::SameArguments(asked, r.next);
}

// With recorded pace, no answer comes earlier after the first one than it did on the bench.
// A recorded pause longer than kLongestPaceWaitMs is cut to it, once told.
void WaitForRecordedTime(const Call& recorded, uint64_t leadMs = 0) {
    Replay& r = gReplay;
    if (!r.paced) return;
    if (!r.clockStarted) {
        r.clockStarted = true;
        r.startNs = host::MonotonicNs();
        r.firstRecordMs = recorded.timeMs;
        return;
    }
    const uint64_t sinceFirstMs = recorded.timeMs > r.firstRecordMs ? recorded.timeMs - r.firstRecordMs : 0;
    const uint64_t wantMs = sinceFirstMs > leadMs ? sinceFirstMs - leadMs : 0;
    const uint64_t elapsedMs = (host::MonotonicNs() - r.startNs) / 1000000u;
    if (wantMs <= elapsedMs) return;
    uint64_t waitMs = wantMs - elapsedMs;
    if (waitMs > kLongestPaceWaitMs) {
        if (!r.pauseCutTold) {
            r.pauseCutTold = true;
            std::fprintf(stderr, "kelvosim: replay: the recording pauses %llu ms before record %llu; the replay waits %llu ms\n",
                         static_cast<unsigned long long>(waitMs), static_cast<unsigned long long>(r.reader->Records()),
                         static_cast<unsigned long long>(kLongestPaceWaitMs));
        }
        r.firstRecordMs += waitMs - kLongestPaceWaitMs;   // the later records keep their gaps
        waitMs = kLongestPaceWaitMs;
    }
    host::SleepNs(waitMs * 1000000u);
}

Call* Diverge(const Call& asked) {
    Replay& r = gReplay;
    const std::string recorded = r.haveNext ? trace::DescribeCall(r.next, false) + " (record " +
                                                  std::to_string(r.reader->Records()) + ")"
                                            : "the end of the trace (" + std::to_string(r.reader->Records()) + " records)";
    Stop("call " + std::to_string(r.askedCalls) + " differs from the recording: recorded " + recorded + ", asked " +
         trace::DescribeCall(asked, false));
    return nullptr;
}

// Follows the program through the active loop's pass. Past the loop's end, a call that is
// not the pass's next one means the program has left the loop.
void TrackPass(const Call& asked, bool pastLoop) {
    Replay& r = gReplay;
    if (r.active == nullptr) return;
    const std::vector<Call>& pass = r.active->pass;
    if (!pass.empty() && Signature(pass[r.phase]) == Signature(asked)) {
        if (r.phase == 0) r.loosePass = false;
        r.phase = (r.phase + 1) % pass.size();
    } else if (pastLoop) {
        r.active = nullptr;
        r.carried.clear();
    } else {
        r.phase = 0;
    }
}

Call gAnswer;   // the answer handed out last

Call* Consume() {
    Replay& r = gReplay;
    WaitForRecordedTime(r.next);
    gAnswer = r.next;
    Advance();
    return &gAnswer;
}

// The recorded answer to a call other than ReadBlock, or nullptr once the replay has stopped.
Call* Answer(const Call& asked) {
    Replay& r = gReplay;
    if (r.stopped) return nullptr;
    ++r.askedCalls;
    // A stream restarted early: its remaining blocks are carried over to the restarted one.
    if (!Matches(asked) && r.active != nullptr && r.active->stream) {
        while (r.haveNext && r.next.op == Op::ReadBlock) {
            r.carried.push_back(r.next);
            if (r.carried.size() == 1) r.carriedServed = r.nextServed;
            Advance();
        }
    }
    const bool pastLoop = r.active != nullptr && (!r.haveNext || r.reader->Records() > r.active->last);
    const bool loopCall = r.active != nullptr && !r.active->pass.empty() &&
                          Signature(r.active->pass[r.phase]) == Signature(asked);
    // Past the loop's end, a pass begun as the loop's stays the loop's: the recording's next
    // call, even the same one, belongs to what came after the loop.
    if (!(pastLoop && loopCall && r.loosePass && r.phase != 0) && Matches(asked)) {
        TrackPass(asked, pastLoop);
        return Consume();
    }
    // A loop running longer than recorded: its pass again, in order, as last recorded.
    if (loopCall) {
        if (r.phase == 0) r.loosePass = true;
        gAnswer = r.active->pass[r.phase];
        r.phase = (r.phase + 1) % r.active->pass.size();
        return &gAnswer;
    }
    // A loop left early: its remaining passes go unasked, and the calls of the pass the
    // program broke off are those the recording's loop ended with.
    if (r.active != nullptr && !pastLoop) {
        const Loop& loop = *r.active;
        while (r.haveNext && r.reader->Records() <= loop.last) Advance();
        for (size_t k = 0; k < r.phase && r.haveNext && Signature(r.next) == Signature(loop.pass[k]); ++k) Advance();
        r.active = nullptr;
        r.carried.clear();
        if (Matches(asked)) return Consume();
    }
    return Diverge(asked);
}

int32_t Status(const Call* answer) { return answer != nullptr ? static_cast<int32_t>(answer->result) : gReplay.stopCode; }

void CopyOut(const std::vector<uint8_t>& recorded, uint8_t* buffer, size_t room) {
    if (buffer != nullptr) std::memcpy(buffer, recorded.data(), recorded.size() < room ? recorded.size() : room);
}

// The operations as the trace answers them.
namespace replayed {

void SetTraceMask(uint32_t mask) noexcept { Answer(asked::SetTraceMask(mask)); }

int32_t Init_Interface() noexcept {
    AnnounceVirtualScanner();   // a replayed session is no more hardware than a simulated one
    return Status(Answer(asked::Init_Interface()));
}

void SetUsbTimeout(uint32_t milliseconds) noexcept { Answer(asked::SetUsbTimeout(milliseconds)); }

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) noexcept {
    const Call* answer = Answer(asked::GetKelvoVersion(hardware, firmware, library, usbDriver));
    uint16_t* values[4] = {hardware, firmware, library, usbDriver};
    for (int i = 0; i < 4 && answer != nullptr; ++i) {
        if (values[i] != nullptr) *values[i] = static_cast<uint16_t>(answer->outs[i]);
    }
    return Status(answer);
}

int32_t Init_Firmware(const char* fileName, int32_t useDefault) noexcept {
    return Status(Answer(asked::Init_Firmware(fileName, useDefault)));
}

int32_t Free_Interface() noexcept { return Status(Answer(asked::Free_Interface())); }

int32_t GetLastKelvoError(int32_t which) noexcept { return Status(Answer(asked::GetLastKelvoError(which))); }

// Once the replay has stopped, the texts are the virtual scanner's own, so that the program
// can still say what kErrReplay means.
int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) noexcept {
    const Call* answer = Answer(asked::GetKelvoErrorText(code, text, size));
    const char* known = answer != nullptr ? answer->text.c_str() : ErrorText(code);
    if (answer == nullptr && known == nullptr) return kErrBadArgument;
    if (text != nullptr && size > 0) std::snprintf(text, size, "%s", known);
    return answer != nullptr ? static_cast<int32_t>(answer->result) : kOk;
}

// The recorded result, or once the replay has stopped, the operation's failure.
template <Operation op>
auto ResultOr(const Call* answer) {
    using Result = typename OperationResult<op>::Type;
    return answer != nullptr ? static_cast<Result>(answer->result) : FailedResult<op>(gReplay.stopCode);
}

#define KELVO_REPLAY_REGISTER_WRITE(name, type) \
    int32_t name(uint32_t address, type value) noexcept { return ResultOr<Operation::k##name>(Answer(asked::name(address, value))); }
KELVO_REPLAY_REGISTER_WRITE(RegWrite, uint8_t)
KELVO_REPLAY_REGISTER_WRITE(RegWriteShort, uint16_t)
KELVO_REPLAY_REGISTER_WRITE(RegWriteLong, uint32_t)
KELVO_REPLAY_REGISTER_WRITE(RegWriteLongInc, uint32_t)
#undef KELVO_REPLAY_REGISTER_WRITE

template <typename Value>
Value RegisterValue(const Call& asked) {
    const Call* answer = Answer(asked);
    return answer != nullptr ? static_cast<Value>(answer->result) : Value{0};
}

uint8_t RegRead(uint32_t address) noexcept { return RegisterValue<uint8_t>(asked::RegRead(address)); }
uint16_t RegReadShort(uint32_t address) noexcept { return RegisterValue<uint16_t>(asked::RegReadShort(address)); }
uint16_t RegReadShortInc(uint32_t address) noexcept { return RegisterValue<uint16_t>(asked::RegReadShortInc(address)); }
uint32_t RegReadLong(uint32_t address) noexcept { return RegisterValue<uint32_t>(asked::RegReadLong(address)); }
uint32_t RegReadLongInc(uint32_t address) noexcept { return RegisterValue<uint32_t>(asked::RegReadLongInc(address)); }

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    return Status(Answer(asked::I2C_PROM_write(buffer, deviceId, firstAddress, lastAddress)));
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    const Call* answer = Answer(asked::I2C_PROM_read(buffer, deviceId, firstAddress, lastAddress));
    if (answer != nullptr) CopyOut(answer->dataOut, buffer, ShortTransferBytes(firstAddress, lastAddress));
    return Status(answer);
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    const Call* answer = Answer(asked::I2C_LargePROMwr(deviceId, startAddress, buffer, length));
    if (answer != nullptr && length != nullptr) *length = static_cast<int32_t>(answer->outs[0]);
    return Status(answer);
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    const int32_t lengthIn = length != nullptr ? *length : 0;
    const Call* answer = Answer(asked::I2C_LargePROMrd(deviceId, startAddress, buffer, length));
    if (answer != nullptr) {
        CopyOut(answer->dataOut, buffer, lengthIn > 0 ? static_cast<size_t>(lengthIn) : 0);
        if (length != nullptr) *length = static_cast<int32_t>(answer->outs[0]);
    }
    return Status(answer);
}

int32_t I2C_ADCread(uint8_t deviceId, int32_t channel) noexcept {
    return ResultOr<Operation::kI2C_ADCread>(Answer(asked::I2C_ADCread(deviceId, channel)));
}

int32_t I2C_DACout(uint8_t deviceId, int32_t value) noexcept { return Status(Answer(asked::I2C_DACout(deviceId, value))); }

int32_t I2C_TEMPinit(uint8_t deviceId, int32_t value) noexcept {
    return Status(Answer(asked::I2C_TEMPinit(deviceId, value)));
}

int32_t I2C_TEMPread(uint8_t deviceId) noexcept {
    return ResultOr<Operation::kI2C_TEMPread>(Answer(asked::I2C_TEMPread(deviceId)));
}

int32_t Pentamotor_init(int32_t revolutions) noexcept { return Status(Answer(asked::Pentamotor_init(revolutions))); }

int32_t Anz_ScanLine() noexcept {
    return ResultOr<Operation::kAnz_ScanLine>(Answer(asked::Anz_ScanLine()));
}

int32_t GetScanStatus(ScannerStatus* status) noexcept {
    const Call* answer = Answer(asked::GetScanStatus(status));
    if (answer != nullptr) CopyOut(answer->dataOut, reinterpret_cast<uint8_t*>(status), sizeof *status);
    return Status(answer);
}

// Hands out the recorded block `block` from byte `served` on; true when it is used up. A
// failed or empty block goes whole, with the count as it was recorded.
bool ServeBlock(const Call& block, uint32_t& served, uint8_t* buffer, int32_t requested, int32_t* received,
                int32_t* status) {
    *status = static_cast<int32_t>(block.result);
    const uint32_t recordedBytes = trace::StreamBytes(block);
    const uint32_t room = requested > 0 ? static_cast<uint32_t>(requested) : 0;
    if (*status != 0 || recordedBytes == 0) {
        const uint32_t count = recordedBytes < room ? recordedBytes : room;
        if (buffer != nullptr) trace::ExpandStream(block, 0, count, buffer);
        if (received != nullptr) {
            *received = block.outs[0] > static_cast<int64_t>(room) && recordedBytes > 0 ? static_cast<int32_t>(room)
                                                                                       : static_cast<int32_t>(block.outs[0]);
        }
        return true;
    }
    const uint32_t left = recordedBytes - served;
    const uint32_t count = left < room ? left : room;
    if (buffer != nullptr) trace::ExpandStream(block, served, count, buffer);
    if (received != nullptr) *received = static_cast<int32_t>(count);
    served += count;
    return served == recordedBytes;
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) noexcept {
    Replay& r = gReplay;
    if (received != nullptr) *received = 0;
    if (r.stopped) return r.stopCode;
    ++r.askedCalls;
    int32_t status = kOk;
    if (!r.carried.empty()) {
        if (ServeBlock(r.carried.front(), r.carriedServed, buffer, requested, received, &status)) {
            r.carried.pop_front();
            r.carriedServed = 0;
        }
        return status;
    }
    if (!r.haveNext || r.next.op != Op::ReadBlock) {
        // Within a stream loop, or after it while the program reads on: no data.
        if (r.active == nullptr || !r.active->stream) {
            Diverge(asked::ReadBlock(buffer, requested, received));
            return r.stopCode;
        }
        host::SleepNs(kNoDataPauseNs);
        return kNoDataStatus;
    }
    if (r.nextServed == 0) WaitForRecordedTime(r.next, kStreamLeadMs);
    if (ServeBlock(r.next, r.nextServed, buffer, requested, received, &status)) Advance();
    return status;
}

void ClearReadBlock() noexcept { Answer(asked::ClearReadBlock()); }

}  // namespace replayed

#define KELVO_FILL(result, name, parameters, arguments) &replayed::name,
constexpr Backend kReplay = {KELVO_OPERATIONS(KELVO_FILL)};
#undef KELVO_FILL

}  // namespace

const Backend& ReplayBackend() {
    if (!gReplay.checked) {
        gReplay.checked = true;
        Load();
    }
    return kReplay;
}

void ReplayReset() { gReplay = Replay{}; }

}  // namespace sim
