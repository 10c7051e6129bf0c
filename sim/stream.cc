// sim/stream.cc: the scan data path of the virtual scanner. While the gate is open the
// scanner counts 0, 1, ... 65535, 0, ... at a steady rate into a FIFO of finite size; a host
// that reads too slowly loses the words that no longer fit. ReadBlock takes words out of the
// FIFO, little-endian, and the scenario can drop or corrupt words on the way out.
//
// Nothing here goes word by word. The FIFO is a short list of runs of consecutive counter
// values (a run ends where words were lost), delivery copies whole runs out of a table of the
// pattern, drops skip words by arithmetic and corruption inverts just the words it hits. So a
// block costs one or two memory copies, and ReadBlock allocates nothing.
#include "sim/stream.h"

#include <algorithm>
#include <cstring>

#include "device/counting_pattern.h"
#include "sim/errors.h"
#include "sim/clock.h"
#include "sim/scenario.h"

namespace sim {

namespace {

constexpr uint64_t kDefaultBytesPerSecond = 40000000;   // usb2
constexpr int64_t kDefaultFifoBytes = 4 << 20;
constexpr int64_t kLargestDefaultFifoBytes = int64_t{1} << 30;
constexpr uint64_t kNever = ~uint64_t{0};
constexpr uint64_t kShortestWaitNs = 20000;
// Breaks the FIFO can hold at once. Only a host that reads a few words at a time from a FIFO
// that keeps overflowing gets near it; beyond it new words are lost as if the FIFO were full.
constexpr size_t kMaxRuns = 1024;

// The counting words from `first` on, `words` of them.
void CopyPattern(uint8_t* out, uint16_t first, uint64_t words) {
    while (words > 0) {
        // The table holds two periods: from any word, a whole period copies at once.
        const uint64_t piece = std::min<uint64_t>(words, kPatternWords);
        std::memcpy(out, CountingPatternAt(2 * uint64_t{first}), 2 * piece);
        out += 2 * piece;
        words -= piece;
        first = static_cast<uint16_t>(first + piece);
    }
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > kNever - b ? kNever : a + b; }

// Words that left the counter in one unbroken run.
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
    Run runs[kMaxRuns] = {};        // a ring: the FIFO's content, oldest first
    size_t firstRun = 0;
    size_t runCount = 0;
    uint64_t fifoWords = 0;
    uint64_t deliveredWords = 0;    // offset of the next word ReadBlock hands out
    uint64_t dropPendingWords = 0;
    uint64_t corruptedUntil = 0;    // delivered offsets below this are done (windows may overlap)
    bool lossUnreported = false;
    bool overflowed = false;
    // settings
    bool onDemand = false;
    double wordsPerNs = static_cast<double>(kDefaultBytesPerSecond) / 2e9;
    uint64_t fifoCapacityWords = static_cast<uint64_t>(kDefaultFifoBytes) / 2;
    FaultRule drop;
    FaultRule corrupt;
};

Stream gStream;

FaultRule ReadFaultRule(const char* key) {
    FaultRule rule;
    const SettingValue* setting = ScenarioFind(key);
    if (setting == nullptr) return rule;
    rule.words = static_cast<uint64_t>(setting->integer);
    rule.next = setting->position;
    rule.every = setting->mode == RuleMode::kEvery ? setting->position : 0;
    return rule;
}

void ReadSettings(Stream& s) {
    const int64_t bytesPerSecond = ScenarioInteger("stream.rate", static_cast<int64_t>(kDefaultBytesPerSecond));
    s.onDemand = bytesPerSecond == 0;
    if (!s.onDemand) s.wordsPerNs = static_cast<double>(bytesPerSecond) / 2e9;
    // Without a size of its own the FIFO holds about a tenth of a second at the set rate, as
    // the 4 MiB do at USB 2 speed: a faster link comes with a deeper buffer.
    const int64_t scaledBytes = std::clamp<int64_t>(bytesPerSecond / 10, kDefaultFifoBytes, kLargestDefaultFifoBytes);
    s.fifoCapacityWords = static_cast<uint64_t>(ScenarioInteger("stream.fifo", scaledBytes)) / 2;
    s.drop = ReadFaultRule("stream.drop");
    s.corrupt = ReadFaultRule("stream.corrupt");
}

Run& RunAt(size_t index) { return gStream.runs[(gStream.firstRun + index) % kMaxRuns]; }

// The counter runs on whether or not the words fit: those beyond the FIFO's room are lost.
void Produce(uint64_t words) {
    Stream& s = gStream;
    uint64_t kept = std::min(words, s.fifoCapacityWords - s.fifoWords);
    if (kept > 0) {
        Run* last = s.runCount > 0 ? &RunAt(s.runCount - 1) : nullptr;
        if (last != nullptr && static_cast<uint16_t>(last->first + last->words) == s.counter) {
            last->words += kept;
        } else if (s.runCount < kMaxRuns) {
            RunAt(s.runCount++) = Run{s.counter, kept};
        } else {
            kept = 0;
        }
        s.fifoWords += kept;
    }
    if (kept < words) s.lossUnreported = s.overflowed = true;
    s.counter = static_cast<uint16_t>(s.counter + words);
    s.producedWords = SaturatingAdd(s.producedWords, words);
}

// Brings the FIFO up to the present: what the scanner produced since the last look.
void Advance() {
    Stream& s = gStream;
    if (!s.gateOpen || s.onDemand) return;
    const double elapsedNs = static_cast<double>(ClockNs() - s.gateOpenedNs);
    const uint64_t total = static_cast<uint64_t>(elapsedNs * s.wordsPerNs);
    if (total <= s.producedSinceOpenWords) return;
    Produce(total - s.producedSinceOpenWords);
    s.producedSinceOpenWords = total;
}

bool OnDemand() { return gStream.onDemand && gStream.gateOpen; }

// Takes up to `words` out of the FIFO (or, on demand, the counter) into `out`, or just
// discards them when `out` is null; returns how many.
uint64_t TakeSource(uint8_t* out, uint64_t words) {
    Stream& s = gStream;
    if (s.fifoWords > 0) {
        Run& run = RunAt(0);
        const uint64_t n = std::min(words, run.words);
        if (out != nullptr) CopyPattern(out, run.first, n);
        run.first = static_cast<uint16_t>(run.first + n);
        run.words -= n;
        if (run.words == 0) {
            s.firstRun = (s.firstRun + 1) % kMaxRuns;
            --s.runCount;
        }
        s.fifoWords -= n;
        return n;
    }
    if (!OnDemand()) return 0;
    if (out != nullptr) CopyPattern(out, s.counter, words);
    s.counter = static_cast<uint16_t>(s.counter + words);
    s.producedWords = SaturatingAdd(s.producedWords, words);
    return words;
}

// Inverts the delivered words [offset, offset + words) that fall in a corruption window.
void Corrupt(uint8_t* bytes, uint64_t offset, uint64_t words) {
    Stream& s = gStream;
    FaultRule& rule = s.corrupt;
    const uint64_t end = offset + words;
    while (rule.next < end) {
        const uint64_t windowEnd = SaturatingAdd(rule.next, rule.words);
        const uint64_t from = std::max({rule.next, offset, s.corruptedUntil});
        const uint64_t to = std::min(windowEnd, end);
        if (from < to) {
            for (uint64_t i = 2 * (from - offset); i < 2 * (to - offset); ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
            s.corruptedUntil = to;
        }
        if (windowEnd > end) break;
        rule.next = rule.every > 0 ? SaturatingAdd(rule.next, rule.every) : kNever;
    }
}

// Hands out up to maxWords words with the scenario's faults applied; returns how many.
uint64_t Deliver(uint8_t* buffer, uint64_t maxWords) {
    Stream& s = gStream;
    uint64_t delivered = 0;
    while (delivered < maxWords) {
        if (s.deliveredWords == s.drop.next) {
            s.dropPendingWords = SaturatingAdd(s.dropPendingWords, s.drop.words);
            s.drop.next = s.drop.every > 0 ? SaturatingAdd(s.drop.next, s.drop.every) : kNever;
        }
        if (s.dropPendingWords > 0) {   // lost on the way: the host never sees them
            const uint64_t skipped = TakeSource(nullptr, s.dropPendingWords);
            if (skipped == 0) break;
            s.dropPendingWords -= skipped;
            continue;
        }
        const uint64_t limit = std::min(maxWords - delivered, s.drop.next - s.deliveredWords);
        uint8_t* out = buffer + 2 * delivered;
        const uint64_t taken = TakeSource(out, limit);
        if (taken == 0) break;
        Corrupt(out, s.deliveredWords, taken);
        delivered += taken;
        s.deliveredWords += taken;
    }
    return delivered;
}

// When the FIFO will have produced `words` more than now.
uint64_t ProductionWaitNs(uint64_t words) {
    const Stream& s = gStream;
    const double dueNs = static_cast<double>(s.producedSinceOpenWords + words) / s.wordsPerNs;
    const double waitNs = dueNs - static_cast<double>(ClockNs() - s.gateOpenedNs);
    return waitNs < static_cast<double>(kShortestWaitNs) ? kShortestWaitNs : static_cast<uint64_t>(waitNs) + 1;
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
    s.gateOpenedNs = ClockNs();
    s.producedSinceOpenWords = 0;
}

// Like a bulk transfer: the words arrive in the buffer as the scanner makes them, and the
// transfer is done when the request is filled. It ends short with what came when the data
// flow stops or the time-out runs out, and also once half the FIFO's worth arrived: a host
// that asks for more than the FIFO holds gets it back while the FIFO still has room, so that
// a late wake-up from a sleep loses nothing.
int32_t StreamRead(uint8_t* buffer, int32_t requested, int32_t* received, uint32_t timeoutMs) {
    Stream& s = gStream;
    *received = 0;
    const uint64_t wantWords = requested > 0 ? static_cast<uint64_t>(requested) / 2 : 0;
    if (wantWords == 0) return kOk;
    const uint64_t enoughWords = std::min(wantWords, std::max<uint64_t>(1, s.fifoCapacityWords / 2));
    const uint64_t deadlineNs = ClockNs() + static_cast<uint64_t>(timeoutMs) * 1000000u;
    uint64_t delivered = 0;
    for (;;) {
        Advance();
        delivered += Deliver(buffer + 2 * delivered, wantWords - delivered);
        if (delivered >= enoughWords || (!s.gateOpen && delivered > 0) || OnDemand()) break;
        const uint64_t now = ClockNs();
        if (now >= deadlineNs) break;
        uint64_t waitNs = deadlineNs - now;
        if (s.gateOpen) waitNs = std::min(waitNs, ProductionWaitNs(enoughWords - delivered));
        PauseNs(waitNs);
    }
    if (delivered == 0) return kErrNoData;
    *received = static_cast<int32_t>(2 * delivered);
    return kOk;
}

bool StreamTakeLoss() {
    const bool lost = gStream.lossUnreported;
    gStream.lossUnreported = false;
    return lost;
}

bool StreamOverflowed() {
    Advance();
    return gStream.overflowed;
}

void StreamClear() {
    Stream& s = gStream;
    Advance();
    s.firstRun = 0;
    s.runCount = 0;
    s.fifoWords = 0;
    s.lossUnreported = false;
    s.overflowed = false;
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
