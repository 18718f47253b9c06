// The traced locks: CCoCriticalSection and CCoSynchronize.
#include "co/CCoCriticalSection.h"
#include "co/CCoSynchronize.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using zeb::test::runChildScenario;
using zeb::test::TempDir;

namespace {

std::string hex(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", id);
    return text;
}

// Waits until the trace file holds `text` (at most about ten seconds).
bool waitForTrace(const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
        if (zeb::test::readFile(std::getenv("ZEB_TRACE_FILE")).find(text) != std::string::npos)
            return true;
        Sleep(10);
    }
    return false;
}

// Takes a section without contention (once plainly, once re-entrantly), then
// lets a second thread run into it while this thread owns it. `enter` and
// `leave` apply the lock under test. Returns "<this thread> <other thread>".
template <class Enter, class Leave> std::string contend(Enter enter, Leave leave) {
    enter();
    enter();
    leave();
    leave();

    enter();
    DWORD other = 0;
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        other = GetCurrentThreadId();
        enter();
        got = true;
        leave();
    });
    bool traced = waitForTrace("is waiting for thread");
    bool early = got; // the waiter must not get in while we own the section
    leave();
    waiter.join();
    if (!traced || early) return "failed";
    return hex(GetCurrentThreadId()) + " " + hex(other);
}

ZEB_CHILD_SCENARIO(contendCriticalSection) {
    CCoCriticalSection section;
    section.Init();
    std::string out = contend([&] { section.Lock(); }, [&] { section.Unlock(); });
    section.Term();
    return out;
}

ZEB_CHILD_SCENARIO(contendSynchronize) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    // Each thread keeps its own stack of scoped locks.
    static thread_local std::vector<std::unique_ptr<CCoSynchronize>> held;
    std::string out = contend([&] { held.push_back(std::make_unique<CCoSynchronize>(&section)); },
                              [] { held.pop_back(); });
    DeleteCriticalSection(&section);
    return out;
}

// The lines of the trace file that come from the lock code.
std::vector<std::string> lockTraces(const std::string& file) {
    std::vector<std::string> lines;
    std::istringstream in(zeb::test::readFile(file));
    for (std::string line; std::getline(in, line);)
        if (line.find("co_lock") != std::string::npos) lines.push_back(line);
    return lines;
}

void expectTwoTracesOfTheWait(const std::string& scenario, const std::string& function) {
    TempDir dir;
    const std::string traceFile = dir.file("trace.txt");
    auto result = runChildScenario(scenario, {{"ZEB_TRACE", "1"}, {"ZEB_TRACE_FILE", traceFile}});
    ASSERT_EQ(result.exitCode, 0);
    ASSERT_NE(result.output, "failed");
    std::istringstream ids(result.output);
    std::string owner, waiter;
    ids >> owner >> waiter;

    // The uncontended and re-entrant entries traced nothing; the blocked one
    // traced exactly its wait and its continuation.
    auto lines = lockTraces(traceFile);
    ASSERT_EQ(lines.size(), 2u) << zeb::test::readFile(traceFile);
    EXPECT_NE(lines[0].find("thread " + waiter + " is waiting for thread " + owner),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("thread " + waiter + " continued"), std::string::npos) << lines[1];
    for (const auto& line : lines)
        EXPECT_NE(line.find(function), std::string::npos) << line;
}

} // namespace

TEST(TracedLock, OnlyABlockedLockTracesItsWaitAndItsContinuation) {
    expectTwoTracesOfTheWait("contendCriticalSection", "CCoCriticalSection::Lock");
}

TEST(TracedLock, ScopedLockTracesABlockedWaitTheSameWay) {
    expectTwoTracesOfTheWait("contendSynchronize",
                             "CCoSynchronize::CCoSynchronize(LPCRITICAL_SECTION)");
}

TEST(TracedLock, ScopedLockHoldsTheSectionUntilItsScopeEnds) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    auto othersCanEnter = [&] {
        BOOL entered = FALSE;
        std::thread([&] {
            entered = TryEnterCriticalSection(&section);
            if (entered) LeaveCriticalSection(&section);
        }).join();
        return entered != FALSE;
    };
    {
        CCoSynchronize lock(&section);
        EXPECT_FALSE(othersCanEnter());
    }
    EXPECT_TRUE(othersCanEnter());
    DeleteCriticalSection(&section);
}

TEST(TracedLock, ScopedLockOnNullDoesNothing) {
    CCoSynchronize outer(nullptr);
    CCoSynchronize inner(nullptr); // would deadlock or crash if it touched anything
    SUCCEED();
}
