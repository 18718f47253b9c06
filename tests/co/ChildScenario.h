// Scenarios that must run in a fresh process: the settings caches and the
// trace contexts are filled once per process, so a test that needs another
// registry or another trace configuration runs its scenario in a new copy of
// this test program.
//
//   ZEB_CHILD_SCENARIO(readConfigDir) {            // runs in the child
//       return CCoBasisEsSettings::configurationDirectory();
//   }
//   TEST(...) {
//       auto r = zeb::test::runChildScenario("readConfigDir", {{"ZEB_REGISTRY", file}});
//       EXPECT_EQ(r.exitCode, 0);
//       EXPECT_EQ(r.output, "/opt/zeb/config");
//   }
//
// The child starts like the test program (all static initialisation done),
// runs the scenario before any test and exits; its returned text becomes
// `output`. A scenario that throws exits with code 3.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zeb::test {

using ChildScenarioBody = std::string (*)();

bool registerChildScenario(const char* name, ChildScenarioBody body);

struct ChildResult {
    int exitCode = -1; // the child's exit status; -1 when it did not exit normally
    std::string output;
};

// Runs the scenario `name` in a new process of this program, with `env`
// added to (or replacing entries of) this process's environment.
ChildResult runChildScenario(const std::string& name,
                             const std::vector<std::pair<std::string, std::string>>& env = {});

} // namespace zeb::test

#define ZEB_CHILD_SCENARIO(name)                                                                   \
    static std::string name##Scenario();                                                           \
    [[maybe_unused]] static const bool name##ScenarioRegistered =                                  \
        ::zeb::test::registerChildScenario(#name, name##Scenario);                                 \
    static std::string name##Scenario()
