// CommandLine: the arguments of one zebinst command. Options are taken out
// by name first (--json, --class C or --class=C), then the positional
// arguments in order; whatever is left over is a usage error.
//
//   CommandLine args({"SampleDrive.1.0", "--json"}, "show");
//   bool json = args.flag("--json");
//   std::string name = args.positional("NAME|ID");
//   args.finish();                                  // usage error for leftovers
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zebinst {

class CommandLine {
public:
    CommandLine(std::vector<std::string> args, std::string command);

    const std::string& command() const { return m_command; }
    // True (and taken out) when the flag is there.
    bool flag(const std::string& name);
    // The value of "--name VALUE" or "--name=VALUE" (taken out); nullopt
    // when absent; a usage error when the value is missing.
    std::optional<std::string> option(const std::string& name);
    // The next positional argument; a usage error naming `what` when none is left.
    std::string positional(const char* what);
    std::optional<std::string> optionalPositional();
    // A usage error when an argument is left over.
    void finish() const;

private:
    std::vector<std::string> m_args;
    std::string m_command;
};

} // namespace zebinst
