// driver/main_sequence.h: the tool's whole control flow, from the tool name to the exit code.
#pragma once

constexpr int kExitClean = 0;
constexpr int kExitUsage = 1;
constexpr int kExitInterfaceError = 2;

int RunMainSequence(int argc, char** argv);
