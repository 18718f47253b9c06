#include "tests/support/ReportingChild.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

extern char** environ;

namespace zeb::test {

ReportingChild startReportingChild(const std::vector<std::pair<std::string, std::string>>& env,
                                   const std::string& reportFdVariable) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    ::fcntl(fds[1], F_SETFD, 0); // the write end goes to the child
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : env)
        vars[key] = value;
    vars[reportFdVariable] = std::to_string(fds[1]);
    std::vector<std::string> entries;
    for (const auto& [key, value] : vars)
        entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string program = "/proc/self/exe";
    std::vector<char*> argv = {program.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ReportingChild child;
    if (::posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) !=
        0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (child.pid > 0)
        child.report = fds[0];
    else
        ::close(fds[0]);
    return child;
}

bool readReportLines(int fd, std::chrono::steady_clock::time_point deadline, std::string& pending,
                     std::vector<std::string>& lines, size_t enough) {
    while (lines.size() < enough) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::max<int64_t>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return true;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending.append(buf, size_t(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, eol));
            pending.erase(0, eol + 1);
        }
    }
    return true;
}

} // namespace zeb::test
