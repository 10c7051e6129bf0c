// platform/platform.h: the tool's only calls into the operating system beyond the C++
// standard library. posix.cc and windows.cc implement it; tests link a fake instead.
#pragma once

#include <cstdint>

uint32_t TickCountMs();                  // milliseconds, wraps; compare as (now - then) > limitMs

// Console input for the key-driven loops. Between ConsoleBeginKeyLoop and ConsoleEndKeyLoop
// keys are delivered one byte at a time without echo; the terminal is restored afterwards,
// also when the process is ended by a signal.
void ConsoleBeginKeyLoop();
void ConsoleEndKeyLoop();
bool ConsoleByteWaiting();               // never blocks, never echoes; false without a console
int  ConsoleReadByte();                  // only after ConsoleByteWaiting() said yes

// Interrupt (Ctrl-C) and termination requests. While armed, the first request only sets a
// flag that the loops poll; a second one ends the process at once.
void StopSignalsArm();
void StopSignalsDisarm();
bool StopSignalled();

void DebugChannelWrite(const char* line);   // one whole line to the debugger string channel
