// fuzz/stream_check_fuzz.cc: the streaming test's pattern check over any sequence of blocks,
// of any length and content, with restarts in between. The check never reads outside a
// block, its error count never falls, and a first error it reports lies inside the bytes seen
// and names the word that stands there.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/stream_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One check for the whole run: building its table each time would cost more than the
    // check. Each input starts as after a restart, with no first error pending.
    static PatternCheck* check = new PatternCheck();
    check->Resync();
    uint64_t stale = 0;
    uint16_t staleValue = 0;
    check->TakeFirstError(&stale, &staleValue);
    std::vector<uint8_t> seen;
    size_t at = 0;
    uint32_t lastCount = check->ErrorCount();
    while (at + 2 <= size) {
        // Two bytes: a restart flag and the block length (up to 32767), then the block.
        const uint16_t head = static_cast<uint16_t>(data[at] | data[at + 1] << 8);
        at += 2;
        if ((head & 0x8000) != 0) check->Resync();
        size_t length = head & 0x7FFF;
        if (length > size - at) length = size - at;
        // A copy of its own, so that a read past the block's end is seen by the sanitizer.
        std::vector<uint8_t> block(data + at, data + at + length);
        check->CheckBlock(block.data(), static_cast<uint32_t>(length), seen.size());
        seen.insert(seen.end(), block.begin(), block.end());
        at += length;

        if (check->ErrorCount() < lastCount) std::abort();
        lastCount = check->ErrorCount();
        uint64_t position = 0;
        uint16_t value = 0;
        if (check->TakeFirstError(&position, &value)) {
            if (position + 2 > seen.size()) std::abort();
            if (static_cast<uint16_t>(seen[position] | seen[position + 1] << 8) != value) std::abort();
        }
    }
    return 0;
}
