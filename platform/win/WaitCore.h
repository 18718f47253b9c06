// Shared machinery of the wait functions (internal to platform/win).
//
// Invariants:
// 1. kernelMutex() guards every event's state and waiter list, the handle
//    table and every thread message queue (MessageQueue.cpp). One lock keeps
//    "test every object, then sleep" atomic, so no signal is lost between the
//    test and the sleep, and wait-all can reset several events at once.
// 2. A thread sleeps only on its own Waiter, and only while registered in the
//    waiter list of everything it waits for; whoever changes such an object
//    notifies the registered waiters while holding the lock.
// 3. Events live as long as a handle or a running wait refers to them
//    (shared_ptr), so CloseHandle during a wait cannot free a waited object.
#pragma once

#include "platform/win/Threading.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zeb::detail {

using Clock = std::chrono::steady_clock;

std::mutex& kernelMutex();

// One per thread; waits on it always use kernelMutex().
struct Waiter {
    std::condition_variable cv;
};
Waiter& currentWaiter();

struct KernelEvent {
    bool manualReset = false;
    bool signalled = false;
    std::vector<Waiter*> waiters; // threads now waiting on this event
};

// REQUIRES: kernelMutex() held. Null when the handle is not a live event.
std::shared_ptr<KernelEvent> findEvent(HANDLE handle);

// The calling thread's message queue, as seen by a wait. All members are
// called with kernelMutex() held.
class WaitInput {
public:
    virtual bool ready(Clock::time_point now) = 0;          // input is there
    virtual std::optional<Clock::time_point> nextDue() = 0; // when input appears by itself
    virtual void attach(Waiter* waiter) = 0;                // wake `waiter` on new input
    virtual void detach() = 0;

protected:
    ~WaitInput() = default;
};

// The common wait. With `input`, also returns WAIT_OBJECT_0 + count when
// input is ready (wait-any) or requires it besides all objects (wait-all).
DWORD waitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD ms, WaitInput* input);

} // namespace zeb::detail
