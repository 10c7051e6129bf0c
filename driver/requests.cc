// driver/requests.cc: turns the option targets into the actions' requests. An integer target
// is requested when it is not -1, a flag when it is not 0, a file name when it is not empty.
#include "driver/requests.h"

#include "driver/option_table.h"

static std::optional<int32_t> IfRequested(int32_t target) {
    return IsRequested(target) ? std::optional<int32_t>(target) : std::nullopt;
}

RegisterRequests RegisterRequestsFromOptions() {
    RegisterRequests requests;
    requests.writeByte = IfRequested(gWriteByteAdr);
    requests.writeWord = IfRequested(gWriteWordAdr);
    requests.writeWordInc = IfRequested(gWriteWordIncAdr);
    requests.writeDword = IfRequested(gWriteDwordAdr);
    requests.writeDwordInc = IfRequested(gWriteDwordIncAdr);
    requests.readByte = IfRequested(gReadByteAdr);
    requests.readWord = IfRequested(gReadWordAdr);
    requests.readWordInc = IfRequested(gReadWordIncAdr);
    requests.readDword = IfRequested(gReadDwordAdr);
    requests.readDwordInc = IfRequested(gReadDwordIncAdr);
    requests.value = gWriteValue;
    return requests;
}

I2cRequests I2cRequestsFromOptions() {
    I2cRequests requests;
    requests.eepromId = gEepromId;
    requests.writeValue = gWriteValue;
    requests.eepromWrite = IfRequested(gEepromWriteAdr);
    requests.eepromRead = IfRequested(gEepromReadAdr);
    requests.dump = gDumpEepromFlag != 0;
    requests.stressLoop = gIicTestFlag != 0;
    requests.dacValue = IfRequested(gDacValue);
    requests.adcRead = gAdReadFlag != 0;
    requests.tempInit = IfRequested(gTempInitValue);
    requests.tempRead = gTempReadFlag != 0;
    return requests;
}

bool ScanRequested() { return gScanFlag != 0 || gScanFilename[0] != '\0'; }

const char* ScanFileFromOptions() { return gScanFlag != 0 ? nullptr : gScanFilename; }
