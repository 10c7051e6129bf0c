// driver/option_table.cc: the option table, its targets, the generic parser that walks the
// command line once from left to right, and the usage text.
#include "driver/option_table.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "log/trace_log.h"

// The targets' defaults stand in the table's last column.
int32_t gHelpFlag;
int32_t gReadByteAdr, gReadWordAdr, gReadWordIncAdr, gReadDwordAdr, gReadDwordIncAdr;
int32_t gWriteByteAdr, gWriteWordAdr, gWriteWordIncAdr, gWriteDwordAdr, gWriteDwordIncAdr;
int32_t gWriteValue;
char gBootFilename[kFileNameBytes];
char gFpgaFilename[kFileNameBytes];
char gScanFilename[kFileNameBytes];
int32_t gScanFlag;
int32_t gEepromId;
int32_t gEepromWriteAdr, gEepromReadAdr;
int32_t gDumpEepromFlag, gIicTestFlag, gStatusFlag;
int32_t gDacValue;
int32_t gAdReadFlag;
int32_t gTempInitValue;
int32_t gTempReadFlag;
int32_t gMotorRevolutions;
int32_t gLinesFlag;

constexpr int32_t kFlagOff = 0;
constexpr int32_t kAllOnes = -1;      // -val not given: every write writes all ones in its width
constexpr int32_t kNoEepromId = 0;   // -dumpe refuses it; -wre and -rde pass it on

const OptionEntry kOptionTable[] = {
    {"?", nullptr, &gHelpFlag, kFlagOff},
    {"rb", "%x", &gReadByteAdr, kNotRequested},
    {"rw", "%x", &gReadWordAdr, kNotRequested},
    {"rwi", "%x", &gReadWordIncAdr, kNotRequested},
    {"rd", "%x", &gReadDwordAdr, kNotRequested},
    {"rdi", "%x", &gReadDwordIncAdr, kNotRequested},
    {"wb", "%x", &gWriteByteAdr, kNotRequested},
    {"ww", "%x", &gWriteWordAdr, kNotRequested},
    {"wwi", "%x", &gWriteWordIncAdr, kNotRequested},
    {"wd", "%x", &gWriteDwordAdr, kNotRequested},
    {"wdi", "%x", &gWriteDwordIncAdr, kNotRequested},
    {"val", "%x", &gWriteValue, kAllOnes},
    {"prg", "%s", gBootFilename, 0},
    {"ini", "%s", gFpgaFilename, 0},
    {"scanfile", "%s", gScanFilename, 0},
    {"scan", nullptr, &gScanFlag, kFlagOff},
    {"id", "%02x", &gEepromId, kNoEepromId},
    {"wre", "%lu", &gEepromWriteAdr, kNotRequested},
    {"rde", "%lu", &gEepromReadAdr, kNotRequested},
    {"dumpe", nullptr, &gDumpEepromFlag, kFlagOff},
    {"iictest", nullptr, &gIicTestFlag, kFlagOff},
    {"stat", nullptr, &gStatusFlag, kFlagOff},
    {"dao", "%d", &gDacValue, kNotRequested},
    {"adread", nullptr, &gAdReadFlag, kFlagOff},
    {"tinit", "%d", &gTempInitValue, kNotRequested},
    {"trd", nullptr, &gTempReadFlag, kFlagOff},
    {"motor", "%d", &gMotorRevolutions, kNotRequested},
    {"lines", nullptr, &gLinesFlag, kFlagOff},
    {nullptr, nullptr, nullptr, 0},
};

void ResetOptionTargets() {
    for (const OptionEntry* row = kOptionTable; row->name != nullptr; ++row) {
        if (row->format != nullptr && std::strcmp(row->format, "%s") == 0) {
            static_cast<char*>(row->target)[0] = '\0';
        } else {
            *static_cast<int32_t*>(row->target) = row->defaultValue;
        }
    }
}

// "%s" (the three file names): the value word whole, blanks included, so that "board v2.iic"
// names that file and not a file "board" that may happen to exist. An empty word stores an
// empty name, the option's default. A word that does not fit the buffer converts nothing,
// so the parse stops at the option instead of overrunning or cutting the name.
static int ScanString(const char* word, char* target) {
    const size_t length = std::strlen(word);
    if (length > kFileNameBytes - 1) return 0;
    std::memcpy(target, word, length + 1);
    return 1;
}

// True when the digits of the number at the front of word are more than 32 bits can hold,
// whatever its sign: such a value would otherwise wrap silently (4294967396 becoming 100).
// The sign and the 0x prefix are passed over as the conversion passes over them; a field
// width of two digits or fewer can never overflow and is not looked at.
static bool DigitsExceed32Bits(const char* word, int base) {
    while (*word != '\0' && std::isspace(static_cast<unsigned char>(*word))) ++word;
    if (*word == '+' || *word == '-') ++word;
    if (base == 16 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(word[2]))) {
        word += 2;
    }
    uint64_t magnitude = 0;
    for (;; ++word) {
        const unsigned char c = static_cast<unsigned char>(*word);
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        if (digit >= static_cast<unsigned>(base)) return false;
        magnitude = magnitude * static_cast<uint64_t>(base) + digit;
        if (magnitude > 0xFFFFFFFFu) return true;
    }
}

// Integer formats scan into a 64-bit temporary with the same width and conversion, and the
// low 32 bits are stored: "%lu" must not write eight bytes into a 32-bit target where long
// is 64 bits wide, and every platform then stores the same value. Digits beyond 32 bits
// convert nothing, so the parse stops at the option.
static int ScanInteger(const char* word, const char* format, int32_t* target) {
    char wide[16];
    const size_t length = std::strlen(format);
    if (length < 2 || length + 2 >= sizeof wide) return 0;
    const char conversion = format[length - 1];
    const bool hasWidth = std::isdigit(static_cast<unsigned char>(format[1])) != 0;
    if (!hasWidth && DigitsExceed32Bits(word, conversion == 'x' ? 16 : 10)) return 0;
    size_t prefix = length - 1;
    while (prefix > 1 && format[prefix - 1] == 'l') --prefix;   // drop any length modifier
    std::memcpy(wide, format, prefix);
    std::snprintf(wide + prefix, sizeof wide - prefix, "ll%c", conversion);
    int converted;
    unsigned long long value = 0;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    if (conversion == 'd') {
        long long signedValue = 0;
        converted = std::sscanf(word, wide, &signedValue);
        value = static_cast<unsigned long long>(signedValue);
    } else {
        converted = std::sscanf(word, wide, &value);
    }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (converted == 1) *target = static_cast<int32_t>(static_cast<uint32_t>(value));
    return converted;
}

static int ScanValue(const char* word, const OptionEntry& row) {
    if (std::strcmp(row.format, "%s") == 0) return ScanString(word, static_cast<char*>(row.target));
    return ScanInteger(word, row.format, static_cast<int32_t*>(row.target));
}

const char* ParseCommandLine(int argc, char** argv, const OptionEntry* table) {
    int i = 1;
    while (i < argc) {
        const char* word = argv[i];
        if (word[0] != '-' && word[0] != '/') return word;
        const char* name = word + 1;
        const OptionEntry* row = table;
        while (row->name != nullptr && std::strcmp(row->name, name) != 0) ++row;
        if (row->name == nullptr) return name;
        ++i;
        if (row->format == nullptr) {
            *static_cast<int32_t*>(row->target) = 1;
            continue;
        }
        if (i >= argc) return name;
        if (ScanValue(argv[i], *row) == 0) return name;
        ++i;
    }
    return nullptr;
}

static constexpr char kUsageText[] =
    "ksutest: PROG_NAME V%d.%02d\n"
    "Usage: (param = after command insert a space and a parameter if neccessary!)\n"
    "kelvotest\n"
    "\n"
    "-val     -value. hex. that use for write actions dez.\n"
    "-rb      -read Byte from register  param:address hex.\n"
    "-rw      -read word from register  param:address hex.\n"
    "-rwi     -read word and inc. from register param:address hex.\n"
    "-rd      -read dword from register  param:address hex.\n"
    "-rdi     -read dword and inc. from register param:address hex.\n"
    "-wb      -write Byte to register  param:address hex.\n"
    "-ww      -write word to register  param:address hex.\n"
    "-wwi     -write word to register and inc. param:address hex.\n"
    "-wd      -write dword to register param:address hex.\n"
    "-wdi     -write dword to register and inc. param:address hex.\n"
    "-prg     -write IIC-file to BOOT-EEPROM param:filename (string) \n"
    "-ini     -write FPGA-file to FPGA param:filenmame (string)\n"
    "-id      -EEPROM I2C-address(shift left by one,Bit0=0) param:hex.\n"
    "-wre     -write to EEPROM Addr. dez. param:dez.EEPROM start addr. -id for ID\n"
    "-rde     -read from EEPROM Addr.dez. param: dez.EEPROM start addr.-id for ID\n"
    "-dumpe   -dump 256 Byte from EEPROM Address 0 param: nonen and -id for ID\n"
    "-iictest -dump first Bytes from different EEPROMs param:none\n"
    "-dao     -digital analog ausgabe dez.\n"
    "-adread  -read all channels from AD-Conmverter, param: none\n"
    "-tinit   -init temperature sensor            param: dez.init vlaue\n"
    "-trd     -read temperatrue,                  param: none \n"
    "-motor   -revolutions                        param: dez.revolutions\n"
    "-scan    -read scannerdata to buffer,        param: none\n"
    "-scanfile-read scannerdata to file,          param: string filename\n"
    "-lines   -get scan lines                     param:none\n"
    "\n"
    "\n";

void PrintUsage() {
    if (ErrorsOn()) gTraceLog.Print(kUsageText, 1, 4);
}
