// tests/compile/log_format_check.cc: compiled, never run, by the tests "LogFormatCheck.*". With
// no macro set, every message form the tool uses must compile; with one of the macros, the
// compile must fail, which shows that the check catches that mistake.
#include <cstdint>

#include "log/trace_log.h"

void UseEveryForm(uint64_t total, uint32_t errors, uint16_t word, int32_t address, double volts,
                  const char* name) {
    gTraceLog.Print("ksutest: Total bytes transferred: %I64u, Data Rate: %I64u, Errors: %u\n", total,
                    total, errors);
    gTraceLog.Print("First ErrPosition:0x%I64x errorvalue:0x%04hx!\n", total, word);
    gTraceLog.Print("ksutest: RegReadDword from Adr.%d Byte:0x%08X\n", address, errors);
    gTraceLog.Print("ksutest: AD Channel 24V in V: %f\n", volts);
    gTraceLog.Print("Cannot open scannerfile %s\n", name);
    gTraceLog.Print("100%% done\n");
#if defined(WRONG_TYPE_64)
    gTraceLog.Print("Total: %I64u\n", errors);    // a 32-bit value for a 64-bit conversion
#elif defined(WRONG_TYPE_32)
    gTraceLog.Print("Errors: %u\n", total);        // a 64-bit value for a 32-bit conversion
#elif defined(MISSING_ARGUMENT)
    gTraceLog.Print("Adr.%d Byte:0x%02X\n", address);
#elif defined(EXTRA_ARGUMENT)
    gTraceLog.Print("success!\n", address);
#elif defined(NUMBER_FOR_TEXT)
    gTraceLog.Print("file %s\n", address);
#endif
}
