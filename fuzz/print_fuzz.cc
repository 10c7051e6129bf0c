// fuzz/print_fuzz.cc: Print with the tool's own formats and hostile arguments: texts full of
// '%' and longer than a line, numbers at their limits, any stamp and prefix settings. A
// line never exceeds 8191 characters and is always written whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/trace_log.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <typename T>
    T Take() {
        T value{};
        const size_t n = size_ < sizeof value ? size_ : sizeof value;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    std::string Text() {   // the rest, up to 20000 bytes, without NULs
        std::string text(reinterpret_cast<const char*>(data_), size_ < 20000 ? size_ : 20000);
        for (char& c : text) {
            if (c == '\0') c = '%';
        }
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char buffer[16384];
    FILE* sink = fmemopen(buffer, sizeof buffer, "w");
    if (sink == nullptr) return 0;
    Input in(data, size);
    const uint8_t which = in.Take<uint8_t>();
    const uint32_t flags = in.Take<uint32_t>() & (STAMP_TICKS | STAMP_DELTA | NAME_PREFIX);
    const int32_t i1 = in.Take<int32_t>();
    const int32_t i2 = in.Take<int32_t>();
    const uint32_t u1 = in.Take<uint32_t>();
    const uint64_t q1 = in.Take<uint64_t>();
    const double d1 = in.Take<double>();
    const uint16_t h1 = in.Take<uint16_t>();
    const uint8_t b1 = in.Take<uint8_t>();
    const std::string text = in.Text();
    const char* s = text.c_str();

    TraceLog log("ksutest");
    log.SetOutput(TO_FILE, sink);
    log.SetFormat(flags);
    switch (which % 12) {
        case 0: log.Print("ksutest: Error in command line parameter %s\n\n", s); break;
        case 1: log.Print("ksutest: Error: %d %s\n", i1, s); break;
        case 2: log.Print("ksutest: GetLastError:%s\n", s); break;
        case 3: log.Print("ksutest: Total bytes transferred: %I64u, Data Rate: %I64u, Errors: %u\n", q1, q1 / 3, u1); break;
        case 4: log.Print("First ErrPosition:0x%I64x errorvalue:0x%04hx!\n", q1, h1); break;
        case 5: log.Print("ReadBlock from Scanner in File %s\n", s); break;
        case 6: log.Print("ksutest: program EEPROM with ID 0x%2x from file %s successfull\n!", b1, s); break;
        case 7: log.Print("ksutest: I2C_DACout High Voltage in %f V\n", d1); break;
        case 8: log.Print("ksutest: RegReadDword from Adr.%d Byte:0x%08X\n", i1, u1); break;
        case 9: log.Print("ksutest: I2C_PROM_write success ID:%02x Adr:%d Val:0x%02x!\n", i1, i2, b1); break;
        case 10: log.Print("ksutest: Count of I2C-Reads:%I64u, errors:%I64u\n", q1, static_cast<uint64_t>(u1)); break;
        default: log.Print("Cannot open scannerfile %s\n", s); break;
    }
    const long written = std::ftell(sink);
    std::fclose(sink);
    if (written < 0 || written > static_cast<long>(kLineBytes - 1)) std::abort();
    return 0;
}
