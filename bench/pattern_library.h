// bench/pattern_library.h: controls of the benchmark's stand-in device library.
#pragma once

#include <cstdint>

// The counting words 0..65535 and on, as bytes, long enough that any block of up to 32768
// bytes can be copied from any word in one piece.
const uint8_t* PatternBytes();

// ReadBlock raises an interrupt after this many calls, which ends the streaming loop the way
// Ctrl-C does; returns the bytes delivered since the last call of this function.
void EndStreamAfterBlocks(uint64_t blocks);
uint64_t TakeDeliveredBytes();
