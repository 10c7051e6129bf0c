// platform/platform.h: the tool's only calls into the operating system beyond the C++
// standard library. posix.cc and windows.cc implement it; tests link a fake instead.
// Each function does one job and decides nothing: when to arm, ask or give up is decided in
// console/, log/ and procedures/.
#pragma once

#include <cstdint>
#include <cstdio>

uint32_t TickCountMs();                  // milliseconds, wraps; compare as (now - then) > limitMs

// ---- console ----------------------------------------------------------------------------
// Console input for the key-driven loops. Between ConsoleBeginKeyLoop and ConsoleEndKeyLoop
// keys are delivered one byte at a time without echo; the terminal is restored afterwards,
// also when the process is ended by a stop request (StopSignalsArm) or by exit.
// Nothing of the console but its line mode and echo is changed: no signal-driven input, no
// change of the terminal's owner or file status flags, so that a blocked or ignored signal
// in the inherited mask cannot hide a key.
void ConsoleBeginKeyLoop();
void ConsoleEndKeyLoop();
// Never blocks, never echoes; false without a console.
bool ConsoleByteWaiting();
int  ConsoleReadByte();                  // only after ConsoleByteWaiting() said yes

// ---- stop requests -----------------------------------------------------------------------
// The requests that would end the process: POSIX SIGINT, SIGTERM, SIGHUP and SIGQUIT;
// Windows Ctrl-C, Ctrl-Break and the console's close event. While armed, the first request
// only sets the flag that StopSignalled reports; a second one (of any of them) restores the
// console (as ConsoleEndKeyLoop does) and then ends the process at once as that request does
// by default. Arming clears the flag; disarming puts the previous handling back and leaves
// the flag as it is. The caller decides how long a request is remembered (console/).
void StopSignalsArm();
void StopSignalsDisarm();
bool StopSignalled();                    // async-signal-safe flag read

// A write to a pipe or socket whose reader has gone becomes an ordinary failed write (the
// stream's error flag) instead of ending the process: POSIX ignores SIGPIPE for the rest of
// the process. Windows has no such signal: nothing to do there.
void IgnoreBrokenPipe();

// ---- files ----------------------------------------------------------------------------
// fopen(path, mode) for a file to be written (mode "w", "wb" or "wt": created, or emptied),
// except that the open itself never waits: a FIFO without a reader (or a device that would
// block) gives nullptr at once. Once open, writes block as usual. On Windows, where named
// pipes do not stand in the file system, it is a plain fopen.
FILE* OpenForWritingNoWait(const char* path, const char* mode);

// Creates path, or empties it when it is a regular file, and opens it for writing with mode
// ("w", "wt"). nullptr, with nothing at path changed, when path names anything but a regular
// file: a symbolic link or Windows reparse point (never followed, so its target stays
// intact), a FIFO (no waiting for a reader), a device, a folder.
FILE* CreateRegularFileNoFollow(const char* path, const char* mode);

void DebugChannelWrite(const char* line);   // one whole line to the debugger string channel
