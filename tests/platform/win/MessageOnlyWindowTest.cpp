// Message-only windows: a request posted from any thread runs in the window
// procedure on the window's own thread, through that thread's ordinary
// message loop, and nowhere else.
#include "platform/win/MessageQueue.h"

#include "platform/win/Module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Call {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

// Every window of these tests records into one list (guarded: windows of
// several threads), and WM_CREATE answers what the create parameter asks.
std::mutex g_callsLock;
std::vector<Call> g_calls;

LRESULT recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(g_callsLock);
        g_calls.push_back(Call{hwnd, message, wParam, lParam, GetCurrentThreadId()});
    }
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (create->lpCreateParams) return *static_cast<const LRESULT*>(create->lpCreateParams);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::vector<Call> takeCalls() {
    std::lock_guard lock(g_callsLock);
    return std::exchange(g_calls, {});
}

std::vector<UINT> messagesOf(const std::vector<Call>& calls) {
    std::vector<UINT> out;
    for (const Call& c : calls)
        out.push_back(c.message);
    return out;
}

// Registers the recording class under `name` once per process.
void registerClass(const char16_t* name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &recordingProc;
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
    }
}

HWND makeWindow(const char16_t* cls, LRESULT* createAnswer = nullptr) {
    return CreateWindowExW(0, cls, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                           createAnswer);
}

void pumpPosted() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

} // namespace

TEST(MessageOnlyWindow, APostedRequestRunsOnTheWindowsThreadThroughItsLoopOnly) {
    registerClass(u"RequestWindow");
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> posted{false};
    DWORD ownerId = 0;
    std::thread owner([&] {
        ownerId = GetCurrentThreadId();
        window = makeWindow(u"requestwindow"); // class names ignore ASCII case
        while (!posted)
            Sleep(1);
        MSG msg;
        ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
        EXPECT_EQ(msg.hwnd, window.load());
        EXPECT_EQ(DispatchMessageW(&msg), 0);
        EXPECT_TRUE(DestroyWindow(window));
    });
    while (!window)
        Sleep(1);
    takeCalls();
    ASSERT_TRUE(PostMessageW(window, WM_APP + 3, 11, 22));
    // Dispatched here, a message for another thread's window calls nothing.
    MSG forged{window, WM_APP + 3, 11, 22, 0};
    EXPECT_EQ(DispatchMessageW(&forged), 0);
    EXPECT_TRUE(takeCalls().empty());
    posted = true;
    owner.join();
    const auto calls = takeCalls();
    ASSERT_EQ(messagesOf(calls), (std::vector<UINT>{WM_APP + 3, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(calls[0].thread, ownerId);
    EXPECT_EQ(calls[0].wParam, 11u);
    EXPECT_EQ(calls[0].lParam, 22);
    // The handle is dead for good.
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(MessageOnlyWindow, CreationAndDestructionSendWhatWindowsSends) {
    registerClass(u"LifeWindow");
    std::thread([] {
        takeCalls();
        LRESULT refuse = -1;
        EXPECT_EQ(makeWindow(u"LifeWindow", &refuse), nullptr) << "WM_CREATE answered -1";
        EXPECT_EQ(messagesOf(takeCalls()),
                  (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));

        int marker = 5;
        LRESULT accept = 0;
        HWND hwnd = CreateWindowExW(0, u"LifeWindow", u"name", 0, 1, 2, 3, 4, HWND_MESSAGE, nullptr,
                                    nullptr, &accept);
        ASSERT_NE(hwnd, nullptr);
        auto calls = takeCalls();
        ASSERT_EQ(messagesOf(calls), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
        EXPECT_TRUE(IsWindow(hwnd));

        // Only the owner may destroy it.
        std::thread([&] {
            EXPECT_FALSE(DestroyWindow(hwnd));
            EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        }).join();
        // Messages still queued for it are dropped with it.
        ASSERT_TRUE(PostMessageW(hwnd, WM_APP, marker, 0));
        EXPECT_TRUE(DestroyWindow(hwnd));
        EXPECT_EQ(messagesOf(takeCalls()), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
        MSG msg;
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_FALSE(DestroyWindow(hwnd));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    }).join();

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &recordingProc;
    wc.lpszClassName = u"LIFEWINDOW";
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(makeWindow(u"NoSuchClass"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(
        CreateWindowExW(0, u"LifeWindow", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
        nullptr)
        << "only message-only windows exist";
}

TEST(MessageOnlyWindow, TheWindowFilterSelectsWindowOrThreadMessages) {
    registerClass(u"FilterWindow");
    std::thread([] {
        HWND hwnd = makeWindow(u"FilterWindow");
        ASSERT_NE(hwnd, nullptr);
        const HWND threadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
        PostMessageW(hwnd, WM_APP + 2, 0, 0);
        PostMessageW(nullptr, WM_APP + 3, 0, 0); // a thread message to oneself
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP + 2u);
        EXPECT_EQ(msg.hwnd, hwnd);
        EXPECT_FALSE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
        ASSERT_TRUE(PeekMessageW(&msg, threadOnly, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP + 1u);
        PostMessageW(hwnd, WM_APP + 4, 0, 0);
        ASSERT_TRUE(PeekMessageW(&msg, threadOnly, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP + 3u);
        EXPECT_EQ(msg.hwnd, nullptr);
        EXPECT_FALSE(PeekMessageW(&msg, threadOnly, 0, 0, PM_REMOVE));
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_APP + 4u);
        DestroyWindow(hwnd);
        EXPECT_EQ(GetMessageW(&msg, hwnd, 0, 0), -1) << "a dead window as filter";
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    }).join();
    takeCalls();
}

TEST(MessageOnlyWindow, AThreadThatEndsTakesItsWindowsAlong) {
    registerClass(u"OrphanWindow");
    HWND hwnd = nullptr;
    std::thread([&] { hwnd = makeWindow(u"OrphanWindow"); }).join();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    pumpPosted();
    takeCalls();
}
