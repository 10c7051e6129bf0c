// sim/replay.cc: answers every operation from a recorded trace.
//
// Matching: the program's calls are compared with the recording in order, operation and
// arguments (for ReadBlock the operation only). Three departures are accepted, because the
// programs that use the library drive their endless loops by their own clock and keys:
// - Stream data is served as a byte stream: a request gets at most what is left of the
//   recorded block, and the rest of it comes with the next request; status and received count
//   are the recorded ones, the count cut to what was asked.
// - A program that leaves a stream of ReadBlocks early (restarts the data flow, or ends)
//   skips the recorded blocks it did not ask for; one that reads on where the recording
//   stopped reading gets "no data" (-306) and nothing is consumed.
// - A call the program has made at least twice with the same arguments is taken as part of a
//   loop: run longer than recorded, it gets the answer of its last recorded pass again; a
//   loop left earlier than recorded skips the rest of its recorded passes.
// Anything else stops the replay with "kelvosim: replay: ..." on stderr.
#include "sim/replay.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "device/contract.h"
#include "trace/trace_format.h"
#include "sim/errors.h"
#include "sim/host.h"
#include "sim/scenario.h"

namespace sim {

namespace {

using trace::Call;
using trace::Op;

constexpr uint64_t kNoDataPauseNs = 1000000;   // a program reading on must not spin flat out

struct Seen {
    uint64_t count = 0;
    Call answer;
};

struct Replay {
    bool checked = false;
    bool stopped = false;
    bool paced = false;
    std::string path;
    std::unique_ptr<trace::Reader> reader;
    bool haveNext = false;
    Call next;
    uint32_t nextServed = 0;   // bytes of the next ReadBlock already handed out
    uint64_t askedCalls = 0;
    std::map<std::string, Seen> seen;
    bool clockStarted = false;
    uint64_t startNs = 0;
    uint64_t firstRecordMs = 0;
};

Replay gReplay;

void Stop(const std::string& message) {
    std::fprintf(stderr, "kelvosim: replay: %s\n", message.c_str());
    gReplay.stopped = true;
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
    }
}

void Load() {
    Replay& r = gReplay;
    r.path = ScenarioText("replay", "");
    const std::string pace = ScenarioText("replay.pace", "fast");
    if (pace != "fast" && pace != "recorded") {
        Stop("replay.pace is \"" + pace + "\"; it is \"recorded\" or \"fast\"");
        return;
    }
    r.paced = pace == "recorded";
    r.reader = std::make_unique<trace::Reader>();
    std::string error;
    if (!r.reader->Open(r.path, &error)) {
        Stop(error);
        return;
    }
    Advance();
}

std::string Signature(const Call& call) {
    std::string key = trace::DescribeCall(call, false);
    key.append(call.dataIn.begin(), call.dataIn.end());
    return key;
}

bool Matches(const Call& asked) {
    const Replay& r = gReplay;
    if (!r.haveNext) return false;
    if (asked.op == Op::ReadBlock) return r.next.op == Op::ReadBlock;
    return trace::SameArguments(asked, r.next);
}

bool Repeated(const Call& call) {
    const auto found = gReplay.seen.find(Signature(call));
    return found != gReplay.seen.end() && found->second.count >= 2;
}

// With recorded pace, no answer comes earlier after the first one than it did on the bench.
void WaitForRecordedTime(const Call& recorded) {
    Replay& r = gReplay;
    if (!r.paced) return;
    if (!r.clockStarted) {
        r.clockStarted = true;
        r.startNs = MonotonicNs();
        r.firstRecordMs = recorded.timeMs;
        return;
    }
    const uint64_t dueNs = r.startNs + (recorded.timeMs - r.firstRecordMs) * 1000000u;
    const uint64_t now = MonotonicNs();
    if (dueNs > now) SleepNs(dueNs - now);
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

// The recorded answer to a call other than ReadBlock, or nullptr once the replay has stopped.
Call* Answer(const Call& asked) {
    Replay& r = gReplay;
    if (r.stopped) return nullptr;
    ++r.askedCalls;
    if (!Matches(asked) && r.haveNext && r.next.op == Op::ReadBlock) {
        while (r.haveNext && r.next.op == Op::ReadBlock) Advance();   // the stream left early
    }
    if (!Matches(asked)) {
        if (Repeated(asked)) return &r.seen[Signature(asked)].answer;   // a loop running longer
        while (r.haveNext && Repeated(r.next) && !Matches(asked)) Advance();   // a loop left early
        if (!Matches(asked)) return Diverge(asked);
    }
    WaitForRecordedTime(r.next);
    Seen& seen = r.seen[Signature(asked)];
    ++seen.count;
    seen.answer = r.next;
    Advance();
    return &seen.answer;
}

int32_t Status(const Call* answer) { return answer != nullptr ? static_cast<int32_t>(answer->result) : kErrReplay; }

void CopyOut(const std::vector<uint8_t>& recorded, uint8_t* buffer, size_t room) {
    if (buffer != nullptr) std::memcpy(buffer, recorded.data(), recorded.size() < room ? recorded.size() : room);
}

// The operations as the trace answers them.
namespace replayed {

void SetTraceMask(uint32_t mask) noexcept { Answer(CallOf(Op::SetTraceMask, mask)); }

int32_t Init_Interface() noexcept { return Status(Answer(CallOf(Op::Init_Interface))); }

void SetUsbTimeout(uint32_t milliseconds) noexcept { Answer(CallOf(Op::SetUsbTimeout, milliseconds)); }

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) noexcept {
    const Call* answer = Answer(CallOf(Op::GetKelvoVersion));
    uint16_t* values[4] = {hardware, firmware, library, usbDriver};
    for (int i = 0; i < 4 && answer != nullptr; ++i) {
        if (values[i] != nullptr) *values[i] = static_cast<uint16_t>(answer->outs[i]);
    }
    return Status(answer);
}

int32_t Init_Firmware(const char* fileName, int32_t useDefault) noexcept {
    Call asked = CallOf(Op::Init_Firmware, useDefault);
    if (fileName != nullptr) asked.text = fileName;
    return Status(Answer(asked));
}

int32_t Free_Interface() noexcept { return Status(Answer(CallOf(Op::Free_Interface))); }

int32_t GetLastKelvoError(int32_t which) noexcept { return Status(Answer(CallOf(Op::GetLastKelvoError, which))); }

// Once the replay has stopped, the texts are the virtual scanner's own, so that the program
// can still say what kErrReplay means.
int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) noexcept {
    const Call* answer = Answer(CallOf(Op::GetKelvoErrorText, code, size));
    const char* known = answer != nullptr ? answer->text.c_str() : ErrorText(code);
    if (answer == nullptr && known == nullptr) return kErrBadArgument;
    if (text != nullptr && size > 0) std::snprintf(text, size, "%s", known);
    return answer != nullptr ? static_cast<int32_t>(answer->result) : kOk;
}

// A register write's recorded result, or 0 (failed) once replay has stopped.
int32_t WriteResult(Op op, uint32_t address, uint32_t value) {
    const Call* answer = Answer(CallOf(op, address, value));
    return answer != nullptr ? static_cast<int32_t>(answer->result) : RegisterWriteResult(false);
}

int32_t RegWrite(uint32_t address, uint8_t value) noexcept { return WriteResult(Op::RegWrite, address, value); }
int32_t RegWriteShort(uint32_t address, uint16_t value) noexcept { return WriteResult(Op::RegWriteShort, address, value); }
int32_t RegWriteLong(uint32_t address, uint32_t value) noexcept { return WriteResult(Op::RegWriteLong, address, value); }
int32_t RegWriteLongInc(uint32_t address, uint32_t value) noexcept { return WriteResult(Op::RegWriteLongInc, address, value); }

template <typename Value>
Value RegisterValue(Op op, uint32_t address) {
    const Call* answer = Answer(CallOf(op, address));
    return answer != nullptr ? static_cast<Value>(answer->result) : Value{0};
}

uint8_t RegRead(uint32_t address) noexcept { return RegisterValue<uint8_t>(Op::RegRead, address); }
uint16_t RegReadShort(uint32_t address) noexcept { return RegisterValue<uint16_t>(Op::RegReadShort, address); }
uint16_t RegReadShortInc(uint32_t address) noexcept { return RegisterValue<uint16_t>(Op::RegReadShortInc, address); }
uint32_t RegReadLong(uint32_t address) noexcept { return RegisterValue<uint32_t>(Op::RegReadLong, address); }
uint32_t RegReadLongInc(uint32_t address) noexcept { return RegisterValue<uint32_t>(Op::RegReadLongInc, address); }

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    Call asked = CallOf(Op::I2C_PROM_write, deviceId, firstAddress, lastAddress);
    if (buffer != nullptr) asked.dataIn.assign(buffer, buffer + ShortTransferBytes(firstAddress, lastAddress));
    return Status(Answer(asked));
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    const Call* answer = Answer(CallOf(Op::I2C_PROM_read, deviceId, firstAddress, lastAddress));
    if (answer != nullptr) CopyOut(answer->dataOut, buffer, ShortTransferBytes(firstAddress, lastAddress));
    return Status(answer);
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    const int32_t lengthIn = length != nullptr ? *length : 0;
    Call asked = CallOf(Op::I2C_LargePROMwr, deviceId, startAddress, lengthIn);
    if (buffer != nullptr && lengthIn > 0) asked.dataIn.assign(buffer, buffer + lengthIn);
    const Call* answer = Answer(asked);
    if (answer != nullptr && length != nullptr) *length = static_cast<int32_t>(answer->outs[0]);
    return Status(answer);
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    const int32_t lengthIn = length != nullptr ? *length : 0;
    const Call* answer = Answer(CallOf(Op::I2C_LargePROMrd, deviceId, startAddress, lengthIn));
    if (answer != nullptr) {
        CopyOut(answer->dataOut, buffer, lengthIn > 0 ? static_cast<size_t>(lengthIn) : 0);
        if (length != nullptr) *length = static_cast<int32_t>(answer->outs[0]);
    }
    return Status(answer);
}

int32_t I2C_ADCread(uint8_t deviceId, int32_t channel) noexcept {
    const Call* answer = Answer(CallOf(Op::I2C_ADCread, deviceId, channel));
    return answer != nullptr ? static_cast<int32_t>(answer->result) : AdcErrorResult(kErrReplay);
}

int32_t I2C_DACout(uint8_t deviceId, int32_t value) noexcept { return Status(Answer(CallOf(Op::I2C_DACout, deviceId, value))); }

int32_t I2C_TEMPinit(uint8_t deviceId, int32_t value) noexcept {
    return Status(Answer(CallOf(Op::I2C_TEMPinit, deviceId, value)));
}

int32_t I2C_TEMPread(uint8_t deviceId) noexcept {
    const Call* answer = Answer(CallOf(Op::I2C_TEMPread, deviceId));
    return answer != nullptr ? static_cast<int32_t>(answer->result) : kTemperatureFailure;
}

int32_t Pentamotor_init(int32_t revolutions) noexcept { return Status(Answer(CallOf(Op::Pentamotor_init, revolutions))); }

int32_t Anz_ScanLine() noexcept {
    const Call* answer = Answer(CallOf(Op::Anz_ScanLine));
    return answer != nullptr ? static_cast<int32_t>(answer->result) : kScanLineFailure;
}

int32_t GetScanStatus(ScannerStatus* status) noexcept {
    const Call* answer = Answer(CallOf(Op::GetScanStatus));
    if (answer != nullptr) CopyOut(answer->dataOut, reinterpret_cast<uint8_t*>(status), sizeof *status);
    return Status(answer);
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) noexcept {
    Replay& r = gReplay;
    if (received != nullptr) *received = 0;
    if (r.stopped) return kErrReplay;
    ++r.askedCalls;
    if (!r.haveNext || r.next.op != Op::ReadBlock) {   // reading on where the recording stopped
        SleepNs(kNoDataPauseNs);
        return kNoDataStatus;
    }
    if (r.nextServed == 0) WaitForRecordedTime(r.next);
    const int32_t status = static_cast<int32_t>(r.next.result);
    const uint32_t recordedBytes = trace::StreamBytes(r.next);
    const uint32_t room = requested > 0 ? static_cast<uint32_t>(requested) : 0;
    if (status != 0 || recordedBytes == 0) {
        // A failed or empty block goes whole, with the count as it was recorded.
        const uint32_t count = recordedBytes < room ? recordedBytes : room;
        if (buffer != nullptr) trace::ExpandStream(r.next, 0, count, buffer);
        if (received != nullptr) {
            *received = r.next.outs[0] > static_cast<int64_t>(room) && recordedBytes > 0 ? static_cast<int32_t>(room)
                                                                                        : static_cast<int32_t>(r.next.outs[0]);
        }
        Advance();
        return status;
    }
    const uint32_t left = recordedBytes - r.nextServed;
    const uint32_t count = left < room ? left : room;
    if (buffer != nullptr) trace::ExpandStream(r.next, r.nextServed, count, buffer);
    if (received != nullptr) *received = static_cast<int32_t>(count);
    r.nextServed += count;
    if (r.nextServed == recordedBytes) Advance();
    return kOk;
}

void ClearReadBlock() noexcept { Answer(CallOf(Op::ClearReadBlock)); }

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
