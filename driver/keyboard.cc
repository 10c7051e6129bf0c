// driver/keyboard.cc: KeyPressed and DrainKeyboard on top of the platform's console bytes.
#include "driver/keyboard.h"

#include "platform/platform.h"

KeyLoopScope::KeyLoopScope() {
    ConsoleBeginKeyLoop();
    StopSignalsArm();
}

KeyLoopScope::~KeyLoopScope() {
    StopSignalsDisarm();
    ConsoleEndKeyLoop();
}

bool KeyPressed() { return ConsoleByteWaiting(); }

void DrainKeyboard() {
    while (KeyPressed()) {
        const int lead = ConsoleReadByte();
        // 0x00 and 0xE0 lead the two bytes of a function, cursor or editing key.
        if ((lead == 0x00 || lead == 0xE0) && KeyPressed()) ConsoleReadByte();
    }
}

bool LoopEndRequested() { return KeyPressed() || StopSignalled(); }
