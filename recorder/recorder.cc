// recorder/recorder.cc: the recording build of the device library. Every operation is
// forwarded unchanged to the real library named by KELVOREC_LIBRARY, and the call, with
// everything the library wrote back, is appended to the trace named by KELVOREC_TRACE.
// Without either, every operation fails with kErrRecorder and the reason is on stderr.
// Recording is a passenger: once the trace cannot be written on, the recorder says so once,
// marks the trace as cut and goes on forwarding every call, so the scanner is still shut down.
// The trace ends with a closing record when the program ends or unloads the library.
#include "device/kelvoscanusb.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "device/contract.h"
#include "device/stack_bytes.h"
#include "host/host.h"
#include "trace/call_packing.h"
#include "trace/trace_format.h"

using trace::Call;
using trace::Op;
using trace::given::OpTag;
using trace::given::Outputs;
namespace asked = trace::asked;

namespace {

constexpr int32_t kErrRecorder = -190;
const char kRecorderErrorText[] = "recording library: the device library or the trace is not available";
struct RealLibrary {
#define KELVO_POINTER(result, name, parameters, arguments) decltype(&::name) name = nullptr;
    KELVO_OPERATIONS(KELVO_POINTER)
#undef KELVO_POINTER
};

// When each call returned, in milliseconds since the session began. A stream at link speed
// makes a call every microsecond or so, and reading the system's steady clock would cost it a
// tenth of its time: the clock is read once more than kWindowNs may have passed since it was
// last read, which the processor's time-stamp counter tells far more cheaply, and in between
// the last reading stands. A call's time is thus never more than 20 µs early, well inside the
// trace's millisecond. Until the counter's rate is known (after the session's first 5 ms),
// where it runs backwards (another core's counter) and where there is none, every call reads
// the clock.
class CallClock {
public:
    void Start() {
        start_ = std::chrono::steady_clock::now();
        startTicks_ = Ticks();
    }

    uint64_t NowMs() {
        const uint64_t ticks = Ticks();
        if (ticksPerWindow_ != 0 && ticks - readTicks_ < ticksPerWindow_) return readMs_;
        const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count();
        readTicks_ = ticks;
        readMs_ = std::max(readMs_, static_cast<uint64_t>(ns / 1000000));
        if (ticksPerWindow_ == 0 && ns >= kCalibrationNs && ticks > startTicks_) {
            const double ticksPerNs = static_cast<double>(ticks - startTicks_) / static_cast<double>(ns);
            if (ticksPerNs > 0.1 && ticksPerNs < 100) ticksPerWindow_ = static_cast<uint64_t>(ticksPerNs * kWindowNs);
        }
        return readMs_;
    }

private:
    static constexpr int64_t kWindowNs = 20000;
    static constexpr int64_t kCalibrationNs = 5000000;
#if defined(__x86_64__) || defined(__i386__)
    static uint64_t Ticks() { return __builtin_ia32_rdtsc(); }
#else
    static uint64_t Ticks() { return 0; }   // no counter: ticksPerWindow_ stays 0
#endif
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    uint64_t startTicks_ = 0;
    uint64_t ticksPerWindow_ = 0;
    uint64_t readTicks_ = 0;
    uint64_t readMs_ = 0;
};

class Session {
public:
    Session() {
        ready_ = Load();
        recording_ = ready_.load();
    }

    bool Ready() const { return ready_; }
    const RealLibrary& Real() const { return real_; }

    // Records are handed to the operating system a group at a time, with the group's check
    // record: a program killed at any moment leaves whole checked groups and at most one cut
    // group at the end, and the reader uses no call of a group it cannot check anyway. Every
    // call but a ReadBlock closes its group, so only stream blocks wait, at most kGroupRecords
    // of them; a clean block costs the comparison with the pattern and a few bytes appended.
    void Record(Call& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_) return;
        call.timeMs = clock_.NowMs();
        encoder_.Append(call, buffer_);
        if (!encoder_.GroupOpen()) WriteGroup();
    }

    // When the library is unloaded or the program ends: the last group, closed, and the
    // closing record that says the session ended and nothing is missing. A forked child that
    // ends writes nothing into its parent's trace.
    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_ || host::ProcessId() != processId_) return;
        encoder_.AppendClosing(buffer_);
        WriteGroup();
    }

private:
    // Writes the closed group gathered in buffer_. On a failed write the file is cut back to
    // its last whole group, whose check covers exactly what is in the file, and nothing more
    // is recorded.
    void WriteGroup() {
        std::string error;
        const bool written = host::WriteAt(file_, written_, buffer_.data(), buffer_.size(), &error);
        if (written) written_ += buffer_.size();
        buffer_.clear();
        if (!written) StopRecording(error);
    }

    // The trace keeps its whole groups and is marked as cut in its header, which is written
    // again in one piece (it needs no room).
    void StopRecording(const std::string& reason) {
        recording_ = false;
        std::fprintf(stderr,
                     "kelvorec: cannot write the trace %s (%s); recording stops here, the trace is marked as cut, "
                     "and every call still goes to the device library\n",
                     tracePath_.c_str(), reason.c_str());
        host::Truncate(file_, written_);
        std::vector<uint8_t> header;
        trace::Encoder::AppendHeader(header, startUnixMs_, trace::kHeaderFlagCut);
        std::string ignored;
        if (!host::WriteAt(file_, 0, header.data(), header.size(), &ignored)) {
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
        void* library = host::OpenLibrary(libraryPath, &error);
        if (library == nullptr) return Fail(std::string("cannot load ") + libraryPath + ": " + error);
#define KELVO_FIND(result, name, parameters, arguments)                                            \
    real_.name = reinterpret_cast<decltype(&::name)>(                                              \
        host::FindOperation(library, #name, kelvo::ArgumentBytes<decltype(::name)>::value, &error)); \
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
        file_ = host::CreateTraceFile(tracePath_, &error, &busy);
        if (file_ == -1) return Fail("cannot create the trace " + tracePath_ + ": " + error);
        std::vector<uint8_t> header;
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        startUnixMs_ = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
        trace::Encoder::AppendHeader(header, startUnixMs_);
        if (!host::WriteAt(file_, 0, header.data(), header.size(), &error)) {
            return Fail("cannot write the trace " + tracePath_ + ": " + error);
        }
        written_ = header.size();
        processId_ = host::ProcessId();
        clock_.Start();
        return true;
    }

    std::atomic<bool> ready_{false};
    bool recording_ = false;   // under mutex_
    uint64_t written_ = 0;     // bytes of whole groups in the file
    uint64_t startUnixMs_ = 0;
    uint64_t processId_ = 0;
    RealLibrary real_;
    std::string tracePath_;
    intptr_t file_ = -1;
    CallClock clock_;          // under mutex_
    std::mutex mutex_;
    trace::Encoder encoder_;
    std::vector<uint8_t> buffer_;   // the records of the group not yet written
};

// Loaded on the first call, so the message comes when a program first uses the library. It
// is never destroyed, so that a call made while the process ends still finds it. The session
// is finished (its closing record written) when the program ends or unloads the library,
// with Free_Interface called or not; a killed program leaves a trace without one.
Session& TheSession() {
    static Session* session = [] {
        Session* created = new Session();
        std::atexit([] { TheSession().Finish(); });
        return created;
    }();
    return *session;
}

// Without the device library every operation fails with kErrRecorder, answered as the
// operation answers a failure; its text is the recorder's own.
template <Operation op, typename... Arguments>
auto Unavailable(Arguments... arguments) {
    if constexpr (op == Operation::kReadBlock) {
        int32_t* received = std::get<2>(std::tie(arguments...));
        if (received != nullptr) *received = 0;
    } else if constexpr (op == Operation::kGetKelvoErrorText) {
        const auto [code, text, size] = std::tie(arguments...);
        if (AdcErrorCause(code) == kErrRecorder && text != nullptr && size > 0) {
            std::snprintf(text, size, "%s", kRecorderErrorText);
            return 0;
        }
    }
    return FailedResult<op>(kErrRecorder);
}

// The call as made, forwarded to the library, then recorded with what the library gave back.
template <typename Forward, typename Give>
auto Recorded(Session& s, Call call, Forward forward, Give give) {
    if constexpr (std::is_void_v<decltype(forward())>) {
        forward();
        give(call);
        s.Record(call);
    } else {
        const auto result = forward();
        give(call);
        call.result = result;
        s.Record(call);
        return result;
    }
}

}  // namespace

extern "C" {

#define KELVO_RECORD(result, name, parameters, arguments)                                           \
    result name parameters {                                                                          \
        Session& s = TheSession();                                                                    \
        if (!s.Ready()) return Unavailable<Operation::k##name> arguments;                                        \
        const auto give = [&](Call& call) {                                                           \
            std::apply([&](auto&... given) { Outputs(OpTag<Op::name>{}, call, given...); }, std::tie arguments); \
        };                                                                                            \
        return Recorded(s, asked::name arguments, [&] { return s.Real().name arguments; }, give);     \
    }
KELVO_OPERATIONS(KELVO_RECORD)
#undef KELVO_RECORD

}  // extern "C"
