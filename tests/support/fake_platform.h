// tests/support/fake_platform.h: the platform layer for unit tests. The clock advances by a
// fixed step on every reading; keys arrive at a chosen poll; a stop request can be raised at
// a chosen poll as if Ctrl-C had been pressed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakePlatform {
    uint32_t nowMs = 1000;
    uint32_t msPerReading = 1;         // added after every TickCountMs()
    std::deque<int> keys;              // bytes waiting in the console now
    int keyAtPoll = 0;                 // at this ConsoleByteWaiting() call, 'q' arrives
    int stopAtPoll = 0;                // at this ConsoleByteWaiting() call, a stop is requested
    int polls = 0;                     // ConsoleByteWaiting() calls so far
    int tickReadings = 0;
    bool keyLoopActive = false;
    int keyLoopsBegun = 0;
    bool stopArmed = false;
    bool stopSignalled = false;
    int brokenPipeIgnored = 0;          // IgnoreBrokenPipe() calls
    std::vector<std::string> debugLines;
};

extern FakePlatform gFakePlatform;
void ResetFakePlatform();
