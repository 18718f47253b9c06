// This test program started again as a child process for the current test
// only, with variables added to its environment and a pipe on which it
// writes report lines ("saved 12\n") for the parent to follow, e.g. to kill
// it at a chosen moment.
//
//   ReportingChild child = startReportingChild({{"ZEB_CHILD_SCENARIO", "writer"}},
//                                              "ZEB_WRITER_REPORT_FD");
//   std::string pending;
//   std::vector<std::string> lines;
//   readReportLines(child.report, Clock::now() + 30s, pending, lines, 1);
//
// The child finds the pipe's write end in the variable named by the parent;
// the child's standard output goes to /dev/null.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zeb::test {

struct ReportingChild {
    pid_t pid = -1;  // -1 when it could not be started
    int report = -1; // the read end of the report pipe
};

ReportingChild startReportingChild(const std::vector<std::pair<std::string, std::string>>& env,
                                   const std::string& reportFdVariable);

// Reads report lines into `lines` until `deadline`, the end of the pipe, or
// (`enough` given) the line that makes `enough`; an unfinished line stays in
// `pending`. False when the pipe ended.
bool readReportLines(int fd, std::chrono::steady_clock::time_point deadline, std::string& pending,
                     std::vector<std::string>& lines, size_t enough = SIZE_MAX);

} // namespace zeb::test
