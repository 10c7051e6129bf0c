// procedures/scan_stream.cc: the scan streaming test. Blocks of random length are pulled
// through ReadBlock, checked against the counting pattern and written to the scan file; the
// data flow is restarted after every second report, and a key or a stop request ends the
// test with the gate closed and the file complete.
#include "procedures/scan_stream.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "device/kelvoscanusb.h"
#include "device/contract.h"
#include "device/device_errors.h"
#include "device/scanner.h"
#include "console/keyboard.h"
#include "log/trace_log.h"
#include "platform/platform.h"
#include "device/stream_check.h"

constexpr int kReportsPerRestart = 2;

namespace {

// The scan file: raw bytes of every accepted block. Closing flushes the buffered tail, so a
// failure there is as much a lost write as a short fwrite.
class ScanFile {
public:
    // The open never waits: a FIFO without a reader must not hold the tool with the gate on
    // and the terminal in key mode; it is a file that cannot be opened.
    explicit ScanFile(const char* path)
        : file_(path != nullptr ? OpenForWritingNoWait(path, "wb") : nullptr) {}
    ~ScanFile() { Close(); }
    ScanFile(const ScanFile&) = delete;
    ScanFile& operator=(const ScanFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    bool Write(const uint8_t* data, size_t bytes) {
        return file_ == nullptr || std::fwrite(data, 1, bytes, file_) == bytes;
    }
    // True when everything written so far reached the file (or there was no file).
    bool Close() {
        if (file_ == nullptr) return true;
        const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return flushed && closed;
    }

private:
    FILE* file_;
};

void ReportFileWriteError() {
    if (ErrorsOn()) gTraceLog.Print("Error FileWrite!\n");
}

// Closes the file at the end of the test; a tail that did not make it is reported.
void CloseScanFile(ScanFile& file) {
    if (!file.Close()) ReportFileWriteError();
}

struct StreamState {
    PatternCheck check;                       // holds the reference table
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kScanBufferBytes);
    RequestRandom random;
    uint64_t totalBytes = 0;
    bool checkArmed = false;
    uint32_t startMs = 0;
    uint32_t lastReportMs = 0;
    int reports = 0;
};

// Takes one block into the test. False when the file write failed and the test must end.
bool AcceptBlock(StreamState& state, ScanFile& file, uint32_t receivedBytes) {
    // The first block after a start or restart carries whatever the scanner held back; it
    // is stored and counted, but the check starts with the next one.
    if (state.checkArmed) state.check.CheckBlock(state.buffer.data(), receivedBytes, state.totalBytes);
    state.totalBytes += receivedBytes;
    state.checkArmed = true;
    return file.Write(state.buffer.data(), receivedBytes);
}

// Stops and restarts the scanner's data flow; the data held back meanwhile is discarded.
bool RestartDataFlow(StreamState& state) {
    if (!SetScanGate(false)) return false;
    ClearReadBlock();
    state.checkArmed = false;
    state.check.Resync();
    return SetScanGate(true);
}

// The once-a-second report. False when the restart failed and the test must end.
bool Report(StreamState& state) {
    state.lastReportMs = TickCountMs();
    ReportThroughput(state.totalBytes, TickCountMs() - state.startMs, state.check.ErrorCount());
    if (++state.reports == kReportsPerRestart) {
        state.reports = 0;
        if (!RestartDataFlow(state)) return false;
    }
    uint64_t position = 0;
    uint16_t value = 0;
    // Taken even when the line is suppressed, so that the next interval records afresh.
    if (state.check.TakeFirstError(&position, &value) && ErrorsOn()) {
        gTraceLog.Print("First ErrPosition:0x%I64x errorvalue:0x%04hx!\n", position, value);
    }
    return true;
}

void StreamUntilStopped(ScanFile& file) {
    // Everything the loop touches is set up here; the loop itself allocates nothing.
    StreamState state;
    state.startMs = TickCountMs();
    state.lastReportMs = TickCountMs();
    state.random.state = static_cast<uint32_t>(std::time(nullptr));

    for (;;) {
        const int32_t requested = RequestLengthFor(state.random.Next());
        int32_t received = 0;
        const int32_t status = ReadBlock(state.buffer.data(), requested, &received);
        if (status == 0 && received != 0) {
            // A count the buffer cannot hold is no block at all; trusting it would read
            // past the buffer.
            if (received < 0 || received > requested) {
                if (ErrorsOn()) gTraceLog.Print("Error BlockRead:%d\n", kErrBlockLength);
            } else if (!AcceptBlock(state, file, static_cast<uint32_t>(received))) {
                ReportFileWriteError();
                SetScanGate(false);
                file.Close();   // already reported
                return;
            }
        } else if (status != 0 && status != kNoDataStatus && ErrorsOn()) {
            gTraceLog.Print("Error BlockRead:%d\n", status);
        }

        if (TickCountMs() - state.lastReportMs > kReportIntervalMs && !Report(state)) {
            CloseScanFile(file);
            return;
        }

        // A key, Ctrl-C and a termination request all end the test the same way. The key
        // is left unread.
        if (LoopEndRequested()) {
            SetScanGate(false);
            CloseScanFile(file);
            return;
        }
    }
}

}  // namespace

bool SetScanGate(bool on) {
    const uint8_t value = on ? 1 : 0;
    if (!RegisterWriteSucceeded(RegWrite(4, value))) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err.RegWrite reg.4 \n");
        ReportLastDeviceError();
        return false;
    }
    if (!RegisterWriteSucceeded(RegWrite(5, value))) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err.RegWrite reg. 5\n");
        ReportLastDeviceError();
        return false;
    }
    return true;
}

void ReportThroughput(uint64_t totalBytes, uint32_t elapsedMs, uint32_t errorCount) {
    const uint32_t seconds = elapsedMs / 1000;
    // The whole 64-bit quotient: the total passes 2^32 within two minutes at USB 2 speed, and
    // a fast link or the virtual scanner can exceed 4 GB per second.
    const uint64_t bytesPerSecond = seconds == 0 ? 0 : totalBytes / seconds;
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: Total bytes transferred: %I64u, Data Rate: %I64u, Errors: %u\n",
                        totalBytes, bytesPerSecond, errorCount);
    }
}

void RunScanStreamTest(const char* fileName) {
    // Held for the whole test: a stop request that comes even during the start ends the
    // test cleanly at its first pass instead of killing the tool with the gate open.
    KeyLoopScope keyLoop;
    const bool toFile = fileName != nullptr;
    if (ErrorsOn()) {
        if (toFile) {
            gTraceLog.Print("ReadBlock from Scanner in File %s\n", fileName);
        } else {
            gTraceLog.Print("ReadBlock from Scanner without File!\n");
        }
    }
    // Always the default configuration: it is the one that produces the counting stream.
    if (Init_Firmware(kDefaultFpgaFile, 1) != 0) {
        if (ErrorsOn()) gTraceLog.Print("ksutest: Err. Init_Firmware\n");
        return;
    }
    if (!SetScanGate(true)) return;
    ScanFile file(fileName);
    if (toFile && !file.IsOpen() && ErrorsOn()) {
        gTraceLog.Print("Cannot open scannerfile %s\n", fileName);
    }
    DrainKeyboard();
    StreamUntilStopped(file);
}
