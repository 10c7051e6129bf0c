// driver/main.cc: the process entry point.
#include "driver/main_sequence.h"

int main(int argc, char** argv) { return RunMainSequence(argc, argv); }
