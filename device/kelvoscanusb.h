// device/kelvoscanusb.h: the C interface of the scanner's device library, the only copy of
// these declarations. The tool, the virtual scanner and the test fakes all include it.
#ifndef KELVOSCANUSB_H
#define KELVOSCANUSB_H

#include <stdint.h>

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

KELVO_API void     KELVO_CALL SetTraceMask(uint32_t mask);
KELVO_API int32_t  KELVO_CALL Init_Interface(void);
KELVO_API void     KELVO_CALL SetUsbTimeout(uint32_t milliseconds);
KELVO_API int32_t  KELVO_CALL GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library,
                                              uint16_t* usbDriver);
KELVO_API int32_t  KELVO_CALL Init_Firmware(const char* fileName, int32_t useDefault);
KELVO_API int32_t  KELVO_CALL Free_Interface(void);
KELVO_API int32_t  KELVO_CALL GetLastKelvoError(int32_t which);
KELVO_API int32_t  KELVO_CALL GetKelvoErrorText(int32_t code, char* text, uint32_t size);

/* Register writes return non-zero on success; reads carry no error indication. */
KELVO_API int32_t  KELVO_CALL RegWrite(uint32_t address, uint8_t value);
KELVO_API int32_t  KELVO_CALL RegWriteShort(uint32_t address, uint16_t value);
KELVO_API int32_t  KELVO_CALL RegWriteLong(uint32_t address, uint32_t value);
KELVO_API int32_t  KELVO_CALL RegWriteLongInc(uint32_t address, uint32_t value);
KELVO_API uint8_t  KELVO_CALL RegRead(uint32_t address);
KELVO_API uint16_t KELVO_CALL RegReadShort(uint32_t address);
KELVO_API uint16_t KELVO_CALL RegReadShortInc(uint32_t address);
KELVO_API uint32_t KELVO_CALL RegReadLong(uint32_t address);
KELVO_API uint32_t KELVO_CALL RegReadLongInc(uint32_t address);

/* lastAddress is inclusive; buffer[0] belongs to firstAddress. */
KELVO_API int32_t  KELVO_CALL I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress,
                                             uint8_t lastAddress);
KELVO_API int32_t  KELVO_CALL I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress,
                                            uint8_t lastAddress);
/* *length: bytes to move on the way in, bytes actually moved on the way out. */
KELVO_API int32_t  KELVO_CALL I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer,
                                              int32_t* length);
KELVO_API int32_t  KELVO_CALL I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer,
                                              int32_t* length);
KELVO_API int32_t  KELVO_CALL I2C_ADCread(uint8_t deviceId, int32_t channel);   /* low 8 bits = reading */
KELVO_API int32_t  KELVO_CALL I2C_DACout(uint8_t deviceId, int32_t value);
KELVO_API int32_t  KELVO_CALL I2C_TEMPinit(uint8_t deviceId, int32_t value);
KELVO_API int32_t  KELVO_CALL I2C_TEMPread(uint8_t deviceId);                   /* low 16 bits, signed */

KELVO_API int32_t  KELVO_CALL Pentamotor_init(int32_t revolutions);
KELVO_API int32_t  KELVO_CALL Anz_ScanLine(void);                  /* 0x08000000 means failure */
KELVO_API int32_t  KELVO_CALL GetScanStatus(ScannerStatus* status);
KELVO_API int32_t  KELVO_CALL ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received);
KELVO_API void     KELVO_CALL ClearReadBlock(void);

#ifdef __cplusplus
}
#endif

#endif
