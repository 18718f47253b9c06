// Runs a child scenario (ChildScenario.h) with its traces released into a
// fresh trace file and gives back the lines written: the module's trace
// contexts exist once per process, so traces through trace() are seen so.
//
//   auto run = zeb::test::runTraced("failCall");      // ZEB_CHILD_SCENARIO(failCall)
//   EXPECT_EQ(run.linesWith("error calling").size(), 1u);
#pragma once

#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zeb::test {

struct TracedRun {
    int exitCode = -1;
    std::string output, text; // the scenario's result, the whole trace
    std::vector<std::string> lines;

    std::vector<std::string> linesWith(const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& line : lines)
            if (line.find(part) != std::string::npos) found.push_back(line);
        return found;
    }
};

// `levels` becomes the child's $ZEB_TRACE; `env` adds or replaces variables.
// The child has a registry file of its own.
inline TracedRun runTraced(const std::string& scenario, const std::string& levels = "all",
                           std::vector<std::pair<std::string, std::string>> env = {}) {
    TempDir dir;
    env.insert(env.begin(), {{"ZEB_TRACE", levels},
                             {"ZEB_TRACE_FILE", dir.file("trace.txt")},
                             {"ZEB_REGISTRY", dir.file("registry.reg")}});
    ChildResult child = runChildScenario(scenario, env);
    TracedRun run{child.exitCode, child.output, readFile(dir.file("trace.txt")), {}};
    std::istringstream in(run.text);
    for (std::string line; std::getline(in, line);)
        run.lines.push_back(line);
    return run;
}

} // namespace zeb::test
