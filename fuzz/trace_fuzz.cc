// fuzz/trace_fuzz.cc: the trace reader on any bytes: decoding, kelvotrace's dump and stats,
// and replay answering, through its table of operations, the very calls the trace holds.
// Nothing may crash, leak or read outside a buffer; a trace read twice reads the same; a
// decoded block never holds more data than was asked for.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recorder/trace_report.h"
#include "sim/clock.h"
#include "sim/replay.h"
#include "sim/scenario.h"
#include "trace/trace_format.h"

namespace {

constexpr int kAskedCalls = 64;   // replay sleeps a millisecond for each read past the stream

// Asks replay the call the trace recorded, with buffers of the sizes the call names.
void AskLargeProm(const sim::Backend& replay, const trace::Call& call, uint8_t* buffer, size_t size) {
    int32_t length = static_cast<int32_t>(static_cast<uint32_t>(call.args[2]) % size);
    const bool write = call.op == trace::Op::I2C_LargePROMwr;
    (void)(write ? replay.I2C_LargePROMwr : replay.I2C_LargePROMrd)(static_cast<uint8_t>(call.args[0]),
                                                                     static_cast<uint32_t>(call.args[1]), buffer, &length);
}

// A copy of its own, so that a write past the request is seen by the sanitizer.
void AskReadBlock(const sim::Backend& replay, const trace::Call& call) {
    const int32_t requested = static_cast<int32_t>(static_cast<uint32_t>(call.args[0]) % 32769);
    std::vector<uint8_t> block(static_cast<size_t>(requested));
    int32_t received = 0;
    (void)replay.ReadBlock(block.data(), requested, &received);
    if (received > requested && requested > 0) std::abort();
}

void Ask(const sim::Backend& replay, const trace::Call& call) {
    static uint8_t buffer[65536];
    const auto arg = [&](int i) { return static_cast<uint32_t>(call.args[i]); };
    switch (call.op) {
        case trace::Op::SetTraceMask: replay.SetTraceMask(arg(0)); break;
        case trace::Op::Init_Interface: (void)replay.Init_Interface(); break;
        case trace::Op::SetUsbTimeout: replay.SetUsbTimeout(arg(0)); break;
        case trace::Op::GetKelvoVersion: {
            uint16_t versions[4];
            (void)replay.GetKelvoVersion(&versions[0], &versions[1], &versions[2], &versions[3]);
            break;
        }
        case trace::Op::Init_Firmware: (void)replay.Init_Firmware(call.text.c_str(), static_cast<int32_t>(arg(0))); break;
        case trace::Op::Free_Interface: (void)replay.Free_Interface(); break;
        case trace::Op::GetLastKelvoError: (void)replay.GetLastKelvoError(static_cast<int32_t>(arg(0))); break;
        case trace::Op::GetKelvoErrorText: {
            char text[256];
            (void)replay.GetKelvoErrorText(static_cast<int32_t>(arg(0)), text, sizeof text);
            break;
        }
        case trace::Op::RegWrite: (void)replay.RegWrite(arg(0), static_cast<uint8_t>(arg(1))); break;
        case trace::Op::RegWriteShort: (void)replay.RegWriteShort(arg(0), static_cast<uint16_t>(arg(1))); break;
        case trace::Op::RegWriteLong: (void)replay.RegWriteLong(arg(0), arg(1)); break;
        case trace::Op::RegWriteLongInc: (void)replay.RegWriteLongInc(arg(0), arg(1)); break;
        case trace::Op::RegRead: (void)replay.RegRead(arg(0)); break;
        case trace::Op::RegReadShort: (void)replay.RegReadShort(arg(0)); break;
        case trace::Op::RegReadShortInc: (void)replay.RegReadShortInc(arg(0)); break;
        case trace::Op::RegReadLong: (void)replay.RegReadLong(arg(0)); break;
        case trace::Op::RegReadLongInc: (void)replay.RegReadLongInc(arg(0)); break;
        case trace::Op::I2C_PROM_write:
            (void)replay.I2C_PROM_write(buffer, static_cast<uint8_t>(arg(0)), arg(1), static_cast<uint8_t>(arg(2)));
            break;
        case trace::Op::I2C_PROM_read:
            (void)replay.I2C_PROM_read(buffer, static_cast<uint8_t>(arg(0)), arg(1), static_cast<uint8_t>(arg(2)));
            break;
        case trace::Op::I2C_LargePROMwr:
        case trace::Op::I2C_LargePROMrd: AskLargeProm(replay, call, buffer, sizeof buffer); break;
        case trace::Op::I2C_ADCread: (void)replay.I2C_ADCread(static_cast<uint8_t>(arg(0)), static_cast<int32_t>(arg(1))); break;
        case trace::Op::I2C_DACout: (void)replay.I2C_DACout(static_cast<uint8_t>(arg(0)), static_cast<int32_t>(arg(1))); break;
        case trace::Op::I2C_TEMPinit: (void)replay.I2C_TEMPinit(static_cast<uint8_t>(arg(0)), static_cast<int32_t>(arg(1))); break;
        case trace::Op::I2C_TEMPread: (void)replay.I2C_TEMPread(static_cast<uint8_t>(arg(0))); break;
        case trace::Op::Pentamotor_init: (void)replay.Pentamotor_init(static_cast<int32_t>(arg(0))); break;
        case trace::Op::Anz_ScanLine: (void)replay.Anz_ScanLine(); break;
        case trace::Op::GetScanStatus: {
            ScannerStatus status{};
            (void)replay.GetScanStatus(&status);
            break;
        }
        case trace::Op::ReadBlock: AskReadBlock(replay, call); break;
        case trace::Op::ClearReadBlock: replay.ClearReadBlock(); break;
        default: std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("kelvotrace-fuzz-" + std::to_string(std::rand()) + ".kvtrace")).string();
    std::string error;
    {
        trace::Reader reader;
        if (reader.OpenBytes(data, size, &error)) (void)trace::DumpTrace("fuzz", reader, sink, sink);
    }
    trace::Reader first;
    trace::Reader second;
    if (!first.OpenBytes(data, size, &error) || !second.OpenBytes(data, size, &error)) return 0;
    (void)trace::TraceStats("fuzz", first, sink, sink);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    // Replay's pauses take no time and its stop request reaches no one: a divergence raises
    // one, which would otherwise end the fuzzer.
    sim::UseClock(nullptr, [](uint64_t) {}, [] { return 0; });
    const std::string settings = "replay = " + path;
    sim::ScenarioReplace(settings.c_str());
    sim::ReplayReset();
    const sim::Backend& replay = sim::ReplayBackend();
    trace::Call call;
    for (int asked = 0; asked < kAskedCalls && second.Next(call) == trace::ReadStatus::kCall; ++asked) {
        if (call.op == trace::Op::ReadBlock && trace::StreamBytes(call) > static_cast<uint64_t>(call.args[0])) std::abort();
        Ask(replay, call);
    }
    sim::ReplayReset();
    return 0;
}
