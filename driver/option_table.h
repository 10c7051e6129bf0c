// driver/option_table.h: the command line as one table of options and the process-wide
// targets that the parser fills. The parser knows nothing of the individual options.
#pragma once

#include <cstdint>

struct OptionEntry {
    const char* name;       // without the prefix character; nullptr ends the table
    const char* format;     // scan format of the value word; nullptr for a flag
    void* target;           // int32_t for every format but "%s", which fills a file name buffer
    int32_t defaultValue;   // of an int32_t target before parsing; a file name starts empty
};

constexpr int kFileNameBytes = 1024;

// The default of the valued integer options: the action is not requested.
constexpr int32_t kNotRequested = -1;
inline bool IsRequested(int32_t target) { return target != kNotRequested; }

extern int32_t gHelpFlag;
extern int32_t gReadByteAdr, gReadWordAdr, gReadWordIncAdr, gReadDwordAdr, gReadDwordIncAdr;
extern int32_t gWriteByteAdr, gWriteWordAdr, gWriteWordIncAdr, gWriteDwordAdr, gWriteDwordIncAdr;
extern int32_t gWriteValue;
extern char gBootFilename[kFileNameBytes];
extern char gFpgaFilename[kFileNameBytes];
extern char gScanFilename[kFileNameBytes];
extern int32_t gScanFlag;
extern int32_t gEepromId;
extern int32_t gEepromWriteAdr, gEepromReadAdr;
extern int32_t gDumpEepromFlag, gIicTestFlag, gStatusFlag;
extern int32_t gDacValue;
extern int32_t gAdReadFlag;
extern int32_t gTempInitValue;
extern int32_t gTempReadFlag;
extern int32_t gMotorRevolutions;
extern int32_t gLinesFlag;

extern const OptionEntry kOptionTable[];

// Puts every target to its default from the table; the main sequence does it before parsing.
void ResetOptionTargets();

// Returns nullptr when the whole command line was read, else the word at which it stopped
// (for a failed value, the option's name).
const char* ParseCommandLine(int argc, char** argv, const OptionEntry* table);

void PrintUsage();
