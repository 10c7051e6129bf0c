#include "plan/transcript.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>

#include "device/scanner.h"

namespace plan {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

enum class Phase { kBringUp, kActions, kIicTest, kStream };

class Parser {
public:
    explicit Parser(const ToolArgs& args) : args_(args) {
        // The register writes run in this order, each at most once, and each prints exactly
        // one line: its success or its error line.
        for (const char* option : {"wb", "ww", "wwi", "wd", "wdi"}) {
            if (args_.Has(option)) pendingWrites_.push_back(option);
        }
    }

    Transcript Run(const std::string& text) {
        size_t begin = 0;
        int number = 0;
        while (begin < text.size()) {
            size_t end = text.find('\n', begin);
            if (end == std::string::npos) end = text.size();
            ++number;
            Line(text.substr(begin, end - begin), number);
            begin = end + 1;
        }
        result_.lines = number;
        Finish();
        return std::move(result_);
    }

private:
    void Set(const std::string& name, Value value, const char* unit, int line) {
        for (Measurement& m : result_.measurements) {
            if (m.name == name) {
                m.value = std::move(value);
                m.line = line;
                return;
            }
        }
        result_.measurements.push_back({name, std::move(value), unit, line});
    }

    void Error(std::optional<int64_t> code, std::string text, int line) {
        ++result_.errorCount;
        if (result_.errors.size() < Transcript::kMaxErrorsKept) {
            result_.errors.push_back({code, std::move(text), line});
        }
        lastErrorLine_ = line;
    }

    // "ksutest: Error: N text" and the GetLastError lines complete the failure reported on the
    // line before them; on their own they are an error of their own.
    void ErrorDetail(std::optional<int64_t> code, std::string text, int line) {
        if (!code && text == "no error") return;   // GetLastError after a failure of the tool's own
        if ((lastErrorLine_ == line - 1 || lastErrorLine_ == line) && !result_.errors.empty() && result_.errors.back().line == lastErrorLine_ &&
            !result_.errors.back().code) {
            DeviceError& last = result_.errors.back();
            last.code = code;
            if (!text.empty()) last.text += ": " + text;
            lastErrorLine_ = line;
            return;
        }
        Error(code, text.empty() ? "device error" : text, line);
    }

    void Line(std::string line, int number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "Cannot open FILE" (boot image) is written without a line end: the next message
        // follows on the same line.
        if (StartsWith(line, "Cannot open ") && !StartsWith(line, "Cannot open scannerfile")) {
            const size_t next = line.find("ksutest: ");
            Error(std::nullopt, "cannot open " + line.substr(12, next == std::string::npos ? std::string::npos : next - 12),
                  number);
            if (next == std::string::npos) return;
            line = line.substr(next);
        }
        if (statusField_ > 0) {
            if (StatusLine(line, number)) return;
        }
        if (dumpLines_ > 0) {
            if (DumpLine(line, number)) return;
        }
        // Each group knows some of the tool's messages; the first that knows the line takes it.
        if (BringUpLine(line, number) || WriteLine(line, number) || ReadLine(line, number) || EepromLine(line, number) ||
            ConverterLine(line, number) || MotorAndStatusLine(line, number) || StreamLine(line, number)) {
            return;
        }
        ErrorLine(line, number);
    }

    bool BringUpLine(const std::string& line, int number) {
        int a = 0;
        unsigned u = 0;
        if (line == "ksutest: Init_Interface success!") {
            result_.interfaceOpened = true;
        } else if (line == "ksutest: Err. Init_Interface!") {
            Error(std::nullopt, "Init_Interface failed", number);
        } else if (std::sscanf(line.c_str(), "HardwareVersion: 0x%x", &u) == 1) {
            Set("versions.hardware", int64_t{u}, "", number);
        } else if (std::sscanf(line.c_str(), "FirmwareVersion: 0x%x", &u) == 1) {
            Set("versions.firmware", int64_t{u}, "", number);
        } else if (std::sscanf(line.c_str(), "DllVersion: 0x%x", &u) == 1) {
            Set("versions.library", int64_t{u}, "", number);
        } else if (std::sscanf(line.c_str(), "USB-DriverVersion: 0x%x", &u) == 1) {
            Set("versions.usb_driver", int64_t{u}, "", number);
            Set("versions.match", true, "", number);
            versionsReported_ = true;
        } else if (StartsWith(line, "ksutest: Version Error: DllVerison != FirmwareVerison")) {
            Set("versions.match", false, "", number);
        } else if (line == "ksutest: Err.GetKelvoVersion!") {
            Error(std::nullopt, "GetKelvoVersion failed", number);
        } else if (std::sscanf(line.c_str(), "ksutest: Err. Init_Firmware:%d", &a) == 1) {
            Error(int64_t{a}, "FPGA configuration (scanner3.mcs) did not load", number);
            fpgaFailed_ = true;
        } else if (line == "ksutest: Err. Init_Firmware") {
            if (phase_ == Phase::kStream) {
                Error(std::nullopt, "streaming test: FPGA configuration did not load", number);
            } else {
                Error(std::nullopt, "FPGA configuration (-ini) did not load", number);
                fpgaFailed_ = true;
            }
        } else if (StartsWith(line, "ksutest: program EEPROM with ID 0x")) {
            Set("boot.programmed", true, "", number);
            phase_ = Phase::kActions;
        } else if (line == "ksutest: Err. gBootFilename") {
            Set("boot.programmed", false, "", number);
            Error(std::nullopt, "boot EEPROM programming failed", number);
            bootFailed_ = true;
        } else if (StartsWith(line, "ksutest: Err.") && BootStepError(line)) {
            Error(std::nullopt, "boot EEPROM: " + line.substr(13), number);
        } else {
            return false;
        }
        return true;
    }

    bool EepromLine(const std::string& line, int number) {
        int a = 0;
        unsigned u = 0;
        char text[1024];
        if (std::sscanf(line.c_str(), "ksutest: I2C_PROM_write success ID:%1023[0-9a-fA-F] Adr:%d Val:0x%x!",
                               text, &a, &u) == 3) {
            phase_ = Phase::kActions;
            wroteEeprom_ = true;
            Set("eeprom." + Lower(text) + "." + std::to_string(a) + ".written", true, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: I2C_PROM_read success ID:%1023[0-9a-fA-F] Adr:%d Val:0x%x!",
                               text, &a, &u) == 3) {
            phase_ = Phase::kActions;
            Set("eeprom." + Lower(text) + "." + std::to_string(a), int64_t{u}, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: I2C_PROM_dump Adr.:0 from ID:0x%1023[0-9a-fA-F]!", text) == 1) {
            phase_ = Phase::kActions;
            dumpId_ = Lower(text);
            dumpLines_ = 16;
            dumpLine_ = number;
            dump_.clear();
        } else if (line == "ksutest: Error: not valid ID parameter!") {
            Error(std::nullopt, "-dumpe: not a valid -id", number);
        } else {
            return false;
        }
        return true;
    }

    bool ConverterLine(const std::string& line, int number) {
        int a = 0, b = 0;
        double d = 0;
        if (StartsWith(line, "ksutest: iictest, read from")) {
            phase_ = Phase::kIicTest;
        } else if (std::sscanf(line.c_str(), "ksutest: Count of I2C-Reads:%d, errors:%d", &a, &b) == 2) {
            Set("iic.reads", int64_t{a}, "", number);
            Set("iic.errors", int64_t{b}, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: Error I2C_ADCread from channel 1! Value:%lf!", &d) == 1) {
            char message[96];
            std::snprintf(message, sizeof message, "I2C stress loop: 3.3 V rail at %.6f V, outside 3.1 to 3.5 V", d);
            Error(std::nullopt, message, number);
        } else if (std::sscanf(line.c_str(), "ksutest: I2C_DACout High Voltage in %lf V", &d) == 1) {
            LeaveLoop();
            Set("dac.set", d, "V", number);
        } else if (std::sscanf(line.c_str(), "ksutest: AD Channel 0: %d", &a) == 1) {
            LeaveLoop();
            Set("adc.raw", int64_t{a}, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: AD Channel 3,3V in V: %lf", &d) == 1) {
            Set("adc.3v3", d, "V", number);
        } else if (std::sscanf(line.c_str(), "ksutest: AD Channel 5V in V: %lf", &d) == 1) {
            Set("adc.5v", d, "V", number);
        } else if (std::sscanf(line.c_str(), "ksutest: AD Channel 24V in V: %lf", &d) == 1) {
            Set("adc.24v", d, "V", number);
        } else if (line == "ksutest: I2C_TEMPinit success!") {
            LeaveLoop();
            Set("temp.init", true, "", number);
        } else if (line == "ksutest: Error I2C_TEMPinit!") {
            if (phase_ == Phase::kIicTest) {
                Error(std::nullopt, "I2C stress loop: temperature sensor set-up failed", number);
            } else {
                Set("temp.init", false, "", number);
                Error(std::nullopt, "temperature sensor set-up failed", number);
            }
        } else if (std::sscanf(line.c_str(), "ksutest: I2C_TEMPread: Value: %d", &a) == 1) {
            LeaveLoop();
            Set("temp.raw", int64_t{a}, "", number);
        } else if (StartsWith(line, "ksutest: Error I2C_TEMPread: Value:")) {
            LeaveLoop();
            Error(std::nullopt, "temperature sensor read failed", number);
        } else {
            return false;
        }
        return true;
    }

    bool MotorAndStatusLine(const std::string& line, int number) {
        int a = 0;
        if (line == "ksutest: Pentamotor_init success") {
            LeaveLoop();
            Set("motor.started", true, "", number);
        } else if (line == "ksutest: Error Pentamotor_init!") {
            LeaveLoop();
            Set("motor.started", false, "", number);
            Error(std::nullopt, "motor start failed", number);
        } else if (std::sscanf(line.c_str(), "ksutest: Anz_ScanLine success Lines:%d", &a) == 1) {
            LeaveLoop();
            Set("lines.count", int64_t{a}, "", number);
        } else if (line == "ksutest: Error Anz_ScanLine, call GetLastError!") {
            LeaveLoop();
            Error(std::nullopt, "scan-line count failed", number);
        } else if (line == "ksutest: scannerStatus:") {
            LeaveLoop();
            statusField_ = 1;
        } else {
            return false;
        }
        return true;
    }

    bool StreamLine(const std::string& line, int number) {
        int a = 0;
        unsigned u = 0;
        unsigned long long big = 0, big2 = 0;
        if (line == "ReadBlock from Scanner without File!" || StartsWith(line, "ReadBlock from Scanner in File ")) {
            phase_ = Phase::kStream;
            result_.streamStarted = true;
        } else if (StartsWith(line, "Cannot open scannerfile ")) {
            Error(std::nullopt, "cannot open the scan file " + line.substr(24), number);
        } else if (std::sscanf(line.c_str(), "ksutest: Total bytes transferred: %llu, Data Rate: %llu, Errors: %u", &big,
                               &big2, &u) == 3) {
            ThroughputReport report;
            report.line = number;
            report.bytes = big;
            report.rate = big2;
            report.errors = u;
            result_.throughput.push_back(report);
            Set("stream.bytes", static_cast<int64_t>(big), "B", number);
            Set("stream.rate", static_cast<int64_t>(big2), "B/s", number);
            Set("stream.errors", int64_t{u}, "", number);
        } else if (std::sscanf(line.c_str(), "First ErrPosition:0x%llx errorvalue:0x%x!", &big, &u) == 2) {
            if (!result_.throughput.empty()) {
                result_.throughput.back().firstErrorPosition = big;
                result_.throughput.back().firstErrorValue = u;
            }
            if (!result_.Find("stream.first_error_position")) {
                Set("stream.first_error_position", static_cast<int64_t>(big), "B", number);
                Set("stream.first_error_value", int64_t{u}, "", number);
            }
        } else if (std::sscanf(line.c_str(), "Error BlockRead:%d", &a) == 1) {
            Error(int64_t{a}, "streaming test: block read failed", number);
        } else if (line == "Error FileWrite!") {
            Error(std::nullopt, "streaming test: the scan file could not be written", number);
        } else if (StartsWith(line, "ksutest: Err.RegWrite reg.")) {
            Error(std::nullopt, "streaming test: the stream gate could not be switched", number);
        } else {
            return false;
        }
        return true;
    }

    bool ErrorLine(const std::string& line, int number) {
        int a = 0;
        char text[1024];
        if (std::sscanf(line.c_str(), "ksutest: Error: %d %1023[^\n]", &a, text) == 2) {
            ErrorDetail(int64_t{a}, Trim(text), number);
        } else if (std::sscanf(line.c_str(), "ksutest: Error: %d", &a) == 1) {
            ErrorDetail(int64_t{a}, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: GetLastError: %d", &a) == 1) {
            ErrorDetail(int64_t{a}, "", number);
        } else if (StartsWith(line, "ksutest: GetLastError:")) {
            ErrorDetail(std::nullopt, Trim(line.substr(22)), number);
        } else if (line == "ksutest: Error Free_interface!") {
            Error(std::nullopt, "Free_Interface failed", number);
        } else if (std::sscanf(line.c_str(), "ksutest: Error occured during test: %d!", &a) == 1) {
            ErrorDetail(int64_t{a}, "", number);
        } else if (std::sscanf(line.c_str(), "ksutest: Error in command line parameter %1023s", text) == 1) {
            result_.commandLineError = true;
            Error(std::nullopt, std::string("command line error at '") + text + "'", number);
        } else {
            return false;
        }
        return true;
    }


    static bool BootStepError(const std::string& line) {
        static const char* const kLines[] = {"ksutest: Err.I2C_PROM_write adr.0..7", "ksutest: Err.read File!",
                                             "ksutest: Err.I2C_LargePROMrd!", "ksutest: Err.Verify EEPROM!",
                                             "ksutest: Err.write first 8 Bytes to EEPROM!"};
        for (const char* known : kLines) {
            if (line == known) return true;
        }
        return StartsWith(line, "ksutest: Err.I2C_LargePROMwr Length:");
    }

    void LeaveLoop() {
        if (phase_ == Phase::kIicTest || phase_ == Phase::kBringUp) phase_ = Phase::kActions;
    }

    bool WriteLine(const std::string& line, int number) {
        static const struct {
            const char* success;
            const char* failure;
            const char* option;
        } kWrites[] = {
            {"ksutest: RegWrite success!", "ksutest: Err.RegWrite", "wb"},
            {"ksutest: RegWriteShort success!", "ksutest: Err.RegWriteShort", "ww"},
            {"ksutest: RegWriteShortInc success!", "ksutest: Err.RegWriteShortInc", "wwi"},
            {"ksutest: RegWriteLong success!", "ksutest: Err.RegWriteLong", "wd"},
            {"ksutest: RegWriteLongInc success!", nullptr, "wdi"},
        };
        for (const auto& write : kWrites) {
            const bool success = line == write.success;
            const bool failure = write.failure != nullptr && line == write.failure;
            if (!success && !failure) continue;
            phase_ = Phase::kActions;
            std::string option = write.option;
            // -wd and -wdi report a failure with the same line: the first of them still
            // waiting for its line is the one.
            if (failure && option == "wd" && !Pending("wd") && Pending("wdi")) option = "wdi";
            std::string name = "reg." + option;
            if (const auto address = args_.Hex(option)) name += "." + HexAddress(*address);
            Set(name, success, "", number);
            Done(option);
            if (failure) Error(std::nullopt, "register write -" + option + " failed", number);
            return true;
        }
        return false;
    }

    bool Pending(const std::string& option) const {
        for (const std::string& pending : pendingWrites_) {
            if (pending == option) return true;
        }
        return false;
    }
    void Done(const std::string& option) {
        for (auto it = pendingWrites_.begin(); it != pendingWrites_.end(); ++it) {
            if (*it == option) {
                pendingWrites_.erase(it);
                return;
            }
        }
    }

    bool ReadLine(const std::string& line, int number) {
        static const struct {
            const char* name;
            const char* option;
        } kReads[] = {
            {"ksutest: RegRead", "rb"},         {"ksutest: RegReadShort", "rw"},   {"ksutest: RegReadShortInc", "rwi"},
            {"ksutest: RegReadDword", "rd"},    {"ksutest: RegReadDwordInc", "rdi"},
        };
        if (!StartsWith(line, "ksutest: RegRead")) return false;
        for (const auto& read : kReads) {
            const std::string head = std::string(read.name) + " from Adr.";
            if (!StartsWith(line, head.c_str())) continue;
            int address = 0;
            unsigned value = 0;
            if (std::sscanf(line.c_str() + std::strlen(read.name), " from Adr.%d Byte:0x%x", &address, &value) != 2) {
                return false;
            }
            phase_ = Phase::kActions;
            Set(std::string("reg.") + read.option + "." + HexAddress(static_cast<uint32_t>(address)), int64_t{value}, "",
                number);
            return true;
        }
        return false;
    }

    bool StatusLine(const std::string& line, int number) {
        static const struct {
            const char* label;
            const char* name;
            bool hex;
        } kFields[] = {
            {"LS:", "status.ls", true},          {"LED:", "status.led", true},
            {"RAMStatus:", "status.ram", true},  {"AnzDat:", "status.count", false},
            {"RamFIFO:", "status.fifo", false},  {"LastError:", "status.last_error", false},
        };
        const auto& field = kFields[statusField_ - 1];
        if (!StartsWith(line, field.label)) {
            statusField_ = 0;
            return false;
        }
        const std::string value = Trim(line.substr(std::strlen(field.label)));
        char* end = nullptr;
        const long long parsed = std::strtoll(value.c_str(), &end, field.hex ? 16 : 10);
        if (end != value.c_str()) Set(field.name, static_cast<int64_t>(parsed), "", number);
        statusField_ = statusField_ == 6 ? 0 : statusField_ + 1;
        return true;
    }

    bool DumpLine(const std::string& line, int number) {
        unsigned offset = 0;
        if (line.size() < 6 || std::sscanf(line.c_str(), "%4x:", &offset) != 1 || line[4] != ':') {
            dumpLines_ = 0;
            return false;
        }
        // Sixteen byte fields from column 6, three characters each and one blank more after
        // every fourth byte.
        size_t column = 6;
        for (int i = 0; i < 16 && column + 1 < line.size(); ++i) {
            const std::string digits = line.substr(column, 2);
            if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
                !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
                break;
            }
            dump_ += Lower(digits);
            column += 3 + (i % 4 == 3 ? 1 : 0);
        }
        if (--dumpLines_ == 0) Set("eeprom." + dumpId_ + ".dump", dump_, "", dumpLine_);
        (void)number;
        return true;
    }

    // Whole seconds taken one by one would make a steady stream dip and peak wherever the
    // pace crosses a second; one pace for all reports keeps it steady, and their mean rate is
    // the tool's own average.
    void TimeReports() {
        auto& reports = result_.throughput;
        double pace = kReportIntervalMs / 1000.0;
        for (size_t i = 0; i < reports.size(); ++i) {
            if (reports[i].rate == 0) continue;
            const double whole = std::round(static_cast<double>(reports[i].bytes) / static_cast<double>(reports[i].rate));
            pace = std::max(pace, whole / static_cast<double>(i + 1));
        }
        uint64_t lastBytes = 0;
        for (size_t i = 0; i < reports.size(); ++i) {
            reports[i].seconds = pace * static_cast<double>(i + 1);
            const uint64_t bytes = reports[i].bytes >= lastBytes ? reports[i].bytes - lastBytes : 0;
            reports[i].intervalRate = static_cast<double>(bytes) / pace;
            lastBytes = reports[i].bytes;
        }
    }

    void Finish() {
        TimeReports();
        Set("errors.count", static_cast<int64_t>(result_.errorCount), "", 0);
        if (!result_.interfaceOpened) {
            result_.bringUpComplete = false;
            return;
        }
        if (versionsReported_) Set("fpga.loaded", !fpgaFailed_, "", 0);
        const Measurement* boot = result_.Find("boot.programmed");
        if (args_.Has("prg") && !boot) Set("boot.programmed", false, "", 0);
        result_.bringUpComplete = versionsReported_ && !fpgaFailed_ && !bootFailed_ &&
                                  !(args_.Has("prg") && !result_.Find("boot.programmed"));
        if (const Measurement* programmed = result_.Find("boot.programmed")) {
            if (!std::get<bool>(programmed->value)) result_.bringUpComplete = false;
        }
        if (!result_.bringUpComplete) return;
        // Writes that printed neither their success nor their error line did not run.
        if (args_.Has("wre") && !wroteEeprom_) {
            const auto id = args_.Hex("id");
            const auto address = args_.Decimal("wre");
            if (id && address) {
                char name[64];
                std::snprintf(name, sizeof name, "eeprom.%02x.%lld.written", static_cast<unsigned>(*id & 0xFF),
                              static_cast<long long>(*address));
                Set(name, false, "", 0);
            }
        }
    }

    const ToolArgs& args_;
    Transcript result_;
    Phase phase_ = Phase::kBringUp;
    std::vector<std::string> pendingWrites_;
    bool versionsReported_ = false;
    bool fpgaFailed_ = false;
    bool bootFailed_ = false;
    bool wroteEeprom_ = false;
    int statusField_ = 0;
    int dumpLines_ = 0;
    int dumpLine_ = 0;
    std::string dumpId_;
    std::string dump_;
    int lastErrorLine_ = -10;
};

}  // namespace

std::string ValueText(const Value& value) {
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    if (const int64_t* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
    if (const double* d = std::get_if<double>(&value)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", *d);
        return text;
    }
    return std::get<std::string>(value);
}

bool IsNumber(const Value& value) {
    return std::holds_alternative<int64_t>(value) || std::holds_alternative<double>(value);
}

double NumberOf(const Value& value) {
    if (const int64_t* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
    return std::get<double>(value);
}

const Measurement* Transcript::Find(const std::string& name) const {
    for (const Measurement& m : measurements) {
        if (m.name == name) return &m;
    }
    return nullptr;
}

Transcript ParseTranscript(const std::string& text, const ToolArgs& args) {
    return Parser(args).Run(text);
}

bool IsKnownMeasurement(const std::string& name, char* kind) {
    static const std::regex kNumbers(
        "versions\\.(hardware|firmware|library|usb_driver)|reg\\.(rb|rw|rwi|rd|rdi)\\.0x[0-9a-f]+|"
        "eeprom\\.[0-9a-f]{2}\\.[0-9]+|adc\\.(raw|3v3|5v|24v)|dac\\.set|temp\\.raw|iic\\.(reads|errors)|"
        "lines\\.count|status\\.(ls|led|ram|count|fifo|last_error)|"
        "stream\\.(bytes|rate|errors|first_error_position|first_error_value)|errors\\.count");
    static const std::regex kBooleans(
        "versions\\.match|fpga\\.loaded|boot\\.programmed|reg\\.(wb|ww|wwi|wd|wdi)(\\.0x[0-9a-f]+)?|"
        "eeprom\\.[0-9a-f]{2}\\.[0-9]+\\.written|temp\\.init|motor\\.started");
    static const std::regex kTexts("eeprom\\.[0-9a-f]{2}\\.dump");
    char found = 0;
    if (std::regex_match(name, kNumbers)) {
        found = 'n';
    } else if (std::regex_match(name, kBooleans)) {
        found = 'b';
    } else if (std::regex_match(name, kTexts)) {
        found = 's';
    }
    if (kind != nullptr) *kind = found;
    return found != 0;
}

}  // namespace plan
