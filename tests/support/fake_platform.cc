// tests/support/fake_platform.cc: the scripted platform layer.
#include "tests/support/fake_platform.h"

#include "platform/platform.h"

FakePlatform gFakePlatform;

void ResetFakePlatform() { gFakePlatform = FakePlatform(); }

uint32_t TickCountMs() {
    ++gFakePlatform.tickReadings;
    const uint32_t now = gFakePlatform.nowMs;
    gFakePlatform.nowMs += gFakePlatform.msPerReading;
    return now;
}

void ConsoleBeginKeyLoop() {
    gFakePlatform.keyLoopActive = true;
    ++gFakePlatform.keyLoopsBegun;
}

void ConsoleEndKeyLoop() { gFakePlatform.keyLoopActive = false; }

bool ConsoleByteWaiting() {
    ++gFakePlatform.polls;
    if (gFakePlatform.polls == gFakePlatform.keyAtPoll) gFakePlatform.keys.push_back('q');
    if (gFakePlatform.polls == gFakePlatform.stopAtPoll && gFakePlatform.stopArmed) {
        gFakePlatform.stopSignalled = true;
    }
    return !gFakePlatform.keys.empty();
}

int ConsoleReadByte() {
    if (gFakePlatform.keys.empty()) return -1;
    const int byte = gFakePlatform.keys.front();
    gFakePlatform.keys.pop_front();
    return byte;
}

void StopSignalsArm() {
    gFakePlatform.stopArmed = true;
    gFakePlatform.stopSignalled = false;
}

void StopSignalsDisarm() { gFakePlatform.stopArmed = false; }

bool StopSignalled() { return gFakePlatform.stopSignalled; }

void IgnoreBrokenPipe() { ++gFakePlatform.brokenPipeIgnored; }

// The files themselves are real: the procedures' file handling is tested through them.
FILE* OpenForWritingNoWait(const char* path, const char* mode) { return std::fopen(path, mode); }

FILE* CreateRegularFileNoFollow(const char* path, const char* mode) { return std::fopen(path, mode); }

void DebugChannelWrite(const char* line) { gFakePlatform.debugLines.emplace_back(line); }
