/* device/kelvoscanusb_operations.h: the device library's operations, listed once.
   Each entry is X(result type, name, parameters, the parameters' names as a call passes them
   on). kelvoscanusb.h declares the operations from this list; the virtual scanner and its
   replay fill a table from it, the recorder forwards and records through it, and the trace
   numbers its records by it. So the order is the trace's: a new operation goes at the end.
   What a result means, where it is more than a status, is in device/contract.h. */
#ifndef KELVOSCANUSB_OPERATIONS_H
#define KELVOSCANUSB_OPERATIONS_H

#define KELVO_OPERATIONS(X)                                                                      \
    X(void, SetTraceMask, (uint32_t mask), (mask))                                               \
    X(int32_t, Init_Interface, (void), ())                                                       \
    X(void, SetUsbTimeout, (uint32_t milliseconds), (milliseconds))                              \
    X(int32_t, GetKelvoVersion,                                                                  \
      (uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver),          \
      (hardware, firmware, library, usbDriver))                                                  \
    X(int32_t, Init_Firmware, (const char* fileName, int32_t useDefault), (fileName, useDefault)) \
    X(int32_t, Free_Interface, (void), ())                                                       \
    X(int32_t, GetLastKelvoError, (int32_t which), (which))                                      \
    X(int32_t, GetKelvoErrorText, (int32_t code, char* text, uint32_t size), (code, text, size)) \
    X(int32_t, RegWrite, (uint32_t address, uint8_t value), (address, value))                    \
    X(int32_t, RegWriteShort, (uint32_t address, uint16_t value), (address, value))              \
    X(int32_t, RegWriteLong, (uint32_t address, uint32_t value), (address, value))               \
    X(int32_t, RegWriteLongInc, (uint32_t address, uint32_t value), (address, value))            \
    X(uint8_t, RegRead, (uint32_t address), (address))                                           \
    X(uint16_t, RegReadShort, (uint32_t address), (address))                                     \
    X(uint16_t, RegReadShortInc, (uint32_t address), (address))                                  \
    X(uint32_t, RegReadLong, (uint32_t address), (address))                                      \
    X(uint32_t, RegReadLongInc, (uint32_t address), (address))                                   \
    X(int32_t, I2C_PROM_write,                                                                   \
      (uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress),           \
      (buffer, deviceId, firstAddress, lastAddress))                                             \
    X(int32_t, I2C_PROM_read,                                                                    \
      (uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress),           \
      (buffer, deviceId, firstAddress, lastAddress))                                             \
    X(int32_t, I2C_LargePROMwr,                                                                  \
      (uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length),               \
      (deviceId, startAddress, buffer, length))                                                  \
    X(int32_t, I2C_LargePROMrd,                                                                  \
      (uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length),               \
      (deviceId, startAddress, buffer, length))                                                  \
    X(int32_t, I2C_ADCread, (uint8_t deviceId, int32_t channel), (deviceId, channel))            \
    X(int32_t, I2C_DACout, (uint8_t deviceId, int32_t value), (deviceId, value))                 \
    X(int32_t, I2C_TEMPinit, (uint8_t deviceId, int32_t value), (deviceId, value))               \
    X(int32_t, I2C_TEMPread, (uint8_t deviceId), (deviceId))                                     \
    X(int32_t, Pentamotor_init, (int32_t revolutions), (revolutions))                            \
    X(int32_t, Anz_ScanLine, (void), ())                                                         \
    X(int32_t, GetScanStatus, (ScannerStatus* status), (status))                                 \
    X(int32_t, ReadBlock, (uint8_t* buffer, int32_t requested, int32_t* received),               \
      (buffer, requested, received))                                                             \
    X(void, ClearReadBlock, (void), ())

#endif
