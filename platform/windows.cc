// platform/windows.cc: the platform layer on Windows. The console's own key events are
// polled; the debugger string channel is OutputDebugStringA.
#include <windows.h>
#include <conio.h>

#include <csignal>

#include "platform/platform.h"

uint32_t TickCountMs() { return GetTickCount(); }

void ConsoleBeginKeyLoop() {}   // _kbhit/_getch read keys unechoed without a mode change
void ConsoleEndKeyLoop() {}

bool ConsoleByteWaiting() { return _kbhit() != 0; }

int ConsoleReadByte() { return _getch(); }

static volatile std::sig_atomic_t gStopSignalled = 0;
static bool gStopArmed = false;

static BOOL WINAPI OnConsoleControl(DWORD controlType) {
    if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT &&
        controlType != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (gStopSignalled != 0) return FALSE;   // the second request takes the default path
    gStopSignalled = 1;
    return TRUE;
}

void StopSignalsArm() {
    if (gStopArmed) return;
    gStopArmed = true;
    gStopSignalled = 0;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopSignalsDisarm() {
    if (!gStopArmed) return;
    gStopArmed = false;
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool StopSignalled() { return gStopSignalled != 0; }

void DebugChannelWrite(const char* line) { OutputDebugStringA(line); }
