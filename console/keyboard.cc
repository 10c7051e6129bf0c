// console/keyboard.cc: KeyPressed and DrainKeyboard on top of the platform's console bytes.
// Inside a key loop the console is asked at most once per millisecond tick; the answer stands
// until the tick changes or a byte is read. One look per millisecond costs nothing at any link
// speed, and a key is still seen within a millisecond.
#include "console/keyboard.h"

#include "platform/platform.h"

namespace {
bool gInKeyLoop = false;
bool gLookDue = true;
uint32_t gLastLookTick = 0;
bool gLastAnswer = false;

int ReadKeyByte() {
    gLookDue = true;   // the next look must see what is left behind this byte
    return ConsoleReadByte();
}
}  // namespace

// The stop requests (a member) are armed before the console changes and disarmed after it is
// restored, so that no moment with the terminal in key mode is without them.
KeyLoopScope::KeyLoopScope() {
    ConsoleBeginKeyLoop();
    gInKeyLoop = true;
    gLookDue = true;
}

KeyLoopScope::~KeyLoopScope() {
    gInKeyLoop = false;
    ConsoleEndKeyLoop();
}

bool KeyPressed() {
    if (!gInKeyLoop) return ConsoleByteWaiting();
    const uint32_t now = TickCountMs();
    if (!gLookDue && now == gLastLookTick) return gLastAnswer;
    gLookDue = false;
    gLastLookTick = now;
    gLastAnswer = ConsoleByteWaiting();
    return gLastAnswer;
}

void DrainKeyboard() {
    while (KeyPressed()) {
        const int lead = ReadKeyByte();
        // 0x00 and 0xE0 lead the two bytes of a function, cursor or editing key.
        if ((lead == 0x00 || lead == 0xE0) && KeyPressed()) ReadKeyByte();
    }
}

bool LoopEndRequested() { return KeyPressed() || StopRequested(); }
