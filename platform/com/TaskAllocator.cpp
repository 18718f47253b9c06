#include "platform/com/TaskAllocator.h"

#include <cstdint>
#include <cstdlib>

// The C heap is already process-wide and thread-safe; the task allocator adds
// the Windows rules for zero sizes and null pointers on top of it, and
// refuses sizes no allocation can have before the heap sees them.

namespace {
constexpr size_t kLargestBlock = PTRDIFF_MAX;
}

void* CoTaskMemAlloc(size_t cb) {
    if (cb > kLargestBlock) return nullptr;
    return std::malloc(cb ? cb : 1);
}

void* CoTaskMemRealloc(void* pv, size_t cb) {
    if (!pv) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    if (cb > kLargestBlock) return nullptr;
    return std::realloc(pv, cb);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}
