// procedures/scan_stream.h: the scan streaming test: an endless stream of counting words,
// checked, counted, reported once a second and optionally stored, until a key or a stop
// request ends it.
#pragma once

#include <cstdint>

// Status printed when the library claims success for a block it cannot have delivered: a
// received count below 0 or above the request.
constexpr int32_t kErrBlockLength = -350;

// Runs the test; reports its own failures. fileName: the -scanfile file that receives every
// accepted block, or nullptr to stream without a file (-scan).
void RunScanStreamTest(const char* fileName);

// Writes the value to byte register 4 and then 5; true when both writes succeeded.
bool SetScanGate(bool on);

void ReportThroughput(uint64_t totalBytes, uint32_t elapsedMs, uint32_t errorCount);
