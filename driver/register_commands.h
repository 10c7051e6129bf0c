// driver/register_commands.h: the ten register options, writes first, then reads.
#pragma once

// Runs every requested register write (-wb -ww -wwi -wd -wdi), then every requested read
// (-rb -rw -rwi -rd -rdi), each once, whatever their order on the command line.
void RunRegisterCommands();
