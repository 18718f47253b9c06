// The commands of zebinst: each group in its own file, all listed here for
// main, which finds them by name, prints their help and runs them.
#pragma once

#include "host/zebinst/CommandLine.h"

#include <span>
#include <string>

namespace zebinst {

// What every command gets: its arguments and the -C directory ("" when not given).
struct Invocation {
    CommandLine& args;
    std::string configDir;
};

struct Command {
    const char* name;
    const char* summary; // one line for the program's help
    const char* help;    // the command's --help text
    int (*run)(Invocation&);
};

// The commands of each group (SetupCommands.cpp, TypeCommands.cpp,
// ToolCommands.cpp, DocumentCommands.cpp, CheckCommand.cpp, QueryCommands.cpp).
std::span<const Command> setupCommands();
std::span<const Command> typeCommands();
std::span<const Command> toolCommands();
std::span<const Command> documentCommands();
std::span<const Command> checkCommands();
std::span<const Command> exchangeCommands();
std::span<const Command> queryCommands();

} // namespace zebinst
