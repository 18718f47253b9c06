#include "tests/co/ChildScenario.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zeb::test {
namespace {

constexpr const char* kScenarioVar = "ZEB_CHILD_SCENARIO";
constexpr const char* kResultVar = "ZEB_CHILD_SCENARIO_RESULT";

std::map<std::string, ChildScenarioBody>& scenarios() {
    static std::map<std::string, ChildScenarioBody> all;
    return all;
}

// In a child, runs the requested scenario when the tests would start, so
// everything the program initialises is in place, and exits without running
// any test.
class ScenarioEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const char* name = std::getenv(kScenarioVar);
        const char* resultFile = std::getenv(kResultVar);
        if (!name || !resultFile) return;
        auto it = scenarios().find(name);
        if (it == scenarios().end()) std::_Exit(2);
        try {
            writeFile(resultFile, it->second());
        } catch (...) {
            std::_Exit(3);
        }
        std::_Exit(0);
    }
};

[[maybe_unused]] const auto* g_environment =
    ::testing::AddGlobalTestEnvironment(new ScenarioEnvironment);

} // namespace

bool registerChildScenario(const char* name, ChildScenarioBody body) {
    scenarios()[name] = body;
    return true;
}

ChildResult runChildScenario(const std::string& name,
                             const std::vector<std::pair<std::string, std::string>>& env) {
    ChildResult result;
    TempDir dir;
    const std::string resultFile = dir.file("result");

    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        size_t eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : env)
        vars[key] = value;
    vars[kScenarioVar] = name;
    vars[kResultVar] = resultFile;
    std::vector<std::string> entries;
    for (const auto& [key, value] : vars)
        entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // Any one test lets the child reach the point where environments are set
    // up; the scenario exits before it runs.
    const ::testing::TestInfo* current = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = "--gtest_filter=";
    filter += current ? std::string(current->test_suite_name()) + "." + current->name() : "*";
    std::string program = "/proc/self/exe";
    std::vector<char*> argv = {program.data(), filter.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.output = readFile(resultFile);
    return result;
}

} // namespace zeb::test
