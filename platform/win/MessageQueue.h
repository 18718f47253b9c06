// Thread message queues, thread timers and the message-pumping wait.
//
// Every thread gets a message queue the first time it calls any function of
// this header; from then on other threads can post to it by thread id until
// the thread ends. The only windows are message-only windows (see below):
// a message carries the HWND of its window, or null for a thread message or
// a thread timer. The hwnd filter of GetMessageW/PeekMessageW is that of
// Windows: null takes every message of the thread, (HWND)-1 only messages
// without a window, a window handle only that window's messages.
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
//
// Message-only windows: the way to have code run on a given thread from any
// other one. A window belongs to the thread that created it; PostMessageW to
// it (from any thread) queues the message in that thread's queue, and that
// thread's ordinary message loop hands it to the window procedure through
// DispatchMessageW. Nothing else can call the procedure: DispatchMessageW
// on another thread, or of a message for a destroyed window, does nothing.
//
//   LRESULT CALLBACK onRequest(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
//       if (msg == WM_APP) { ... runs on the window's thread ...; return 0; }
//       return DefWindowProcW(hwnd, msg, w, l);
//   }
//   WNDCLASSEXW wc{}; wc.cbSize = sizeof wc; wc.lpfnWndProc = &onRequest;
//   wc.lpszClassName = u"Requests";
//   RegisterClassExW(&wc);                                  // once per process
//   HWND hwnd = CreateWindowExW(0, u"Requests", u"", 0, 0, 0, 0, 0,
//                               HWND_MESSAGE, nullptr, nullptr, nullptr);
//   ... any thread: PostMessageW(hwnd, WM_APP, 1, 2);
//   ... the owner's loop dispatches it; at the end, on the owner:
//   DestroyWindow(hwnd);
//
// As on Windows: creation sends WM_NCCREATE (FALSE fails it) and WM_CREATE
// (-1 fails it) with a CREATESTRUCTW*; DestroyWindow, only on the owning
// thread, sends WM_DESTROY and WM_NCDESTROY, then the handle is dead and
// messages still queued for it are dropped. Handles are never reused. A
// thread that ends takes its windows with it without calling their
// procedures; posts to them fail from then on. Class names compare without
// regard to ASCII case. Unlike Windows, the only parent accepted is
// HWND_MESSAGE (no other kind of window exists), there are no window timers
// (SetTimer takes no window) and no sent (synchronous) messages.
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
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
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

struct HINSTANCE__;
struct HMENU__;
using HINSTANCE = HINSTANCE__*;
using HMENU = HMENU__*;
using ATOM = WORD;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXW {
    UINT cbSize = 0; // sizeof(WNDCLASSEXW)
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int cbClsExtra = 0;
    int cbWndExtra = 0;
    HINSTANCE hInstance = nullptr;
    void* hIcon = nullptr;
    void* hCursor = nullptr;
    void* hbrBackground = nullptr;
    LPCWSTR lpszMenuName = nullptr;
    LPCWSTR lpszClassName = nullptr;
    void* hIconSm = nullptr;
};

struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy, cx, y, x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

// The parent that makes a window message-only.
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<intptr_t>(-3));

constexpr LONG ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr LONG ERROR_CLASS_ALREADY_EXISTS = 1410;

// Registers a window class for the process: a nonzero atom, or 0 with
// ERROR_INVALID_PARAMETER (no cbSize, procedure or name) or
// ERROR_CLASS_ALREADY_EXISTS.
ATOM RegisterClassExW(const WNDCLASSEXW* wc);
// A message-only window of the class (parent HWND_MESSAGE) owned by the
// calling thread; null with ERROR_CANNOT_FIND_WND_CLASS, ERROR_INVALID_PARAMETER
// (another parent) or when WM_NCCREATE/WM_CREATE refused it.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Only the owning thread may destroy a window (else ERROR_ACCESS_DENIED);
// ERROR_INVALID_WINDOW_HANDLE for a dead or unknown handle.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// TRUE for WM_NCCREATE, else 0.
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queues the message for the window's thread (null: a thread message to the
// calling thread). FALSE with ERROR_INVALID_WINDOW_HANDLE for a dead window,
// ERROR_NOT_ENOUGH_QUOTA when its queue is full.
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// FALSE with ERROR_INVALID_THREAD_ID when the thread has no queue (never
// called a function of this header, or has ended); a thread may always post
// to itself. At most MAX_POSTED_MESSAGES wait in one queue.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Blocks until a message for hwnd (see the filter above) in [filterMin,
// filterMax] (0, 0: any) is there and removes it. Returns 0 for WM_QUIT
// (retrieved whatever the filters), -1 for a null msg or a window handle
// that names no live window, else nonzero.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Like GetMessageW without blocking; TRUE when a message was there.
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg); // nothing to translate: FALSE
// A message for a live window of the calling thread: its procedure's
// result. A WM_TIMER without window: the timer procedure as said above.
// Anything else: 0, nothing called.
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
