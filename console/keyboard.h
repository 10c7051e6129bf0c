// console/keyboard.h: key polling for the two endless loops, built on the platform's console.
#pragma once

#include "console/stop_request.h"

// Held for the whole of a key-driven loop: keys arrive unechoed and byte by byte, and
// Ctrl-C or a termination request ends the loop like a key instead of killing the tool.
// The terminal and the signal dispositions are restored when it goes.
class KeyLoopScope {
public:
    KeyLoopScope();
    ~KeyLoopScope();
    KeyLoopScope(const KeyLoopScope&) = delete;
    KeyLoopScope& operator=(const KeyLoopScope&) = delete;

private:
    StopRequestScope stopRequests_;
};

bool KeyPressed();          // a keystroke is waiting; consumes nothing, never waits
void DrainKeyboard();       // discards every waiting keystroke, never waits
bool LoopEndRequested();    // a key is waiting, or the user asked the tool to stop
