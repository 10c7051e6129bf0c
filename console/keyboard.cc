// console/keyboard.cc: KeyPressed and DrainKeyboard on top of the platform's console bytes.
#include "console/keyboard.h"

#include "platform/platform.h"

// The stop requests (a member) are armed before the console changes and disarmed after it is
// restored, so that no moment with the terminal in key mode is without them.
KeyLoopScope::KeyLoopScope() { ConsoleBeginKeyLoop(); }

KeyLoopScope::~KeyLoopScope() { ConsoleEndKeyLoop(); }

bool KeyPressed() { return ConsoleByteWaiting(); }

void DrainKeyboard() {
    while (KeyPressed()) {
        const int lead = ConsoleReadByte();
        // 0x00 and 0xE0 lead the two bytes of a function, cursor or editing key.
        if ((lead == 0x00 || lead == 0xE0) && KeyPressed()) ConsoleReadByte();
    }
}

bool LoopEndRequested() { return KeyPressed() || StopRequested(); }
