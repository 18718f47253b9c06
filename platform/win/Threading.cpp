#include "platform/win/Threading.h"

#include <sched.h>

#include <cerrno>
#include <ctime>

namespace {

std::atomic<DWORD> g_nextThreadId{1};

} // namespace

DWORD GetCurrentThreadId() {
    // Ids come from a counter, so they stay small and are never reused while
    // the process runs: a message posted to a finished thread cannot reach a
    // newer one that happens to get the same kernel id.
    thread_local const DWORD id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    return id;
}

ULONGLONG GetTickCount64() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u +
           static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

void Sleep(DWORD ms) {
    if (ms == INFINITE) {
        for (;;) {
            timespec hour{3600, 0};
            nanosleep(&hour, nullptr);
        }
    }
    if (ms == 0) {
        sched_yield(); // as on Windows: give up the rest of the time slice
        return;
    }
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec rest{};
    while (nanosleep(&ts, &rest) != 0 && errno == EINTR)
        ts = rest;
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs) return;
    cs->OwningThread.store(0);
    cs->RecursionCount = 0;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    InitializeCriticalSection(cs);
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs) return;
    cs->mutex.lock();
    if (cs->RecursionCount++ == 0) cs->OwningThread.store(GetCurrentThreadId());
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs || !cs->mutex.try_lock()) return FALSE;
    if (cs->RecursionCount++ == 0) cs->OwningThread.store(GetCurrentThreadId());
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs || cs->OwningThread.load() != GetCurrentThreadId()) return;
    // The owner field is cleared before the mutex is released, so another
    // thread never sees itself as waiting for a thread that already left.
    if (--cs->RecursionCount == 0) cs->OwningThread.store(0);
    cs->mutex.unlock();
}
