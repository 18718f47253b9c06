// Lock and object counts of one module (the program, libzebcom.so, or one
// plugin library), and the answer to "may this module be unloaded now?".
//
//   extern "C" HRESULT DllCanUnloadNow() { return zeb::thisModule().canUnloadNow(); }
//
// Every object built on zeb::ComObject counts itself while it lives; every
// reference to a zeb::ClassFactory and every LockServer(TRUE) holds a lock.
// The module may be unloaded when both counts are zero.
//
// thisModule() has hidden visibility: each shared library and the program get
// their own counter, even though the code comes from this one header.
// Thread safety: all operations are atomic and may be called from any thread.
#pragma once

#include "platform/win/WinTypes.h"

#include <atomic>

namespace zeb {

class ModuleCounter {
public:
    constexpr ModuleCounter() noexcept = default;
    ModuleCounter(const ModuleCounter&) = delete;
    ModuleCounter& operator=(const ModuleCounter&) = delete;

    void lock() noexcept { m_locks.fetch_add(1, std::memory_order_relaxed); }
    void unlock() noexcept { m_locks.fetch_sub(1, std::memory_order_release); }
    void objectCreated() noexcept { m_objects.fetch_add(1, std::memory_order_relaxed); }
    void objectDestroyed() noexcept { m_objects.fetch_sub(1, std::memory_order_release); }

    LONG lockCount() const noexcept { return m_locks.load(std::memory_order_acquire); }
    LONG objectCount() const noexcept { return m_objects.load(std::memory_order_acquire); }

    // S_OK when no object lives and no lock is held, else S_FALSE.
    HRESULT canUnloadNow() const noexcept {
        return lockCount() == 0 && objectCount() == 0 ? S_OK : S_FALSE;
    }

private:
    std::atomic<LONG> m_locks{0};
    std::atomic<LONG> m_objects{0};
};

// The counter of the module this code is compiled into.
[[gnu::visibility("hidden")]] inline ModuleCounter& thisModule() noexcept {
    static constinit ModuleCounter counter;
    return counter;
}

} // namespace zeb
