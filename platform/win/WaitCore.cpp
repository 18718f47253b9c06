#include "platform/win/WaitCore.h"

#include "platform/win/Module.h"

#include <algorithm>
#include <unordered_map>

namespace zeb::detail {

namespace {

// Leaked on purpose: waits and closes may run from thread-local and static
// destructors at exit, after function-local statics would have been destroyed.
struct HandleTable {
    std::unordered_map<uintptr_t, std::shared_ptr<KernelEvent>> events;
    uintptr_t next = 1;
};

HandleTable& handles() {
    static HandleTable* table = new HandleTable;
    return *table;
}

uintptr_t keyOf(HANDLE handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

void wakeAll(KernelEvent& event) {
    for (Waiter* w : event.waiters)
        w->cv.notify_one();
}

} // namespace

std::mutex& kernelMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

Waiter& currentWaiter() {
    thread_local Waiter waiter;
    return waiter;
}

std::shared_ptr<KernelEvent> findEvent(HANDLE handle) {
    auto& table = handles().events;
    auto it = table.find(keyOf(handle));
    return it == table.end() ? nullptr : it->second;
}

DWORD waitForObjects(DWORD count, const HANDLE* handleArray, bool waitAll, DWORD ms,
                     WaitInput* input) {
    if ((count == 0 && !input) || count > MAXIMUM_WAIT_OBJECTS || (count && !handleArray)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const auto start = Clock::now();
    const std::optional<Clock::time_point> deadline =
        ms == INFINITE ? std::nullopt
                       : std::optional<Clock::time_point>(start + std::chrono::milliseconds(ms));

    std::unique_lock lock(kernelMutex());
    std::vector<std::shared_ptr<KernelEvent>> events;
    events.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto event = findEvent(handleArray[i]);
        if (!event) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (waitAll && std::find(events.begin(), events.end(), event) != events.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        events.push_back(std::move(event));
    }

    Waiter& self = currentWaiter();
    for (auto& e : events)
        e->waiters.push_back(&self);
    if (input) input->attach(&self);

    auto consume = [](KernelEvent& e) {
        if (!e.manualReset) e.signalled = false;
    };
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        const auto now = Clock::now();
        if (waitAll) {
            const bool all = std::all_of(events.begin(), events.end(),
                                         [](const auto& e) { return e->signalled; });
            if (all && (!input || input->ready(now))) {
                for (auto& e : events)
                    consume(*e);
                result = WAIT_OBJECT_0;
                break;
            }
        } else {
            auto it = std::find_if(events.begin(), events.end(),
                                   [](const auto& e) { return e->signalled; });
            if (it != events.end()) {
                consume(**it);
                result = WAIT_OBJECT_0 + static_cast<DWORD>(it - events.begin());
                break;
            }
            if (input && input->ready(now)) {
                result = WAIT_OBJECT_0 + count;
                break;
            }
        }
        if (deadline && now >= *deadline) break;
        std::optional<Clock::time_point> wake = deadline;
        if (input) {
            if (auto due = input->nextDue(); due && (!wake || *due < *wake)) wake = due;
        }
        if (wake)
            self.cv.wait_until(lock, *wake);
        else
            self.cv.wait(lock);
    }

    for (auto& e : events)
        std::erase(e->waiters, &self);
    if (input) input->detach();
    return result;
}

} // namespace zeb::detail

using namespace zeb::detail;

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<KernelEvent>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    std::lock_guard lock(kernelMutex());
    auto& table = handles();
    // Handle values are never reused, so a stale handle cannot reach a newer event.
    const uintptr_t key = table.next++ << 2;
    table.events.emplace(key, std::move(event));
    return reinterpret_cast<HANDLE>(key);
}

BOOL SetEvent(HANDLE handle) {
    std::lock_guard lock(kernelMutex());
    auto event = findEvent(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signalled = true;
    wakeAll(*event);
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    std::lock_guard lock(kernelMutex());
    auto event = findEvent(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signalled = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelEvent> released; // freed after the lock is dropped
    std::lock_guard lock(kernelMutex());
    auto& table = handles().events;
    auto it = table.find(keyOf(handle));
    if (it == table.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    released = std::move(it->second);
    table.erase(it);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD ms) {
    return waitForObjects(1, &object, false, ms, nullptr);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handleArray, BOOL waitAll, DWORD ms) {
    return waitForObjects(count, handleArray, waitAll != FALSE, ms, nullptr);
}
