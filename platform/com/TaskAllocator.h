// The task allocator: memory that one component allocates and another frees.
//
// Arrays and strings handed over through interfaces (StringFromCLSID,
// ProgIDFromCLSID, lists returned to callers) come from CoTaskMemAlloc and
// the receiver frees them with CoTaskMemFree. The allocator lives in
// libzebcom.so, so every module of the process shares it.
//
//   zeb::TaskMem<OLECHAR> text;
//   StringFromCLSID(clsid, zeb::outPtr(text));   // freed when `text` goes
//   return text.release();                        // ...or handed over
//
// Semantics (as on Windows):
//   CoTaskMemAlloc(0) returns a valid, freeable block; null means no memory.
//   CoTaskMemRealloc(nullptr, n) allocates; CoTaskMemRealloc(p, 0) frees p and
//   returns null; a failed reallocation returns null and leaves p untouched.
//   CoTaskMemFree(nullptr) does nothing.
// Blocks are aligned for any fundamental type. Every function is thread-safe.
#pragma once

#include "platform/win/WinTypes.h"

#include <memory>

void* CoTaskMemAlloc(size_t cb);
void* CoTaskMemRealloc(void* pv, size_t cb);
void CoTaskMemFree(void* pv);

namespace zeb {

struct TaskMemFree {
    void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

// Owns one task-allocated block.
template <class T> using TaskMem = std::unique_ptr<T, TaskMemFree>;

// Adapter for out-parameters: fills the TaskMem when it goes out of scope.
//   HRESULT hr = StringFromCLSID(clsid, zeb::outPtr(text));
template <class T> class TaskMemOut {
public:
    explicit TaskMemOut(TaskMem<T>& owner) noexcept : m_owner(owner) {}
    ~TaskMemOut() { m_owner.reset(m_raw); }
    TaskMemOut(const TaskMemOut&) = delete;
    TaskMemOut& operator=(const TaskMemOut&) = delete;
    operator T**() noexcept { return &m_raw; }

private:
    TaskMem<T>& m_owner;
    T* m_raw = nullptr;
};

template <class T> TaskMemOut<T> outPtr(TaskMem<T>& owner) noexcept {
    return TaskMemOut<T>(owner);
}

} // namespace zeb
