// Threads, critical sections, events and the tick count.
//
// CRITICAL_SECTION is re-entrant and records its owning thread, so a waiter
// can say whom it waits for. Events are manual- or auto-reset kernel objects
// named by a HANDLE; every wait function here and MsgWaitForMultipleObjects
// (MessageQueue.h) wait on them.
//
// Thread safety: every function may be called from any thread. Handles are
// checked: a closed or made-up handle gives WAIT_FAILED / FALSE with
// ERROR_INVALID_HANDLE as the thread's last error, never a crash. Closing a
// handle while another thread waits on it is safe; that wait goes on until it
// is satisfied or times out.
//
//   HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr); // manual, not set
//   std::thread worker([&] { work(); SetEvent(done); });
//   if (WaitForSingleObject(done, 5000) == WAIT_TIMEOUT) { ... }
//   worker.join();
//   CloseHandle(done);
#pragma once

#include "platform/win/WinTypes.h"

#include <atomic>
#include <mutex>

DWORD GetCurrentThreadId(); // small, stable per thread, never 0
DWORD GetTickCount();       // milliseconds since an arbitrary start, wrapping at 2^32
ULONGLONG GetTickCount64(); // the same count without the wrap
void Sleep(DWORD ms);       // INFINITE sleeps for ever

struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
    std::atomic<DWORD> OwningThread{0}; // thread id of the owner, 0 when free
    LONG RecursionCount = 0;            // written only by the owner
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

// Initialize/Delete only reset the bookkeeping: the object is a C++ object
// whose lifetime is that of its storage. Leaving a section that the calling
// thread does not own is ignored (it would corrupt the mutex).
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Events. Only unnamed events exist: a non-null name fails with
// ERROR_NOT_SUPPORTED. `security` is ignored.
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE object);

// Waits. An auto-reset event that satisfies a wait is reset by it, so one
// SetEvent releases exactly one waiter. Wait-any returns WAIT_OBJECT_0 + the
// lowest index of a signalled handle; wait-all returns WAIT_OBJECT_0 once all
// are signalled at the same moment (and resets the auto-reset ones together).
// 0 or more than MAXIMUM_WAIT_OBJECTS handles, or one handle twice in a
// wait-all, fail with ERROR_INVALID_PARAMETER.
DWORD WaitForSingleObject(HANDLE object, DWORD ms);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
