// sim/i2c_bus.cc: the I2C bus with its two EEPROMs, 0xA0 (a 256-byte configuration EEPROM)
// and 0xA2 (the 128 KiB boot EEPROM). Contents start erased (0xFF) or come from a state file,
// which every write goes through to page by page, so a process killed in the middle of a
// block write leaves the same partial contents that the real part would keep. The state files
// are held open and locked while the interface is open: one process at a time has the scanner.
//
// Settings, per EEPROM (<id> is a0 or a2):
//   eeprom.dir = <folder>               state files "eeprom_a0.bin" and "eeprom_a2.bin" in it
//   eeprom.<id>.file = <path>           this EEPROM's state file (wins over eeprom.dir)
//   eeprom.<id>.nak = 1                 the EEPROM does not answer: every transfer gets a NAK
//   eeprom.<id>.write_fail_after = N    a write of more than N bytes stores its first N, fails
//   eeprom.<id>.read_flip = <address>   reads return that byte with its lowest bit inverted
//   eeprom.<id>.page_write_us = N       time each written page takes (default 0)
#include "sim/i2c_bus.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/errors.h"
#include "host/host.h"
#include "sim/clock.h"
#include "sim/scenario.h"

namespace sim {

namespace {

constexpr uint8_t kErasedByte = 0xFF;
constexpr int64_t kNoAddress = -1;

struct Eeprom {
    uint8_t deviceId;
    const char* name;            // "a0", "a2": the key part and the state file's name
    uint32_t sizeBytes;
    uint32_t pageBytes;          // a write cycle programs at most one page
    std::vector<uint8_t> cells;
    std::string stateFile;       // empty: contents live in memory only
    host::StateFile file;              // open and locked while the interface is
    bool naks = false;
    int64_t writeFailAfter = -1; // bytes a write stores before it fails; -1: never fails
    int64_t readFlipAddress = kNoAddress;
    uint64_t pageWriteNs = 0;
    bool stateFileProblemTold = false;   // once a session
};

Eeprom gEeproms[] = {
    {0xA0, "a0", 256, 16, {}, {}, {}},
    {0xA2, "a2", 128 * 1024, 128, {}, {}, {}},
};

std::string Key(const Eeprom& eeprom, const char* setting) {
    return std::string("eeprom.") + eeprom.name + "." + setting;
}

Eeprom* FindEeprom(uint8_t deviceId) {
    for (Eeprom& eeprom : gEeproms) {
        if (eeprom.deviceId == deviceId) return &eeprom;
    }
    return nullptr;
}

std::string StateFilePath(const Eeprom& eeprom) {
    const std::string own = ScenarioText(Key(eeprom, "file").c_str(), "");
    if (!own.empty()) return own;
    const std::string folder = ScenarioText("eeprom.dir", "");
    if (folder.empty()) return "";
    const bool hasSeparator = folder.back() == '/' || folder.back() == '\\';
    return folder + (hasSeparator ? "" : "/") + "eeprom_" + eeprom.name + ".bin";
}

// Takes over what the state file holds; a short file leaves the rest erased and is then
// written out at full size, so that later writes can go to their own offsets. A file of full
// size is left alone: rewriting it would open a window in which a killed process loses it.
void LoadState(Eeprom& eeprom) {
    std::fill(eeprom.cells.begin(), eeprom.cells.end(), kErasedByte);
    const size_t loaded = host::ReadStateFile(eeprom.file, eeprom.cells.data(), eeprom.cells.size());
    if (loaded < eeprom.cells.size()) (void)host::WriteStateFile(eeprom.file, 0, eeprom.cells.data(), eeprom.cells.size());
}

// A write that cannot reach the state file fails with -604; the reason is told once a session,
// naming the file and its folder, which a bare -604 would leave the user to guess.
void TellStateFileProblem(Eeprom& eeprom) {
    if (eeprom.stateFileProblemTold) return;
    eeprom.stateFileProblemTold = true;
    const std::string& path = eeprom.stateFile;
    const size_t separator = path.find_last_of("/\\");
    const int folderLength = separator == std::string::npos ? 1 : static_cast<int>(separator == 0 ? 1 : separator);
    const char* folder = separator == std::string::npos ? "." : path.c_str();
    const char* why = eeprom.file.problem[0] != '\0' ? eeprom.file.problem : "the write failed";
    std::fprintf(stderr, "kelvosim: EEPROM 0x%02X: cannot write its state file '%s' in the folder '%.*s' (%s)\n",
                 eeprom.deviceId, path.c_str(), folderLength, folder, why);
    std::fflush(stderr);
}

// Programs cells [first, first + count) one page at a time, each page reaching the state file
// before the next begins. *done counts the bytes programmed, also when a page fails.
int32_t ProgramPages(Eeprom& eeprom, uint32_t first, const uint8_t* data, uint32_t count,
                     uint32_t* done) {
    *done = 0;
    const bool persistent = !eeprom.stateFile.empty();
    while (*done < count) {
        const uint32_t address = first + *done;
        const uint32_t pageLeft = eeprom.pageBytes - address % eeprom.pageBytes;
        const uint32_t chunk = std::min(pageLeft, count - *done);
        const uint8_t* page = data + *done;
        // A state file that could not be opened as a plain file of ours fails every write.
        if (persistent && !host::WriteStateFile(eeprom.file, address, page, chunk)) {
            TellStateFileProblem(eeprom);
            return kErrVerifyWrite;
        }
        std::copy(page, page + chunk, eeprom.cells.begin() + address);
        if (eeprom.pageWriteNs != 0) PauseNs(eeprom.pageWriteNs);
        *done += chunk;
    }
    return kOk;
}

// Finds the EEPROM for a transfer and checks that it answers and that the range fits.
int32_t Address(uint8_t deviceId, uint32_t first, uint32_t count, Eeprom** found) {
    Eeprom* eeprom = FindEeprom(deviceId);
    if (eeprom == nullptr || eeprom->naks) return kErrNoAck;
    if (first > eeprom->sizeBytes || count > eeprom->sizeBytes - first) return kErrAddressRange;
    *found = eeprom;
    return kOk;
}

}  // namespace

void I2cBusReset() {
    I2cBusDetach();
    for (Eeprom& eeprom : gEeproms) {
        eeprom.cells.assign(eeprom.sizeBytes, kErasedByte);
        eeprom.stateFile = StateFilePath(eeprom);
        eeprom.naks = ScenarioInteger(Key(eeprom, "nak").c_str(), 0) != 0;
        eeprom.writeFailAfter = ScenarioInteger(Key(eeprom, "write_fail_after").c_str(), -1);
        eeprom.readFlipAddress = ScenarioInteger(Key(eeprom, "read_flip").c_str(), kNoAddress);
        eeprom.pageWriteNs = static_cast<uint64_t>(ScenarioInteger(Key(eeprom, "page_write_us").c_str(), 0)) * 1000u;
    }
}

int32_t I2cBusAttach() {
    for (Eeprom& eeprom : gEeproms) {
        eeprom.stateFileProblemTold = false;
        if (eeprom.stateFile.empty()) continue;
        const host::StateFileStatus status = host::OpenStateFile(eeprom.stateFile, eeprom.file);
        if (status == host::StateFileStatus::kBusy) {
            I2cBusDetach();
            return kErrBusy;
        }
        if (status == host::StateFileStatus::kOpen) LoadState(eeprom);
    }
    return kOk;
}

void I2cBusDetach() {
    for (Eeprom& eeprom : gEeproms) host::CloseStateFile(eeprom.file);
}

int32_t EepromWrite(uint8_t deviceId, uint32_t first, const uint8_t* data, uint32_t count,
                    uint32_t* moved) {
    *moved = 0;
    Eeprom* eeprom = nullptr;
    const int32_t status = Address(deviceId, first, count, &eeprom);
    if (status != kOk) return status;
    // A write that breaks off stores what went before the break, as a real bus would.
    const bool breaks = eeprom->writeFailAfter >= 0 && count > eeprom->writeFailAfter;
    const uint32_t storing = breaks ? static_cast<uint32_t>(eeprom->writeFailAfter) : count;
    const int32_t programmed = ProgramPages(*eeprom, first, data, storing, moved);
    if (programmed != kOk) return programmed;
    return breaks ? kErrBusTimeout : kOk;
}

int32_t EepromRead(uint8_t deviceId, uint32_t first, uint8_t* data, uint32_t count,
                   uint32_t* moved) {
    *moved = 0;
    Eeprom* eeprom = nullptr;
    const int32_t status = Address(deviceId, first, count, &eeprom);
    if (status != kOk) return status;
    std::copy(eeprom->cells.begin() + first, eeprom->cells.begin() + first + count, data);
    const int64_t flip = eeprom->readFlipAddress;
    if (flip >= first && flip < static_cast<int64_t>(first) + count) data[flip - first] ^= 0x01;
    *moved = count;
    return kOk;
}

}  // namespace sim
