// driver/main_sequence.h: the tool's whole control flow, from the tool name to the exit code.
#pragma once

constexpr int kExitClean = 0;
constexpr int kExitUsage = 1;
constexpr int kExitInterfaceError = 2;

// The FPGA configuration loaded at bring-up unless -ini names another, and again by the
// streaming test, which needs the configuration that produces the counting stream.
inline constexpr char kDefaultFpgaFile[] = "scanner3.mcs";

int RunMainSequence(int argc, char** argv);
