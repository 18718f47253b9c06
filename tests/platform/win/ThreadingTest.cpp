#include "platform/win/Threading.h"

#include "platform/win/Module.h"
#include "platform/win/WaitCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

TEST(ThreadIds, AreNonZeroStablePerThreadAndDistinct) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mine);
    std::set<DWORD> ids{mine};
    for (int i = 0; i < 4; ++i)
        std::thread([&] { ids.insert(GetCurrentThreadId()); }).join();
    EXPECT_EQ(ids.size(), 5u) << "ids are not reused after a thread ends";
}

TEST(TickCount, AdvancesWithSleep) {
    const ULONGLONG before = GetTickCount64();
    Sleep(30);
    const ULONGLONG elapsed = GetTickCount64() - before;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(static_cast<DWORD>(GetTickCount64()) - GetTickCount(), 0u);
}

TEST(CriticalSection, IsReentrantAndRecordsItsOwner) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    EXPECT_EQ(cs.OwningThread.load(), GetCurrentThreadId());
    EXPECT_EQ(cs.RecursionCount, 2);

    std::thread([&] {
        EXPECT_FALSE(TryEnterCriticalSection(&cs));
        LeaveCriticalSection(&cs); // not the owner: ignored
    }).join();
    EXPECT_EQ(cs.RecursionCount, 2);

    LeaveCriticalSection(&cs);
    EXPECT_EQ(cs.OwningThread.load(), GetCurrentThreadId());
    LeaveCriticalSection(&cs);
    EXPECT_EQ(cs.OwningThread.load(), 0u);
    std::thread([&] {
        EXPECT_TRUE(TryEnterCriticalSection(&cs));
        LeaveCriticalSection(&cs);
    }).join();
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, AWaiterSeesTheOwnerAndGetsInAfterItLeaves) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::atomic<DWORD> ownerSeen{0};
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        if (!TryEnterCriticalSection(&cs)) ownerSeen = cs.OwningThread.load();
        EnterCriticalSection(&cs);
        entered = true;
        LeaveCriticalSection(&cs);
    });
    while (ownerSeen == 0)
        Sleep(1);
    EXPECT_EQ(ownerSeen.load(), GetCurrentThreadId());
    EXPECT_FALSE(entered);
    LeaveCriticalSection(&cs);
    waiter.join();
    EXPECT_TRUE(entered);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    SetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    ResetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(Events, AutoResetReleasesExactlyOneWaiterPerSet) {
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(e, 5000) == WAIT_OBJECT_0) ++released;
        });
    for (int i = 1; i <= 3; ++i) {
        SetEvent(e);
        const ULONGLONG start = GetTickCount64();
        while (released < i && GetTickCount64() - start < 5000)
            Sleep(1);
        Sleep(20); // a second waiter slipping through would show now
        EXPECT_EQ(released.load(), i);
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "the last release reset it";
    CloseHandle(e);
}

TEST(Events, WaitAnyReportsTheLowestSignalledIndexAndWaitAllNeedsEvery) {
    HANDLE h[3] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                   CreateEventW(nullptr, FALSE, FALSE, nullptr),
                   CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    SetEvent(h[2]);
    SetEvent(h[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2) << "h[1] auto-reset";
    EXPECT_EQ(WaitForMultipleObjects(3, h, TRUE, 10), WAIT_TIMEOUT);
    std::thread setter([&] {
        Sleep(20);
        SetEvent(h[0]);
        SetEvent(h[1]);
    });
    EXPECT_EQ(WaitForMultipleObjects(3, h, TRUE, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT) << "wait-all reset the auto-reset event";
    for (HANDLE x : h)
        CloseHandle(x);
}

TEST(Events, BadHandlesAndArgumentsFailCleanly) {
    HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);

    HANDLE f = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE twice[2] = {f, f};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(CreateEventW(nullptr, TRUE, TRUE, u"named"), nullptr);
    CloseHandle(f);
}

TEST(Events, ClosingAHandleDuringAWaitLeavesTheWaitIntact) {
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(e, 200), WAIT_TIMEOUT); });
    for (bool waiting = false; !waiting; Sleep(1)) {
        std::lock_guard lock(zeb::detail::kernelMutex());
        waiting = !zeb::detail::findEvent(e)->waiters.empty();
    }
    EXPECT_TRUE(CloseHandle(e));
    waiter.join();
}
