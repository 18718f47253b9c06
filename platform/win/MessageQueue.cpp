#include "platform/win/MessageQueue.h"

#include "platform/win/Module.h"
#include "platform/win/WaitCore.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using namespace zeb::detail;

namespace {

struct ThreadTimer {
    UINT_PTR id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
    TIMERPROC proc;
};

bool inFilter(UINT message, UINT filterMin, UINT filterMax) {
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

HWND const kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// The hwnd filter of retrieval: null any, -1 no window, else that window.
bool forWindow(HWND messageWindow, HWND filter) {
    if (!filter) return true;
    if (filter == kThreadMessagesOnly) return messageWindow == nullptr;
    return messageWindow == filter;
}

// One thread's queue. Every member is guarded by kernelMutex().
class ThreadMessageQueue {
public:
    explicit ThreadMessageQueue(DWORD threadId) : m_threadId(threadId) {}

    DWORD threadId() const { return m_threadId; }

    bool post(const MSG& msg) {
        if (m_posted.size() >= MAX_POSTED_MESSAGES) return false;
        m_posted.push_back(msg);
        wake();
        return true;
    }

    void postQuit(int code) {
        m_quit = true;
        m_quitCode = code;
    }

    // Retrieval in Windows order: posted, WM_QUIT, due timers.
    bool take(MSG& out, HWND hwnd, UINT filterMin, UINT filterMax, bool remove,
              Clock::time_point now) {
        auto it = std::find_if(m_posted.begin(), m_posted.end(), [&](const MSG& m) {
            return forWindow(m.hwnd, hwnd) && inFilter(m.message, filterMin, filterMax);
        });
        if (it != m_posted.end()) {
            out = *it;
            if (remove) m_posted.erase(it);
            return true;
        }
        if (m_quit) {
            out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(m_quitCode), 0, GetTickCount()};
            if (remove) m_quit = false;
            return true;
        }
        // Thread timers have no window.
        if (!forWindow(nullptr, hwnd) || !inFilter(WM_TIMER, filterMin, filterMax)) return false;
        ThreadTimer* timer = earliestTimer();
        if (!timer || timer->due > now) return false;
        out = MSG{nullptr, WM_TIMER, timer->id, reinterpret_cast<LPARAM>(timer->proc),
                  GetTickCount()};
        if (remove) timer->due = now + timer->interval;
        return true;
    }

    // A destroyed window's messages are never delivered.
    void dropWindowMessages(HWND hwnd) {
        std::erase_if(m_posted, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    }

    bool postedInputReady() const { return !m_posted.empty() || m_quit; }

    std::optional<Clock::time_point> nextTimerDue() {
        const ThreadTimer* timer = earliestTimer();
        return timer ? std::optional(timer->due) : std::nullopt;
    }

    ThreadTimer* findTimer(UINT_PTR id) {
        auto it = std::find_if(m_timers.begin(), m_timers.end(),
                               [id](const ThreadTimer& t) { return t.id == id; });
        return it == m_timers.end() ? nullptr : &*it;
    }

    void addTimer(const ThreadTimer& timer) { m_timers.push_back(timer); }

    bool removeTimer(UINT_PTR id) {
        const auto removed =
            std::erase_if(m_timers, [id](const ThreadTimer& t) { return t.id == id; });
        if (removed) wake(); // the owner may be sleeping until this timer's due time
        return removed != 0;
    }

    void setWaiter(Waiter* waiter) { m_waiter = waiter; }
    void wake() {
        if (m_waiter) m_waiter->cv.notify_one();
    }

private:
    ThreadTimer* earliestTimer() {
        auto it = std::min_element(m_timers.begin(), m_timers.end(),
                                   [](const auto& a, const auto& b) { return a.due < b.due; });
        return it == m_timers.end() ? nullptr : &*it;
    }

    DWORD m_threadId;
    std::deque<MSG> m_posted;
    bool m_quit = false;
    int m_quitCode = 0;
    std::vector<ThreadTimer> m_timers;
    Waiter* m_waiter = nullptr; // the owner thread while it sleeps for input
};

// Leaked on purpose (see WaitCore.cpp): threads may end during exit.
std::unordered_map<DWORD, std::shared_ptr<ThreadMessageQueue>>& queues() {
    static auto* table = new std::unordered_map<DWORD, std::shared_ptr<ThreadMessageQueue>>;
    return *table;
}

struct WindowClass {
    std::u16string name;
    WNDPROC proc;
    ATOM atom;
};

struct Window {
    DWORD threadId;
    WNDPROC proc;
    bool destroying = false; // WM_DESTROY under way: a second DestroyWindow fails
};

// Leaked like the queues. Guarded by kernelMutex().
std::vector<WindowClass>& windowClasses() {
    static auto* classes = new std::vector<WindowClass>;
    return *classes;
}
std::unordered_map<HWND, Window>& windows() {
    static auto* table = new std::unordered_map<HWND, Window>;
    return *table;
}

bool sameClassName(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// REQUIRES: kernelMutex() held.
const Window* findWindow(HWND hwnd) {
    auto it = windows().find(hwnd);
    return it == windows().end() ? nullptr : &it->second;
}

// Registers the thread's queue on first use and removes it when the thread
// ends, so later posts to the thread fail instead of piling up.
class QueueRegistration {
public:
    QueueRegistration() : m_queue(std::make_shared<ThreadMessageQueue>(GetCurrentThreadId())) {
        std::lock_guard lock(kernelMutex());
        queues()[m_queue->threadId()] = m_queue;
    }
    ~QueueRegistration() {
        std::lock_guard lock(kernelMutex());
        queues().erase(m_queue->threadId());
        // The thread's windows end with it.
        std::erase_if(windows(), [&](const auto& entry) {
            return entry.second.threadId == m_queue->threadId();
        });
    }
    ThreadMessageQueue& queue() { return *m_queue; }

private:
    std::shared_ptr<ThreadMessageQueue> m_queue;
};

// REQUIRES: kernelMutex() not held (the first call registers the queue).
ThreadMessageQueue& myQueue() {
    thread_local QueueRegistration registration;
    return registration.queue();
}

// The queue as one more object of a wait, seen through a wake mask.
class MaskedInput final : public WaitInput {
public:
    MaskedInput(ThreadMessageQueue& queue, DWORD mask) : m_queue(queue), m_mask(mask) {}

    bool ready(Clock::time_point now) override {
        if ((m_mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && m_queue.postedInputReady())
            return true;
        if (m_mask & QS_TIMER) {
            auto due = m_queue.nextTimerDue();
            return due && *due <= now;
        }
        return false;
    }
    std::optional<Clock::time_point> nextDue() override {
        return (m_mask & QS_TIMER) ? m_queue.nextTimerDue() : std::nullopt;
    }
    void attach(Waiter* waiter) override { m_queue.setWaiter(waiter); }
    void detach() override { m_queue.setWaiter(nullptr); }

private:
    ThreadMessageQueue& m_queue;
    DWORD m_mask;
};

std::atomic<UINT_PTR> g_nextTimerId{1};
// Window handles are never reused: a handle kept after DestroyWindow names nothing.
std::atomic<uintptr_t> g_nextWindow{0x10000};
ATOM g_nextAtom = 0xC000; // guarded by kernelMutex()

// A hwnd filter of retrieval is valid when null, -1 or a live window.
bool validFilter(HWND hwnd) {
    if (!hwnd || hwnd == kThreadMessagesOnly) return true;
    std::lock_guard lock(kernelMutex());
    return findWindow(hwnd) != nullptr;
}

} // namespace

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    if (threadId == GetCurrentThreadId()) myQueue(); // posting to oneself needs no earlier call
    std::lock_guard lock(kernelMutex());
    auto it = queues().find(threadId);
    if (it == queues().end()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (!it->second->post(MSG{nullptr, message, wParam, lParam, GetTickCount()})) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return TRUE;
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd) return PostThreadMessageW(GetCurrentThreadId(), message, wParam, lParam);
    std::lock_guard lock(kernelMutex());
    const Window* window = findWindow(hwnd);
    auto it = window ? queues().find(window->threadId) : queues().end();
    if (it == queues().end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!it->second->post(MSG{hwnd, message, wParam, lParam, GetTickCount()})) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return TRUE;
}

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXW) || !wc->lpfnWndProc || !wc->lpszClassName ||
        !*wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(kernelMutex());
    for (const WindowClass& c : windowClasses())
        if (sameClassName(c.name, wc->lpszClassName)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    windowClasses().push_back(WindowClass{wc->lpszClassName, wc->lpfnWndProc, g_nextAtom});
    return g_nextAtom++;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    if (parent != HWND_MESSAGE || !className) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    myQueue(); // the window's messages go to this thread's queue
    WNDPROC proc = nullptr;
    HWND hwnd = nullptr;
    {
        std::lock_guard lock(kernelMutex());
        for (const WindowClass& c : windowClasses())
            if (sameClassName(c.name, className)) proc = c.proc;
        if (!proc) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        hwnd = reinterpret_cast<HWND>(g_nextWindow.fetch_add(1));
        windows()[hwnd] = Window{GetCurrentThreadId(), proc};
    }
    CREATESTRUCTW create{param, instance, menu,        parent,     height,    width,
                         y,     x,        LONG(style), windowName, className, exStyle};
    const LPARAM lParam = reinterpret_cast<LPARAM>(&create);
    if (!proc(hwnd, WM_NCCREATE, 0, lParam) || proc(hwnd, WM_CREATE, 0, lParam) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
    WNDPROC proc = nullptr;
    {
        std::lock_guard lock(kernelMutex());
        const Window* window = findWindow(hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        windows()[hwnd].destroying = true;
        proc = window->proc;
    }
    // The window is still alive while it hears of its end.
    proc(hwnd, WM_DESTROY, 0, 0);
    proc(hwnd, WM_NCDESTROY, 0, 0);
    ThreadMessageQueue& queue = myQueue();
    std::lock_guard lock(kernelMutex());
    windows().erase(hwnd);
    queue.dropWindowMessages(hwnd);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    std::lock_guard lock(kernelMutex());
    return findWindow(hwnd) ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_NCCREATE ? TRUE : 0;
}

void PostQuitMessage(int exitCode) {
    ThreadMessageQueue& queue = myQueue();
    std::lock_guard lock(kernelMutex());
    queue.postQuit(exitCode);
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    ThreadMessageQueue& queue = myQueue();
    if (!validFilter(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    Waiter& self = currentWaiter();
    std::unique_lock lock(kernelMutex());
    for (;;) {
        if (queue.take(*msg, hwnd, filterMin, filterMax, true, Clock::now()))
            return msg->message == WM_QUIT ? 0 : 1;
        queue.setWaiter(&self);
        auto due = forWindow(nullptr, hwnd) && inFilter(WM_TIMER, filterMin, filterMax)
                       ? queue.nextTimerDue()
                       : std::nullopt;
        if (due)
            self.cv.wait_until(lock, *due);
        else
            self.cv.wait(lock);
        queue.setWaiter(nullptr);
    }
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadMessageQueue& queue = myQueue();
    if (!validFilter(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernelMutex());
    return queue.take(*msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0,
                      Clock::now())
               ? TRUE
               : FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) return 0;
    if (msg->hwnd) {
        // No window timers exist: a WM_TIMER naming a procedure has none to call.
        if (msg->message == WM_TIMER && msg->lParam != 0) return 0;
        WNDPROC proc = nullptr;
        {
            std::lock_guard lock(kernelMutex());
            const Window* window = findWindow(msg->hwnd);
            if (window && window->threadId == GetCurrentThreadId()) proc = window->proc;
        }
        // Called without the lock: the procedure may post, create or destroy.
        return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
    }
    if (msg->message != WM_TIMER || msg->lParam == 0) return 0;
    ThreadMessageQueue& queue = myQueue();
    TIMERPROC proc = nullptr;
    {
        std::lock_guard lock(kernelMutex());
        const ThreadTimer* timer = queue.findTimer(msg->wParam);
        if (timer && reinterpret_cast<LPARAM>(timer->proc) == msg->lParam) proc = timer->proc;
    }
    // Called without the lock: the procedure may post, set or kill timers.
    if (proc) proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (hwnd) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const auto interval =
        std::chrono::milliseconds(std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    ThreadMessageQueue& queue = myQueue();
    std::lock_guard lock(kernelMutex());
    const auto due = Clock::now() + interval;
    if (ThreadTimer* existing = id ? queue.findTimer(id) : nullptr) {
        existing->interval = interval;
        existing->due = due;
        existing->proc = proc;
        return id;
    }
    UINT_PTR newId = g_nextTimerId.fetch_add(1);
    if (newId == 0) newId = g_nextTimerId.fetch_add(1);
    queue.addTimer(ThreadTimer{newId, interval, due, proc});
    return newId;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (hwnd) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernelMutex());
    for (auto& [threadId, queue] : queues())
        if (queue->removeTimer(id)) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask) {
    MaskedInput input(myQueue(), wakeMask);
    return waitForObjects(count, handles, waitAll != FALSE, ms, &input);
}
