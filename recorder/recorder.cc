// recorder/recorder.cc: the recording build of the device library. Every operation is
// forwarded unchanged to the real library named by KELVOREC_LIBRARY, and the call, with
// everything the library wrote back, is appended to the trace named by KELVOREC_TRACE.
// Without either, every operation fails with kErrRecorder and the reason is on stderr.
// Recording is a passenger: once the trace cannot be written on, the recorder says so once,
// marks the trace as cut and goes on forwarding every call, so the scanner is still shut down.
#include "device/kelvoscanusb.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "device/contract.h"
#include "device/stack_bytes.h"
#include "recorder/loader.h"
#include "trace/call_packing.h"
#include "trace/trace_format.h"

using trace::Call;
namespace asked = trace::asked;

namespace {

constexpr int32_t kErrRecorder = -190;
const char kRecorderErrorText[] = "recording library: the device library or the trace is not available";
struct RealLibrary {
#define KELVO_POINTER(result, name, parameters, arguments) decltype(&::name) name = nullptr;
    KELVO_OPERATIONS(KELVO_POINTER)
#undef KELVO_POINTER
};

class Session {
public:
    Session() {
        ready_ = Load();
        recording_ = ready_.load();
    }

    bool Ready() const { return ready_; }
    const RealLibrary& Real() const { return real_; }

    // One record, handed to the operating system in one piece: a program killed at any
    // moment leaves whole records and at most one cut one at the end.
    void Record(Call& call) {
        const uint64_t nowMs = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                         std::chrono::steady_clock::now() - start_)
                                                         .count());
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_) return;
        call.timeMs = nowMs;
        buffer_.clear();
        const trace::Encoder before = encoder_;
        encoder_.Append(call, buffer_);
        std::string error;
        if (!rec::WriteAt(file_, written_, buffer_.data(), buffer_.size(), &error)) {
            encoder_ = before;
            StopRecording(error);
            return;
        }
        written_ += buffer_.size();
    }

    // At the end of the process: the check record of a group still open.
    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_) return;
        buffer_.clear();
        encoder_.CloseGroup(buffer_);
        std::string error;
        if (!buffer_.empty() && !rec::WriteAt(file_, written_, buffer_.data(), buffer_.size(), &error)) {
            StopRecording(error);
        }
    }

private:
    // The trace keeps its whole records, closed by a check record where there is still room
    // for one, and is marked as cut in its header (which needs no room).
    void StopRecording(const std::string& reason) {
        recording_ = false;
        std::fprintf(stderr,
                     "kelvorec: cannot write the trace %s (%s); recording stops here, the trace is marked as cut, "
                     "and every call still goes to the device library\n",
                     tracePath_.c_str(), reason.c_str());
        rec::Truncate(file_, written_);
        buffer_.clear();
        encoder_.CloseGroup(buffer_);
        std::string ignored;
        if (!buffer_.empty() && rec::WriteAt(file_, written_, buffer_.data(), buffer_.size(), &ignored)) {
            written_ += buffer_.size();
        }
        const uint8_t flags[2] = {static_cast<uint8_t>(trace::kHeaderFlagCut), 0};
        if (!rec::WriteAt(file_, trace::kHeaderFlagsAt, flags, sizeof flags, &ignored)) {
            std::fprintf(stderr, "kelvorec: the trace %s could not be marked as cut either (%s)\n", tracePath_.c_str(),
                         ignored.c_str());
        }
    }

    bool Fail(const std::string& message) {
        std::fprintf(stderr, "kelvorec: %s; every call of the device library fails\n", message.c_str());
        return false;
    }

    bool Load() {
        const char* libraryPath = std::getenv("KELVOREC_LIBRARY");
        const char* tracePath = std::getenv("KELVOREC_TRACE");
        if (libraryPath == nullptr || *libraryPath == '\0') {
            return Fail("KELVOREC_LIBRARY does not name the device library to record");
        }
        if (tracePath == nullptr || *tracePath == '\0') return Fail("KELVOREC_TRACE does not name a trace file");
        std::string error;
        void* library = rec::OpenLibrary(libraryPath, &error);
        if (library == nullptr) return Fail(std::string("cannot load ") + libraryPath + ": " + error);
#define KELVO_FIND(result, name, parameters, arguments)                                            \
    real_.name = reinterpret_cast<decltype(&::name)>(                                              \
        rec::FindOperation(library, #name, kelvo::ArgumentBytes<decltype(::name)>::value, &error)); \
    if (real_.name == nullptr) {                                                                   \
        return Fail(std::string(libraryPath) + (error.empty() ? " has no operation " #name : " " + error)); \
    }
        KELVO_OPERATIONS(KELVO_FIND)
#undef KELVO_FIND
        if (real_.Init_Interface == &::Init_Interface) {
            return Fail(std::string(libraryPath) + " is the recording library itself, not the device library");
        }
        tracePath_ = tracePath;
        bool busy = false;
        file_ = rec::CreateTraceFile(tracePath_, &error, &busy);
        if (file_ == -1) return Fail("cannot create the trace " + tracePath_ + ": " + error);
        std::vector<uint8_t> header;
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        encoder_.AppendHeader(header, static_cast<uint64_t>(
                                          std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count()));
        if (!rec::WriteAt(file_, 0, header.data(), header.size(), &error)) {
            return Fail("cannot write the trace " + tracePath_ + ": " + error);
        }
        written_ = header.size();
        start_ = std::chrono::steady_clock::now();
        return true;
    }

    std::atomic<bool> ready_{false};
    bool recording_ = false;   // under mutex_
    uint64_t written_ = 0;     // bytes of whole records in the file
    RealLibrary real_;
    std::string tracePath_;
    intptr_t file_ = -1;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    trace::Encoder encoder_;
    std::vector<uint8_t> buffer_;
};

// Loaded on the first call, so the message comes when a program first uses the library. It
// is never destroyed, so that a call made while the process ends still finds it.
Session& TheSession() {
    static Session* session = [] {
        Session* created = new Session();
        std::atexit([] { TheSession().Finish(); });
        return created;
    }();
    return *session;
}

int64_t Recorded(Session& session, Call call, int64_t result) {
    call.result = result;
    session.Record(call);
    return result;
}

}  // namespace

extern "C" {

void SetTraceMask(uint32_t mask) {
    Session& s = TheSession();
    if (!s.Ready()) return;
    s.Real().SetTraceMask(mask);
    Recorded(s, asked::SetTraceMask(mask), 0);
}

int32_t Init_Interface(void) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    return static_cast<int32_t>(Recorded(s, asked::Init_Interface(), s.Real().Init_Interface()));
}

void SetUsbTimeout(uint32_t milliseconds) {
    Session& s = TheSession();
    if (!s.Ready()) return;
    s.Real().SetUsbTimeout(milliseconds);
    Recorded(s, asked::SetUsbTimeout(milliseconds), 0);
}

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    const int32_t result = s.Real().GetKelvoVersion(hardware, firmware, library, usbDriver);
    Call call = asked::GetKelvoVersion(hardware, firmware, library, usbDriver);
    const uint16_t* values[4] = {hardware, firmware, library, usbDriver};
    for (int i = 0; i < 4; ++i) call.outs[i] = values[i] != nullptr ? *values[i] : 0;
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

int32_t Init_Firmware(const char* fileName, int32_t useDefault) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    const int32_t result = s.Real().Init_Firmware(fileName, useDefault);
    Call call = asked::Init_Firmware(fileName, useDefault);
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

int32_t Free_Interface(void) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    return static_cast<int32_t>(Recorded(s, asked::Free_Interface(), s.Real().Free_Interface()));
}

int32_t GetLastKelvoError(int32_t which) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    return static_cast<int32_t>(Recorded(s, asked::GetLastKelvoError(which), s.Real().GetLastKelvoError(which)));
}

int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) {
    Session& s = TheSession();
    if (!s.Ready()) {
        if (AdcErrorCause(code) != kErrRecorder || text == nullptr || size == 0) return kErrRecorder;
        std::snprintf(text, size, "%s", kRecorderErrorText);
        return 0;
    }
    const int32_t result = s.Real().GetKelvoErrorText(code, text, size);
    Call call = asked::GetKelvoErrorText(code, text, size);
    if (text != nullptr && size > 0) call.text.assign(text, strnlen(text, size));
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

#define KELVO_REGISTER_WRITE(name, type)                                                           \
    int32_t name(uint32_t address, type value) {                                                   \
        Session& s = TheSession();                                                                 \
        if (!s.Ready()) return 0;                                                                  \
        return static_cast<int32_t>(Recorded(s, asked::name(address, value), s.Real().name(address, value))); \
    }
KELVO_REGISTER_WRITE(RegWrite, uint8_t)
KELVO_REGISTER_WRITE(RegWriteShort, uint16_t)
KELVO_REGISTER_WRITE(RegWriteLong, uint32_t)
KELVO_REGISTER_WRITE(RegWriteLongInc, uint32_t)
#undef KELVO_REGISTER_WRITE

#define KELVO_REGISTER_READ(name, type)                                                            \
    type name(uint32_t address) {                                                                  \
        Session& s = TheSession();                                                                 \
        if (!s.Ready()) return 0;                                                                  \
        return static_cast<type>(Recorded(s, asked::name(address), s.Real().name(address))); \
    }
KELVO_REGISTER_READ(RegRead, uint8_t)
KELVO_REGISTER_READ(RegReadShort, uint16_t)
KELVO_REGISTER_READ(RegReadShortInc, uint16_t)
KELVO_REGISTER_READ(RegReadLong, uint32_t)
KELVO_REGISTER_READ(RegReadLongInc, uint32_t)
#undef KELVO_REGISTER_READ

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    Call call = asked::I2C_PROM_write(buffer, deviceId, firstAddress, lastAddress);
    return static_cast<int32_t>(Recorded(s, std::move(call), s.Real().I2C_PROM_write(buffer, deviceId, firstAddress, lastAddress)));
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    const int32_t result = s.Real().I2C_PROM_read(buffer, deviceId, firstAddress, lastAddress);
    Call call = asked::I2C_PROM_read(buffer, deviceId, firstAddress, lastAddress);
    if (buffer != nullptr) call.dataOut.assign(buffer, buffer + ShortTransferBytes(firstAddress, lastAddress));
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    Call call = asked::I2C_LargePROMwr(deviceId, startAddress, buffer, length);
    const int32_t result = s.Real().I2C_LargePROMwr(deviceId, startAddress, buffer, length);
    call.outs[0] = length != nullptr ? *length : 0;
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    int32_t lengthIn = length != nullptr ? *length : 0;
    const int32_t result = s.Real().I2C_LargePROMrd(deviceId, startAddress, buffer, length);
    Call call = asked::I2C_LargePROMrd(deviceId, startAddress, buffer, &lengthIn);
    call.outs[0] = length != nullptr ? *length : 0;
    // Only what the library says it moved, and never past the buffer the program gave.
    const int64_t moved = call.outs[0] < 0 ? 0 : (call.outs[0] < lengthIn ? call.outs[0] : lengthIn);
    if (buffer != nullptr && moved > 0) call.dataOut.assign(buffer, buffer + moved);
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

// The converter's failure lies below its readings, as every implementation answers it.
#define KELVO_I2C_VALUE(name, failure)                                                             \
    int32_t name(uint8_t deviceId, int32_t value) {                                                \
        Session& s = TheSession();                                                                 \
        if (!s.Ready()) return failure;                                                            \
        return static_cast<int32_t>(Recorded(s, asked::name(deviceId, value), s.Real().name(deviceId, value))); \
    }
KELVO_I2C_VALUE(I2C_ADCread, AdcErrorResult(kErrRecorder))
KELVO_I2C_VALUE(I2C_DACout, kErrRecorder)
KELVO_I2C_VALUE(I2C_TEMPinit, kErrRecorder)
#undef KELVO_I2C_VALUE

int32_t I2C_TEMPread(uint8_t deviceId) {
    Session& s = TheSession();
    if (!s.Ready()) return kTemperatureFailure;
    return static_cast<int32_t>(Recorded(s, asked::I2C_TEMPread(deviceId), s.Real().I2C_TEMPread(deviceId)));
}

int32_t Pentamotor_init(int32_t revolutions) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    return static_cast<int32_t>(Recorded(s, asked::Pentamotor_init(revolutions), s.Real().Pentamotor_init(revolutions)));
}

int32_t Anz_ScanLine(void) {
    Session& s = TheSession();
    if (!s.Ready()) return kScanLineFailure;
    return static_cast<int32_t>(Recorded(s, asked::Anz_ScanLine(), s.Real().Anz_ScanLine()));
}

int32_t GetScanStatus(ScannerStatus* status) {
    Session& s = TheSession();
    if (!s.Ready()) return kErrRecorder;
    const int32_t result = s.Real().GetScanStatus(status);
    Call call = asked::GetScanStatus(status);
    if (status != nullptr) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(status);
        call.dataOut.assign(bytes, bytes + sizeof *status);
    }
    return static_cast<int32_t>(Recorded(s, std::move(call), result));
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) {
    Session& s = TheSession();
    if (!s.Ready()) {
        if (received != nullptr) *received = 0;
        return kErrRecorder;
    }
    const int32_t result = s.Real().ReadBlock(buffer, requested, received);
    Call call = asked::ReadBlock(buffer, requested, received);
    call.outs[0] = received != nullptr ? *received : 0;
    call.stream = buffer;   // trace::StreamBytes keeps it within the request
    call.result = result;
    s.Record(call);
    return result;
}

void ClearReadBlock(void) {
    Session& s = TheSession();
    if (!s.Ready()) return;
    s.Real().ClearReadBlock();
    Recorded(s, asked::ClearReadBlock(), 0);
}

}  // extern "C"
