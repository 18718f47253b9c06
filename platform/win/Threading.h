// Threads, critical sections, events and the tick count.
//
// CRITICAL_SECTION is re-entrant and records its owning thread, so a waiter
// can say whom it waits for. Events are manual- or auto-reset.
#pragma once

#include "platform/win/WinTypes.h"

#include <atomic>
#include <mutex>

DWORD GetCurrentThreadId(); // small, stable per thread, never 0
DWORD GetTickCount();       // milliseconds since an arbitrary start, wrapping at 2^32
void Sleep(DWORD ms);

struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
    std::atomic<DWORD> OwningThread{0}; // thread id of the owner, 0 when free
    LONG RecursionCount = 0;            // written only by the owner
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
