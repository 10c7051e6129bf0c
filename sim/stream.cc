// sim/stream.cc: the scan data path of the virtual scanner. While the gate is open the
// scanner counts 0, 1, ... 65535, 0, ... at a steady rate into a FIFO of finite size; a host
// that reads too slowly loses the words that no longer fit. ReadBlock takes words out of the
// FIFO, little-endian, and the scenario can drop or corrupt words on the way out.
#include "sim/stream.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "sim/errors.h"
#include "sim/host.h"
#include "sim/scenario.h"

namespace sim {

constexpr double kUsb2BytesPerSecond = 40e6;   // a high-speed bulk pipe as it performs in practice
constexpr uint64_t kDefaultFifoBytes = 4u << 20;
constexpr uint64_t kNever = ~uint64_t{0};
constexpr uint64_t kShortestWaitNs = 20000;

namespace {

// Words that left the counter in one unbroken run; overflow breaks the run.
struct Run {
    uint16_t first;
    uint64_t words;
};

// A fault at delivered word offsets: once at `next`, or again every `every` words after it.
struct FaultRule {
    uint64_t words = 1;       // how many words it drops or corrupts
    uint64_t next = kNever;
    uint64_t every = 0;
};

struct Stream {
    bool gateOpen = false;
    uint16_t counter = 0;           // the next word the scanner produces
    uint64_t producedWords = 0;     // since the interface was opened, lost ones included
    uint64_t gateOpenedNs = 0;
    uint64_t producedSinceOpenWords = 0;
    std::deque<Run> fifo;
    uint64_t fifoWords = 0;
    uint64_t deliveredWords = 0;    // offset of the next word ReadBlock hands out
    uint64_t dropPendingWords = 0;
    // settings
    bool onDemand = false;
    double wordsPerNs = kUsb2BytesPerSecond / 2e9;
    uint64_t fifoCapacityWords = kDefaultFifoBytes / 2;
    FaultRule drop;
    FaultRule corrupt;
};

Stream gStream;

// "at N", "every N", "<words> at N" or "<words> every N".
FaultRule ReadFaultRule(const char* key) {
    FaultRule rule;
    if (!ScenarioHas(key)) return rule;
    const std::string text = ScenarioText(key, "");
    unsigned long long words = 1, offset = 0;
    char mode[16] = "";
    if (std::sscanf(text.c_str(), "%15s %llu", mode, &offset) != 2) {
        if (std::sscanf(text.c_str(), "%llu %15s %llu", &words, mode, &offset) != 3) return rule;
    }
    if (words == 0) return rule;
    rule.words = words;
    if (std::strcmp(mode, "at") == 0) {
        rule.next = offset;
    } else if (std::strcmp(mode, "every") == 0 && offset > 0) {
        rule.next = offset;
        rule.every = offset;
    }
    return rule;
}

void ReadSettings(Stream& stream) {
    const std::string rate = ScenarioText("stream.rate", "usb2");
    stream.onDemand = rate == "unlimited";
    double bytesPerSecond = rate == "usb2" ? kUsb2BytesPerSecond : ScenarioNumber("stream.rate", kUsb2BytesPerSecond);
    if (!(bytesPerSecond >= 2.0)) bytesPerSecond = kUsb2BytesPerSecond;
    stream.wordsPerNs = bytesPerSecond / 2e9;
    const int64_t fifoBytes = ScenarioInteger("stream.fifo", static_cast<int64_t>(kDefaultFifoBytes));
    stream.fifoCapacityWords = fifoBytes >= 2 ? static_cast<uint64_t>(fifoBytes) / 2 : kDefaultFifoBytes / 2;
    stream.drop = ReadFaultRule("stream.drop");
    stream.corrupt = ReadFaultRule("stream.corrupt");
}

// The counter runs on whether or not the words fit: those beyond the FIFO's room are lost.
void Produce(uint64_t words) {
    Stream& s = gStream;
    const uint64_t room = s.fifoCapacityWords - s.fifoWords;
    const uint64_t kept = words < room ? words : room;
    if (kept > 0) {
        if (!s.fifo.empty() &&
            static_cast<uint16_t>(s.fifo.back().first + s.fifo.back().words) == s.counter) {
            s.fifo.back().words += kept;
        } else {
            s.fifo.push_back(Run{s.counter, kept});
        }
        s.fifoWords += kept;
    }
    s.counter = static_cast<uint16_t>(s.counter + words);
    s.producedWords += words;
}

// Brings the FIFO up to the present: what the scanner produced since the last look.
void Advance() {
    Stream& s = gStream;
    if (!s.gateOpen || s.onDemand) return;
    const double elapsedNs = static_cast<double>(MonotonicNs() - s.gateOpenedNs);
    const uint64_t total = static_cast<uint64_t>(elapsedNs * s.wordsPerNs);
    if (total <= s.producedSinceOpenWords) return;
    Produce(total - s.producedSinceOpenWords);
    s.producedSinceOpenWords = total;
}

// The next word from the FIFO or, on demand, straight from the counter.
bool TakeWord(uint16_t* word) {
    Stream& s = gStream;
    if (s.fifoWords == 0) {
        if (!s.onDemand || !s.gateOpen) return false;
        Produce(1);
    }
    Run& run = s.fifo.front();
    *word = run.first;
    run.first = static_cast<uint16_t>(run.first + 1);
    if (--run.words == 0) s.fifo.pop_front();
    --s.fifoWords;
    return true;
}

bool WordsAvailable() {
    return gStream.fifoWords > 0 || (gStream.onDemand && gStream.gateOpen);
}

// Hands out up to maxWords words with the scenario's faults applied; returns how many.
uint64_t Deliver(uint8_t* buffer, uint64_t maxWords) {
    Stream& s = gStream;
    uint64_t delivered = 0;
    while (delivered < maxWords) {
        if (s.deliveredWords == s.drop.next) {
            s.dropPendingWords += s.drop.words;
            s.drop.next = s.drop.every > 0 ? s.drop.next + s.drop.every : kNever;
        }
        uint16_t word = 0;
        if (!TakeWord(&word)) break;
        if (s.dropPendingWords > 0) {   // lost on the way: the host never sees it
            --s.dropPendingWords;
            continue;
        }
        if (s.deliveredWords >= s.corrupt.next) {
            word = static_cast<uint16_t>(~word);
            if (s.deliveredWords + 1 >= s.corrupt.next + s.corrupt.words) {
                s.corrupt.next = s.corrupt.every > 0 ? s.corrupt.next + s.corrupt.every : kNever;
            }
        }
        buffer[2 * delivered] = static_cast<uint8_t>(word);
        buffer[2 * delivered + 1] = static_cast<uint8_t>(word >> 8);
        ++delivered;
        ++s.deliveredWords;
    }
    return delivered;
}

// Like a bulk transfer: done when the request is filled; with the data flow stopped, or when
// the time-out runs out, it ends short with what came.
void WaitForData(uint64_t wantWords, uint32_t timeoutMs) {
    Stream& s = gStream;
    const uint64_t deadlineNs = MonotonicNs() + static_cast<uint64_t>(timeoutMs) * 1000000u;
    for (;;) {
        Advance();
        if (s.onDemand && s.gateOpen) return;
        if (s.fifoWords >= wantWords || s.fifoWords >= s.fifoCapacityWords) return;
        if (!s.gateOpen && s.fifoWords > 0) return;
        const uint64_t now = MonotonicNs();
        if (now >= deadlineNs) return;
        uint64_t waitNs = deadlineNs - now;
        if (s.gateOpen) {
            const double fillNs = static_cast<double>(wantWords - s.fifoWords) / s.wordsPerNs;
            if (fillNs < static_cast<double>(waitNs)) waitNs = static_cast<uint64_t>(fillNs) + 1;
        }
        SleepNs(waitNs > kShortestWaitNs ? waitNs : kShortestWaitNs);
    }
}

}  // namespace

void StreamReset() {
    gStream = Stream{};
    ReadSettings(gStream);
}

void StreamSetGate(bool on) {
    Stream& s = gStream;
    if (on == s.gateOpen) return;
    Advance();   // the words up to this moment were produced with the gate as it was
    s.gateOpen = on;
    s.gateOpenedNs = MonotonicNs();
    s.producedSinceOpenWords = 0;
}

int32_t StreamRead(uint8_t* buffer, int32_t requested, int32_t* received, uint32_t timeoutMs) {
    *received = 0;
    const uint64_t wantWords = requested > 0 ? static_cast<uint64_t>(requested) / 2 : 0;
    if (wantWords == 0) return kOk;
    WaitForData(wantWords, timeoutMs);
    if (!WordsAvailable()) return kErrNoData;
    *received = static_cast<int32_t>(2 * Deliver(buffer, wantWords));
    return kOk;
}

void StreamClear() {
    Advance();
    gStream.fifo.clear();
    gStream.fifoWords = 0;
}

uint32_t StreamFifoBytes() {
    Advance();
    const uint64_t bytes = 2 * gStream.fifoWords;
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

uint64_t StreamBytesProduced() {
    Advance();
    return 2 * gStream.producedWords;
}

}  // namespace sim
