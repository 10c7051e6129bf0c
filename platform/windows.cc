// platform/windows.cc: the platform layer on Windows. Keys are taken from the console's input
// events: a look never consumes anything, so releases, mouse, focus and size events stay
// where they are for whoever reads the console next. Ctrl-C, Ctrl-Break and closing the
// console window are stop requests through a console control handler. The console's input
// mode is restored on every way out: normal return, exit, and a second stop request.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

// Every message goes to standard error, which is unbuffered as on POSIX: said explicitly,
// because wine's runtime otherwise holds what fputs writes to a file or pipe until exit.
static const int gStandardErrorUnbuffered = std::setvbuf(stderr, nullptr, _IONBF, 0);

uint32_t TickCountMs() { return GetTickCount(); }

// ---- console ------------------------------------------------------------------------

static bool gKeyLoopActive = false;
// The mode is saved and restored from two threads (the control handler runs on its own), so
// the saved flag is atomic and the restore is idempotent.
static std::atomic<bool> gModeSaved{false};
static DWORD gSavedMode = 0;
static HANDLE gSavedInput = nullptr;

// A two-byte key's second byte, held back for the next read (-1: none).
static int gHeldByte = -1;


static void RestoreConsoleMode() {
    if (gModeSaved.exchange(false)) SetConsoleMode(gSavedInput, gSavedMode);
}

static void RestoreAtExit() { RestoreConsoleMode(); }

// The console input, or nullptr when standard input is a file, a pipe or nothing.
static HANDLE ConsoleInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        return nullptr;
    }
    return input;
}

void ConsoleBeginKeyLoop() {
    if (gKeyLoopActive) return;
    gKeyLoopActive = true;
    HANDLE input = ConsoleInput();
    if (input == nullptr || !GetConsoleMode(input, &gSavedMode)) return;
    gSavedInput = input;
    gModeSaved = true;
    static bool atExitRegistered = false;
    if (!atExitRegistered) atExitRegistered = (std::atexit(RestoreAtExit) == 0);
    // Keys are taken as input events, which are never echoed; line mode and echo are switched
    // off all the same, and processed input on, so that Ctrl-C arrives as a stop request and
    // not as a key, whatever mode the tool was started in.
    const DWORD keyMode =
        (gSavedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) |
        ENABLE_PROCESSED_INPUT;
    SetConsoleMode(input, keyMode);
}

void ConsoleEndKeyLoop() {
    if (!gKeyLoopActive) return;
    gKeyLoopActive = false;
    RestoreConsoleMode();
}

// The bytes a key-down event yields as the console runtime's unechoed key read gives them:
// a character is one byte; a function, cursor or editing key is a lead byte (0x00 for F1 to
// F10 and the keypad's cursor keys, 0xE0 for F11, F12 and the separate cursor block) and its
// scan code. Returns the number of bytes, 0 for an event that is no keystroke (a release,
// Shift, Ctrl, Alt, Caps Lock on its own).
static int KeyBytes(const INPUT_RECORD& record, unsigned char bytes[2]) {
    if (record.EventType != KEY_EVENT) return 0;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown) return 0;
    if (key.uChar.AsciiChar != 0) {
        bytes[0] = static_cast<unsigned char>(key.uChar.AsciiChar);
        return 1;
    }
    const WORD virtualKey = key.wVirtualKeyCode;
    const bool functionKey = virtualKey >= VK_F1 && virtualKey <= VK_F12;
    const bool cursorOrEditingKey = virtualKey == VK_PRIOR || virtualKey == VK_NEXT ||
                                    virtualKey == VK_END || virtualKey == VK_HOME ||
                                    virtualKey == VK_LEFT || virtualKey == VK_UP ||
                                    virtualKey == VK_RIGHT || virtualKey == VK_DOWN ||
                                    virtualKey == VK_INSERT || virtualKey == VK_DELETE;
    if (!functionKey && !cursorOrEditingKey) return 0;
    const bool enhanced = (key.dwControlKeyState & ENHANCED_KEY) != 0;
    const bool lateFunctionKey = virtualKey == VK_F11 || virtualKey == VK_F12;
    bytes[0] = (lateFunctionKey || (cursorOrEditingKey && enhanced)) ? 0xE0 : 0x00;
    bytes[1] = static_cast<unsigned char>(key.wVirtualScanCode);
    return 2;
}

// Looks through every pending event without taking any.
static bool KeystrokePending(HANDLE input) {
    // A zero wait changes nothing on Windows; wine's console fetches what was typed on its
    // terminal only when someone waits on or reads the input, and a count or peek alone
    // would never see a key there.
    WaitForSingleObject(input, 0);
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(input, &count) || count == 0) return false;
    static std::vector<INPUT_RECORD> events;   // grows to the longest queue seen, then stays
    if (events.size() < count) events.resize(count);
    DWORD peeked = 0;
    if (!PeekConsoleInputA(input, events.data(), count, &peeked)) return false;
    unsigned char bytes[2];
    for (DWORD i = 0; i < peeked; ++i) {
        if (KeyBytes(events[i], bytes) != 0) return true;
    }
    return false;
}

bool ConsoleByteWaiting() {
    if (gHeldByte >= 0) return true;
    HANDLE input = ConsoleInput();
    if (input == nullptr) return false;
    return KeystrokePending(input);
}

// Takes events from the head of the queue up to and including the first keystroke; the
// events in front of it (releases, mouse and focus events) go with it, as with any read of
// the console, and those behind it stay.
int ConsoleReadByte() {
    if (gHeldByte >= 0) {
        const int held = gHeldByte;
        gHeldByte = -1;
        return held;
    }
    HANDLE input = ConsoleInput();
    if (input == nullptr) return -1;
    for (;;) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1) return -1;
        unsigned char bytes[2];
        const int length = KeyBytes(record, bytes);
        if (length == 0) continue;
        if (length == 2) gHeldByte = bytes[1];
        return bytes[0];
    }
}

// ---- stop requests ------------------------------------------------------------------

static std::atomic<int> gStopSignalled{0};
static bool gStopArmed = false;

// Runs on a thread of its own that the system starts for each event.
static BOOL WINAPI OnConsoleControl(DWORD controlType) {
    if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT &&
        controlType != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (gStopSignalled.exchange(1) != 0) {
        // The second request ends the process at once, the default way, with the console as
        // it was.
        RestoreConsoleMode();
        return FALSE;
    }
    if (controlType == CTRL_CLOSE_EVENT) {
        // The process ends when this handler returns (or at the latest after about five
        // seconds): the main thread gets that time to end its loop and shut the scanner
        // down; its exit ends this thread too.
        Sleep(4500);
    }
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

// Windows has no signal for a write to a pipe without a reader: such a write fails as it is.
void IgnoreBrokenPipe() {}

// ---- files ----------------------------------------------------------------------------

// Named pipes do not stand in the file system on Windows, so a plain open never waits.
FILE* OpenForWritingNoWait(const char* path, const char* mode) { return std::fopen(path, mode); }

// Opens what stands at path without following a reparse point (a symbolic link or junction),
// and empties it only after it has shown itself to be a plain file on disk.
FILE* CreateRegularFileNoFollow(const char* path, const char* mode) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plainFile =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    if (!plainFile || !SetEndOfFile(file)) {   // a fresh handle stands at offset 0
        CloseHandle(file);
        return nullptr;
    }
    const int textOrBinary = std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | textOrBinary);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, mode);
    if (stream == nullptr) _close(descriptor);   // closes the handle too
    return stream;
}

// ---- debugger channel ---------------------------------------------------------------

void DebugChannelWrite(const char* line) { OutputDebugStringA(line); }
