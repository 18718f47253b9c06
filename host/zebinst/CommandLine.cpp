#include "host/zebinst/CommandLine.h"

#include "host/zebinst/Output.h"

#include <algorithm>

namespace zebinst {

namespace {

// "--" alone and "-" alone are not options; anything else with a leading
// dash is.
bool isOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && arg != "--";
}

} // namespace

CommandLine::CommandLine(std::vector<std::string> args, std::string command)
    : m_args(std::move(args)), m_command(std::move(command)) {}

bool CommandLine::flag(const std::string& name) {
    auto it = std::find(m_args.begin(), m_args.end(), name);
    if (it == m_args.end()) return false;
    m_args.erase(it);
    return true;
}

std::optional<std::string> CommandLine::option(const std::string& name) {
    for (auto it = m_args.begin(); it != m_args.end(); ++it) {
        if (*it == name) {
            if (it + 1 == m_args.end())
                throw CommandError(kExitUsage, m_command + ": option " + name + " needs a value");
            std::string value = *(it + 1);
            m_args.erase(it, it + 2);
            return value;
        }
        if (it->rfind(name + "=", 0) == 0) {
            std::string value = it->substr(name.size() + 1);
            m_args.erase(it);
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CommandLine::optionalPositional() {
    for (auto it = m_args.begin(); it != m_args.end(); ++it) {
        if (*it == "--") {
            // Everything after "--" is positional.
            if (it + 1 == m_args.end()) return std::nullopt;
            std::string value = *(it + 1);
            m_args.erase(it + 1);
            return value;
        }
        if (isOption(*it)) continue;
        std::string value = *it;
        m_args.erase(it);
        return value;
    }
    return std::nullopt;
}

std::string CommandLine::positional(const char* what) {
    if (auto value = optionalPositional()) return *value;
    throw CommandError(kExitUsage, m_command + ": missing " + what);
}

void CommandLine::finish() const {
    for (const std::string& arg : m_args) {
        if (arg == "--") continue;
        throw CommandError(kExitUsage, m_command + ": unexpected " +
                                           (isOption(arg) ? "option " : "argument ") + "'" + arg +
                                           "'");
    }
}

} // namespace zebinst
