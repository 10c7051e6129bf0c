// line/main.cc: kelvotest-line, the line's collector and its questions (kelvotest-line(1)).
#include "line/command_table.h"

int main(int argc, char** argv) { return line::RunLineCommand(argc, argv); }
