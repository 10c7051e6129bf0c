// device/counting_pattern.cc: the table of the counting words. Filled at run time: as a
// constant initialiser it would cost the compiler seconds in every build.
#include "device/counting_pattern.h"

#include <array>

const uint8_t* CountingPattern() {
    static const std::array<uint8_t, 2 * kPatternBytes>* const table = [] {
        static std::array<uint8_t, 2 * kPatternBytes> bytes;
        for (uint32_t i = 0; i < bytes.size(); i += 2) {
            const auto word = static_cast<uint16_t>(i / 2);
            bytes[i] = static_cast<uint8_t>(word);
            bytes[i + 1] = static_cast<uint8_t>(word >> 8);
        }
        return &bytes;
    }();
    return table->data();
}
