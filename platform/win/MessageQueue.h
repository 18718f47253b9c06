// Thread message queues, thread timers and the message-pumping wait.
//
// Every thread gets a message queue the first time it calls any function of
// this header; from then on other threads can post to it by thread id until
// the thread ends. There are no windows: every message carries a null HWND,
// and the hwnd filters accept only null (any message) or (HWND)-1 (thread
// messages, i.e. the same).
//
// Retrieval order is that of Windows: posted messages first (oldest first),
// then WM_QUIT once PostQuitMessage was called and nothing else is posted,
// then WM_TIMER for a due timer. Timer messages are never queued: a due
// timer is reported by the owning thread's GetMessage/PeekMessage/
// MsgWaitForMultipleObjects, so however many periods elapsed, one WM_TIMER
// is delivered (coalesced) and the next period starts when it is removed.
//
// Thread timers (no window) belong to the thread that called SetTimer and
// fire only through that thread's message retrieval: DispatchMessageW of a
// WM_TIMER calls the TIMERPROC on that thread. Timer ids are unique in the
// process. DispatchMessageW calls a TIMERPROC only when the message names a
// live timer of the calling thread with that very procedure, so a forged
// WM_TIMER posted by anyone cannot make it call an arbitrary address, and a
// timer killed after its message was retrieved does not fire.
//
// A message loop with a timer:
//
//   UINT_PTR id = SetTimer(nullptr, 0, 120000, &onTimer);
//   MSG msg;
//   while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
//       TranslateMessage(&msg);
//       DispatchMessageW(&msg); // calls onTimer(nullptr, WM_TIMER, id, time)
//   }
//   KillTimer(nullptr, id);
#pragma once

#include "platform/win/Threading.h"
#include "platform/win/WinTypes.h"

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0; // GetTickCount() when posted (for WM_TIMER: when retrieved)
};
using LPMSG = MSG*;

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

constexpr DWORD QS_KEY = 0x0001;
constexpr DWORD QS_MOUSEMOVE = 0x0002;
constexpr DWORD QS_MOUSEBUTTON = 0x0004;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_PAINT = 0x0020;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_HOTKEY = 0x0080;
constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
constexpr DWORD QS_RAWINPUT = 0x0400;
constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
constexpr DWORD QS_ALLINPUT = QS_ALLEVENTS | QS_SENDMESSAGE;

constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;
constexpr UINT MAX_POSTED_MESSAGES = 10000; // per queue; more fails with ERROR_NOT_ENOUGH_QUOTA

// FALSE with ERROR_INVALID_THREAD_ID when the thread has no queue (never
// called a function of this header, or has ended); a thread may always post
// to itself. At most MAX_POSTED_MESSAGES wait in one queue.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Blocks until a message in [filterMin, filterMax] (0, 0: any) is there and
// removes it. Returns 0 for WM_QUIT (retrieved whatever the filter), -1 for
// a null msg or a real window handle, else nonzero.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Like GetMessageW without blocking; TRUE when a message was there.
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg); // nothing to translate: FALSE
LRESULT DispatchMessageW(const MSG* msg);

// hwnd must be null. An id naming a live timer of this thread resets that
// timer; otherwise a new id is made. elapse is clamped to
// [USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM]. 0 on failure.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
// Stops the timer (of any thread: ids are unique in the process). FALSE
// when there is no such timer.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Waits for the handles (events, Threading.h) or for input in the calling
// thread's queue that wakeMask selects (QS_POSTMESSAGE/QS_ALLPOSTMESSAGE:
// posted messages and WM_QUIT, QS_TIMER: a due timer). Returns
// WAIT_OBJECT_0 + i for a signalled handle (wait-any), WAIT_OBJECT_0 + count
// when such input is available, WAIT_TIMEOUT or WAIT_FAILED. Unlike Windows,
// input counts while it is in the queue, not only when it is new since the
// last look: a loop that waits without emptying the queue does not sleep.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask);
