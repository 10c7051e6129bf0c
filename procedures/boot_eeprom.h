// procedures/boot_eeprom.h: programs the scanner's boot EEPROM from an image file.
#pragma once

#include <cstdint>

constexpr int32_t kErrVerify = -300;        // the payload read back differs from the file
constexpr int32_t kErrOpenImage = -400;     // the image file cannot be opened
constexpr int32_t kErrReadImage = -401;     // the image is empty, too short to hold a header, or too large

// Writes the image at path into the EEPROM at deviceId (8-bit bus address): header zeroed,
// payload written and read back, header written last. Returns 0, one of the codes above, or
// the status of the library call that failed. A refused file never touches the EEPROM.
int32_t ProgBootPROM(const char* path, uint8_t deviceId);
