#include "platform/win/MessageQueue.h"

#include "platform/win/Module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Timer procedures are plain functions; they record into these (each test
// resets them and runs its timers on its own thread).
thread_local std::vector<UINT_PTR> t_fired;
void recordTimer(HWND, UINT message, UINT_PTR id, DWORD) {
    if (message == WM_TIMER) t_fired.push_back(id);
}

// Pumps this thread's messages for `ms`, dispatching everything.
void pumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now),
                                      QS_ALLINPUT) == WAIT_OBJECT_0) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}

} // namespace

TEST(MessageQueue, MessagesPostedFromAnotherThreadArriveInOrderThenQuit) {
    std::atomic<DWORD> receiverId{0};
    std::vector<MSG> received;
    int exitCode = -1;
    std::thread receiver([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // creates the queue
        receiverId = GetCurrentThreadId();
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            received.push_back(msg);
        exitCode = static_cast<int>(msg.wParam);
    });
    while (receiverId == 0)
        Sleep(1);
    EXPECT_TRUE(PostThreadMessageW(receiverId, WM_USER + 1, 10, -1));
    EXPECT_TRUE(PostThreadMessageW(receiverId, WM_USER + 2, 20, 0));
    EXPECT_TRUE(PostThreadMessageW(receiverId, WM_QUIT, 3, 0));
    receiver.join();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].message, WM_USER + 1);
    EXPECT_EQ(received[0].wParam, 10u);
    EXPECT_EQ(received[0].lParam, -1);
    EXPECT_EQ(received[1].message, WM_USER + 2);
    EXPECT_EQ(exitCode, 3);

    EXPECT_FALSE(PostThreadMessageW(receiverId, WM_USER, 0, 0)) << "the thread has ended";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(MessageQueue, PeekCanLeaveAMessageAndFiltersByRange) {
    std::thread([] {
        const DWORD me = GetCurrentThreadId();
        MSG msg;
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        PostThreadMessageW(me, WM_USER + 5, 0, 0);
        PostThreadMessageW(me, WM_APP, 0, 0);
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, WM_USER + 5);
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP);
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_USER + 5);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        PostQuitMessage(9);
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE))
            << "WM_QUIT ignores filters";
        EXPECT_EQ(msg.message, WM_QUIT);
        EXPECT_EQ(msg.wParam, 9u);
    }).join();
}

TEST(ThreadTimers, FireThroughTheOwnersMessageLoopAndStopWhenKilled) {
    std::thread([] {
        t_fired.clear();
        const UINT_PTR id = SetTimer(nullptr, 0, 20, &recordTimer);
        ASSERT_NE(id, 0u);
        pumpFor(130);
        const size_t count = t_fired.size();
        EXPECT_GE(count, 2u);
        EXPECT_LE(count, 7u);
        for (UINT_PTR fired : t_fired)
            EXPECT_EQ(fired, id);
        EXPECT_TRUE(KillTimer(nullptr, id));
        pumpFor(60);
        EXPECT_EQ(t_fired.size(), count);
        EXPECT_FALSE(KillTimer(nullptr, id));
    }).join();
}

TEST(ThreadTimers, ElapsedPeriodsAreCoalescedIntoOneMessage) {
    std::thread([] {
        t_fired.clear();
        const UINT_PTR id = SetTimer(nullptr, 0, 50, &recordTimer);
        Sleep(400); // eight periods pass without a message loop
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        EXPECT_EQ(t_fired.size(), 1u);
        KillTimer(nullptr, id);
    }).join();
}

TEST(ThreadTimers, AKillFromAnotherThreadStopsTheTimer) {
    std::atomic<UINT_PTR> id{0};
    std::thread owner([&] {
        t_fired.clear();
        id = SetTimer(nullptr, 0, 40, &recordTimer);
        pumpFor(120);
        EXPECT_TRUE(t_fired.empty());
    });
    while (id == 0)
        Sleep(1);
    EXPECT_TRUE(KillTimer(nullptr, id));
    owner.join();
}

TEST(ThreadTimers, AForgedTimerMessageCallsNothing) {
    std::thread([] {
        t_fired.clear();
        const UINT_PTR id = SetTimer(nullptr, 0, 100000, &recordTimer);
        MSG forged{nullptr, WM_TIMER, id + 1, reinterpret_cast<LPARAM>(&recordTimer), 0};
        DispatchMessageW(&forged);
        forged.wParam = id;
        forged.lParam = 0x1234; // not the timer's procedure
        DispatchMessageW(&forged);
        EXPECT_TRUE(t_fired.empty());
        forged.lParam = reinterpret_cast<LPARAM>(&recordTimer);
        DispatchMessageW(&forged);
        EXPECT_EQ(t_fired.size(), 1u);
        KillTimer(nullptr, id);
    }).join();
}

TEST(MsgWait, WakesForASignalledEventAPostedMessageOrADueTimer) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> waiterId{0};
    std::vector<DWORD> results;
    std::atomic<int> step{0};
    std::thread waiter([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        waiterId = GetCurrentThreadId();
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_ALLINPUT), WAIT_TIMEOUT);
        step = 1;
        results.push_back(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT));
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        step = 2;
        results.push_back(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT));
        ResetEvent(event);
        const UINT_PTR timer = SetTimer(nullptr, 0, 30, nullptr);
        results.push_back(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT));
        results.push_back(MsgWaitForMultipleObjects(1, &event, FALSE, 60, QS_POSTMESSAGE));
        KillTimer(nullptr, timer);
    });
    while (step != 1)
        Sleep(1);
    Sleep(10);
    PostThreadMessageW(waiterId, WM_USER, 0, 0);
    while (step != 2)
        Sleep(1);
    Sleep(10);
    SetEvent(event);
    waiter.join();
    EXPECT_EQ(results, (std::vector<DWORD>{WAIT_OBJECT_0 + 1, WAIT_OBJECT_0, WAIT_OBJECT_0 + 1,
                                           WAIT_TIMEOUT}));
    CloseHandle(event);
}
