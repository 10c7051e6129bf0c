// device/kelvoscanusb.h: the C interface of the scanner's device library: the status record and
// the operations of kelvoscanusb_operations.h. The tool, the virtual scanner, the recorder and
// the test fakes all include it.
#ifndef KELVOSCANUSB_H
#define KELVOSCANUSB_H

#include <stdint.h>

#include "kelvoscanusb_operations.h"

#if defined(_WIN32)
/* Only the library itself marks the operations: a caller reaches them through the import
   library's stubs, so that the same objects also link against the scripted fake of the unit
   tests, which defines them in the test program. */
#  if defined(KELVOSCANUSB_BUILDING)
#    define KELVO_API __declspec(dllexport)
#  else
#    define KELVO_API
#  endif
#else
#  define KELVO_API __attribute__((visibility("default")))
#endif

/* The calling convention of every operation. 32-bit Windows has two, and the library's
   maker chose one: cdecl unless the build sets KELVO_CALLCONV=stdcall (CMake option of the
   same name). Everywhere else there is only one and the macro is empty. */
#if defined(_WIN32) && !defined(_WIN64)
#  if defined(KELVO_CALLCONV_STDCALL)
#    define KELVO_CALL __stdcall
#  else
#    define KELVO_CALL __cdecl
#  endif
#else
#  define KELVO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ScannerStatus {   /* 16 bytes, natural alignment */
    uint8_t  reserved;           /* byte 0, not read by the tool */
    uint8_t  LS;
    uint8_t  LED;
    uint8_t  RAMStatus;
    int32_t  AnzDat;             /* offset 4 */
    int32_t  RamFIFO;            /* offset 8 */
    int16_t  LastError;          /* offset 12 */
    uint8_t  spare[2];
} ScannerStatus;

/* Each operation of the list, declared. What the results mean: device/contract.h. */
#define KELVO_DECLARE(result, name, parameters, arguments) KELVO_API result KELVO_CALL name parameters;
KELVO_OPERATIONS(KELVO_DECLARE)
#undef KELVO_DECLARE

#ifdef __cplusplus
}
#endif

#endif
