// zebinst: inspects and changes the installation registry of a configuration
// directory (the installation file k4bi00tx.dat, its classification document
// and the tools), git style: zebinst [-C DIR] COMMAND [ARGS].
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace zebinst;

constexpr const char* kUsageHead = R"(usage: zebinst [-C DIR] COMMAND [ARGS...]
       zebinst [-C DIR] COMMAND --help
       zebinst --help

Inspects and changes the installation registry of a configuration directory:
the installation file k4bi00tx.dat, its classification document and tools.

  -C DIR   the configuration directory (default: the one the settings of the
           registry store name, "ConfigDir" under the product key)
  --help   this text

Commands:
)";

constexpr const char* kUsageTail = R"(
Exit status: 0 success, 1 usage, 2 not found, 3 failure.
Environment: ZEB_REGISTRY (the registry store file; default
${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg), ZEB_TRACE.
)";

std::vector<const Command*> allCommands() {
    std::vector<const Command*> all;
    for (auto group : {setupCommands(), typeCommands(), toolCommands(), documentCommands(),
                       queryCommands(), exchangeCommands(), checkCommands()})
        for (const Command& c : group)
            all.push_back(&c);
    return all;
}

void printUsage(std::FILE* out) {
    std::fputs(kUsageHead, out);
    for (const Command* c : allCommands())
        std::fprintf(out, "  %-17s %s\n", c->name, c->summary);
    std::fputs(kUsageTail, out);
}

const Command* find(const std::string& name) {
    for (const Command* c : allCommands())
        if (name == c->name) return c;
    return nullptr;
}

int usageError(const std::string& message, const char* command) {
    std::fprintf(stderr, "zebinst: %s\n", message.c_str());
    if (command)
        std::fprintf(stderr, "try 'zebinst %s --help'\n", command);
    else
        std::fputs("try 'zebinst --help'\n", stderr);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string configDir;
    size_t i = 0;
    // Global options come before the command.
    for (; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            printUsage(stdout);
            return kExitOk;
        }
        if (args[i] == "-C") {
            if (i + 1 == args.size()) return usageError("option -C needs a directory", nullptr);
            configDir = args[++i];
            if (configDir.empty()) return usageError("option -C needs a directory", nullptr);
        } else if (args[i].rfind("-C", 0) == 0 && args[i].size() > 2) {
            configDir = args[i].substr(2);
        } else if (!args[i].empty() && args[i][0] == '-') {
            return usageError("unknown option '" + args[i] + "'", nullptr);
        } else {
            break;
        }
    }
    if (i == args.size()) {
        printUsage(stderr);
        return kExitUsage;
    }
    std::string name = args[i++];
    if (name == "help") {
        if (i == args.size()) {
            printUsage(stdout);
            return kExitOk;
        }
        name = args[i];
        args = {"--help"};
        i = 0;
    }
    const Command* command = find(name);
    if (!command) return usageError("unknown command '" + name + "'", nullptr);

    CommandLine line(std::vector<std::string>(args.begin() + long(i), args.end()), name);
    if (line.flag("--help") || line.flag("-h")) {
        std::fputs(command->help, stdout);
        return kExitOk;
    }
    try {
        Invocation invocation{line, configDir};
        const int status = command->run(invocation);
        std::fflush(stdout);
        return status;
    } catch (const CommandError& e) {
        std::fflush(stdout);
        if (e.status() == kExitUsage) return usageError(e.what(), command->name);
        std::fprintf(stderr, "zebinst: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "zebinst: %s: %s\n", command->name, e.what());
        return kExitFailure;
    }
}
