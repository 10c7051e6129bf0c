// sim/replay.cc: answers every operation from a recorded trace.
//
// Matching: the program's calls are compared with the recording in order, operation and
// arguments (for ReadBlock the operation only). The recording's loops (replay_loops.h) are
// where the program may differ, as its clock and keys decide:
// - A stream loop's data is served as a byte stream: a request gets at most what is left of
//   the recorded block, the rest comes with the next request; status and received count are
//   the recorded ones, the count cut to what was asked. The blocks of a stream the program
//   restarts earlier than recorded are carried over and served after its restart; one that
//   reads on where the recording did not gets "no data" (kNoDataStatus).
// - A loop running longer than recorded gets its passes again, in their order, answered as
//   the last recorded pass was, no faster than the recording's mean pass ("replay.end =
//   wait"); or the replay raises a stop request as Ctrl-C would ("replay.end = stop"), once
//   the program goes on past the recording's end of the loop, so that it ends the loop there.
// - A loop the program entered and left early skips the rest of its recorded passes, and their
//   time. A loop it never entered is an action left out.
// Every other call must be the recorded one: anything else stops the replay with
// "kelvosim: replay: ..." on stderr, and a stop request, so that the program ends.
#include "sim/replay.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "device/contract.h"
#include "sim/clock.h"
#include "sim/device.h"
#include "sim/errors.h"
#include "sim/replay_loops.h"
#include "sim/scenario.h"
#include "trace/call_packing.h"
#include "trace/trace_format.h"

namespace sim {

namespace {

using trace::Call;
using trace::Op;
namespace asked = trace::asked;

constexpr uint64_t kNoDataPauseNs = 1000000;   // a program reading on must not spin flat out
constexpr uint64_t kShortestPassNs = kNoDataPauseNs;   // nor one looping past the recording
// Under recorded pace, blocks come this much ahead of their time. The program restarts the data
// flow when its own clock says; a block served late would let it restart before it had read
// all the bench read before its restart, and the blocks left over would meet the restarted
// stream in a seam the bench never saw. Served early, the program at worst reads on to where
// the bench restarted, and gets "no data" there until it restarts too.
constexpr uint64_t kStreamLeadMs = 50;
constexpr uint64_t kLongestPaceWaitMs = 5000;  // a longer recorded pause is cut to this (the USB time-out)

struct Replay {
    bool checked = false;
    bool stopped = false;
    int32_t stopCode = kErrReplay;
    bool paced = false;
    bool stopAtEnd = false;
    bool stopRaised = false;   // a stop request has gone to the program
    std::string path;
    std::unique_ptr<trace::Reader> reader;
    bool haveNext = false;
    Call next;
    uint32_t nextServed = 0;   // bytes of the next ReadBlock already handed out
    uint64_t askedCalls = 0;
    std::vector<Loop> loops;
    size_t loopsComing = 0;           // loops whose first record has come up
    const Loop* upcoming = nullptr;   // the loop whose first record is next, until the program enters it
    const Loop* active = nullptr;     // the loop the program is in, while it may still be
    size_t phase = 0;               // the place in its pass that the program's next call takes
    bool loosePass = false;         // the pass under way began past the recording's loop
    uint64_t passDueNs = 0;         // past the recording's loop: when the next pass may begin
    // Blocks of a stream the program restarted earlier than recorded: still served, first,
    // so that the data comes out as recorded whatever the replay's clock does.
    std::deque<Call> carried;
    uint32_t carriedServed = 0;
    bool clockStarted = false;
    uint64_t startNs = 0;
    uint64_t firstRecordMs = 0;
    bool pauseCutTold = false;
    bool skipTold = false;
    uint64_t handedMs = 0;   // the recorded time of the record handed out last
};

Replay gReplay;

uint64_t NextRecord() { return gReplay.reader->Records(); }   // the number of `next`

void RaiseStopOnce(const char* why) {
    Replay& r = gReplay;
    if (r.stopRaised) return;
    r.stopRaised = true;
    std::string error;
    if (!RaiseStop(&error)) std::fprintf(stderr, "kelvosim: replay: %s: cannot raise a stop request: %s\n", why, error.c_str());
}

void Stop(const std::string& message, int32_t code = kErrReplay) {
    std::fprintf(stderr, "kelvosim: replay: %s\n", message.c_str());
    gReplay.stopped = true;
    gReplay.stopCode = code;
}

void Advance() {
    Replay& r = gReplay;
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
    if (r.haveNext && r.loopsComing < r.loops.size() && r.loops[r.loopsComing].first == NextRecord()) {
        r.upcoming = &r.loops[r.loopsComing++];
    }
}

// The program's call is the first record of the loop to come: it is in that loop now. Until
// then it may still be in the one before, past its recorded end.
void EnterLoop() {
    Replay& r = gReplay;
    if (r.upcoming == nullptr || !r.haveNext || NextRecord() != r.upcoming->first) return;
    r.active = r.upcoming;
    r.upcoming = nullptr;
    r.phase = 0;
    r.loosePass = false;
    r.passDueNs = 0;
    r.carried.clear();
}


// The program goes on with a loop past its recorded end, where the bench's key or Ctrl-C
// came: under "replay.end = stop" the replay raises its stop request now, so that the
// program's loop ends with this pass (with this read, for a stream, once it has read every
// recorded block). A loop that the program ends by itself, as recorded, gets none.
void LoopRunsOn() {
    if (gReplay.stopAtEnd) RaiseStopOnce("replay.end = stop");
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
        r.startNs = ClockNs();
        r.firstRecordMs = recorded.timeMs;
        return;
    }
    const uint64_t sinceFirstMs = recorded.timeMs > r.firstRecordMs ? recorded.timeMs - r.firstRecordMs : 0;
    const uint64_t wantMs = sinceFirstMs > leadMs ? sinceFirstMs - leadMs : 0;
    const uint64_t elapsedMs = (ClockNs() - r.startNs) / 1000000u;
    if (wantMs <= elapsedMs) return;
    uint64_t waitMs = wantMs - elapsedMs;
    if (waitMs > kLongestPaceWaitMs) {
        if (!r.pauseCutTold) {
            r.pauseCutTold = true;
            std::fprintf(stderr, "kelvosim: replay: the recording pauses %llu ms before record %llu; the replay waits %llu ms\n",
                         static_cast<unsigned long long>(waitMs), static_cast<unsigned long long>(NextRecord()),
                         static_cast<unsigned long long>(kLongestPaceWaitMs));
        }
        r.firstRecordMs += waitMs - kLongestPaceWaitMs;   // the later records keep their gaps
        waitMs = kLongestPaceWaitMs;
    }
    PauseNs(waitMs * 1000000u);
}

// Passes over recorded records the program will not ask for, up to `last` (or, with 0, up to
// the first one that matches `asked`). Their time is passed over too: the records after them
// keep their gaps from what the program was handed last.
void SkipRecords(uint64_t last, const Call* asked) {
    Replay& r = gReplay;
    if (!r.haveNext) return;
    r.active = nullptr;   // a loop whose first record comes up on the way is the program's next
    r.carried.clear();
    uint64_t skippedMs = r.handedMs;
    while (r.haveNext && (asked != nullptr ? !Matches(*asked) : NextRecord() <= last)) {
        skippedMs = r.next.timeMs;
        Advance();
    }
    if (r.clockStarted && skippedMs > r.handedMs) r.firstRecordMs += skippedMs - r.handedMs;
}

Call* Diverge(const Call& asked) {
    Replay& r = gReplay;
    const std::string recorded = r.haveNext ? trace::DescribeCall(r.next, false) + " (record " +
                                                  std::to_string(NextRecord()) + ")"
                                            : "the end of the trace (" + std::to_string(r.reader->Records()) + " records)";
    Stop("call " + std::to_string(r.askedCalls) + " differs from the recording: recorded " + recorded + ", asked " +
         trace::DescribeCall(asked, false));
    // Every call fails from here on: the program must not loop on its failures for ever.
    RaiseStopOnce("after the difference");
    return nullptr;
}

// Follows the program through the active loop's pass. Past the loop's end, a call that is
// not the pass's next one means the program has left the loop. An error look-up is no step
// of the pass.
void TrackPass(const Call& asked, bool pastLoop) {
    Replay& r = gReplay;
    if (r.active == nullptr) return;
    const std::vector<Call>& pass = r.active->pass;
    if (!pass.empty() && Signature(pass[r.phase]) == Signature(asked)) {
        if (r.phase == 0) r.loosePass = false;
        r.phase = (r.phase + 1) % pass.size();
    } else if (IsErrorLookUp(asked.op)) {
        return;
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
    EnterLoop();
    WaitForRecordedTime(r.next);
    gAnswer = r.next;
    r.handedMs = r.next.timeMs;
    Advance();
    return &gAnswer;
}

// A pass past the recording's loop begins no sooner than the recording's mean pass after the
// one before (under recorded pace), and never flat out.
void PacePass(const Loop& loop) {
    Replay& r = gReplay;
    const uint64_t passNs = r.paced && loop.passNs > kShortestPassNs ? loop.passNs : kShortestPassNs;
    const uint64_t now = ClockNs();
    if (r.passDueNs > now) PauseNs(r.passDueNs - now);
    r.passDueNs = (r.passDueNs > now ? r.passDueNs : now) + passNs;
}

// A loop running longer than recorded: its pass again, in order, as last recorded, and the
// error look-ups it made.
Call* Repeat(const Call& asked, bool loopCall, bool pastLoop) {
    Replay& r = gReplay;
    if (loopCall) {
        if (r.phase == 0) {
            r.loosePass = true;
            if (pastLoop && r.carried.empty()) LoopRunsOn();   // not while recorded blocks wait
            PacePass(*r.active);
        }
        gAnswer = r.active->pass[r.phase];
        r.phase = (r.phase + 1) % r.active->pass.size();
        return &gAnswer;
    }
    for (const Call& lookUp : r.active->lookUps) {
        if (trace::SameArguments(lookUp, asked)) return &(gAnswer = lookUp);
    }
    return nullptr;
}

// The blocks left of a stream the program restarted early are carried over to the restarted one.
void CarryBlocks() {
    Replay& r = gReplay;
    while (r.haveNext && r.next.op == Op::ReadBlock) {
        if (r.carried.empty()) r.carriedServed = r.nextServed;
        r.carried.push_back(r.next);
        Advance();
    }
}

// The recorded answer to a call other than ReadBlock, or nullptr once the replay has stopped.
Call* Answer(const Call& asked) {
    Replay& r = gReplay;
    if (r.stopped) return nullptr;
    ++r.askedCalls;
    if (Matches(asked)) EnterLoop();
    const bool inLoop = r.active != nullptr;
    if (!Matches(asked) && inLoop && r.active->stream) CarryBlocks();
    const bool pastLoop = inLoop && (!r.haveNext || NextRecord() > r.active->last);
    const bool loopCall = inLoop && !r.active->pass.empty() && Signature(r.active->pass[r.phase]) == Signature(asked);
    // Past the loop's end, a pass begun as the loop's stays the loop's: the recording's next
    // call, even the same one, belongs to what came after the loop.
    if (!(pastLoop && loopCall && r.loosePass && r.phase != 0) && Matches(asked)) {
        TrackPass(asked, pastLoop);
        return Consume();
    }
    if (loopCall || (pastLoop && IsErrorLookUp(asked.op))) {
        if (Call* again = Repeat(asked, loopCall, pastLoop)) return again;
    }
    // A loop left early: its remaining passes go unasked, and the calls of the pass the
    // program broke off are those the recording's loop ended with.
    if (inLoop && !pastLoop) {
        const Loop& loop = *r.active;
        const size_t phase = r.phase;
        SkipRecords(loop.last, nullptr);
        for (size_t k = 0; k < phase && r.haveNext && Signature(r.next) == Signature(loop.pass[k]); ++k) Advance();
        if (Matches(asked)) return Consume();
    }
    // The stop request of "replay.end = stop" ended the program's loop, and the program skips
    // what it would have done after that loop, as on a bench where Ctrl-C ended it.
    if (r.stopRaised) {
        const uint64_t from = r.haveNext ? NextRecord() : 0;
        SkipRecords(0, &asked);
        if (Matches(asked)) {
            if (!r.skipTold) {
                r.skipTold = true;
                std::fprintf(stderr, "kelvosim: replay: the stop request ended the program's loop; records %llu to %llu, "
                             "what the recording holds after that loop, were not replayed\n",
                             static_cast<unsigned long long>(from), static_cast<unsigned long long>(NextRecord() - 1));
            }
            return Consume();
        }
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
// failed or empty block goes whole, a failed one with the count as it was recorded; never
// with more than was asked, whatever the trace says.
bool ServeBlock(const Call& block, uint32_t& served, uint8_t* buffer, int32_t requested, int32_t* received,
                int32_t* status) {
    *status = static_cast<int32_t>(block.result);
    const uint32_t recordedBytes = trace::StreamBytes(block);
    const uint32_t room = requested > 0 ? static_cast<uint32_t>(requested) : 0;
    if (*status != 0 || recordedBytes == 0) {
        const uint32_t count = recordedBytes < room ? recordedBytes : room;
        if (buffer != nullptr) trace::ExpandStream(block, 0, count, buffer);
        if (received != nullptr) {
            // A clean block claims only the bytes it hands out; a failed one its recorded count.
            const int64_t claimed = block.outs[0] > static_cast<int64_t>(room) ? room : block.outs[0];
            *received = *status == 0 ? static_cast<int32_t>(count)
                                     : (claimed >= INT32_MIN ? static_cast<int32_t>(claimed) : 0);
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
            r.handedMs = r.carried.front().timeMs;
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
        if (!r.haveNext || NextRecord() > r.active->last) LoopRunsOn();
        PauseNs(kNoDataPauseNs);
        return kNoDataStatus;
    }
    if (r.nextServed == 0) WaitForRecordedTime(r.next, kStreamLeadMs);
    EnterLoop();
    if (ServeBlock(r.next, r.nextServed, buffer, requested, received, &status)) {
        r.handedMs = r.next.timeMs;
        Advance();
    }
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
