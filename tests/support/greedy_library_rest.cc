// tests/support/greedy_library_rest.cc: every operation of the greedy device library that
// greedy_library.cc does not define: it succeeds and writes nothing back. Weak, so that the
// definitions there win.
#include "device/kelvoscanusb.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

extern "C" {
#define KELVO_SUCCEEDS(result, name, parameters, arguments) \
    __attribute__((weak)) KELVO_API result KELVO_CALL name parameters { return result(); }
KELVO_OPERATIONS(KELVO_SUCCEEDS)
#undef KELVO_SUCCEEDS
}
