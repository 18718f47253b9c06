#include "platform/win/GlobalMemory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The handle points at this header; the bytes live in a separate block so
// that a resize keeps the handle (as a movable block does).
struct GlobalBlock {
    BYTE* bytes;
    SIZE_T size;
    std::atomic<UINT> locks;
};

GlobalBlock* block(HGLOBAL h) {
    return static_cast<GlobalBlock*>(h);
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    auto* b = static_cast<GlobalBlock*>(std::malloc(sizeof(GlobalBlock)));
    if (!b) return nullptr;
    // One byte at least, so a zero-sized block still has a valid address.
    b->bytes = static_cast<BYTE*>((flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                                          : std::malloc(bytes ? bytes : 1));
    if (!b->bytes) {
        std::free(b);
        return nullptr;
    }
    b->size = bytes;
    new (&b->locks) std::atomic<UINT>(0);
    return b;
}

HGLOBAL GlobalReAlloc(HGLOBAL h, SIZE_T bytes, UINT flags) {
    if (!h) return nullptr;
    GlobalBlock* b = block(h);
    auto* p = static_cast<BYTE*>(std::realloc(b->bytes, bytes ? bytes : 1));
    if (!p) return nullptr;
    if ((flags & GMEM_ZEROINIT) && bytes > b->size) std::memset(p + b->size, 0, bytes - b->size);
    b->bytes = p;
    b->size = bytes;
    return h;
}

LPVOID GlobalLock(HGLOBAL h) {
    if (!h) return nullptr;
    block(h)->locks.fetch_add(1);
    return block(h)->bytes;
}

BOOL GlobalUnlock(HGLOBAL h) {
    if (!h) return FALSE;
    UINT v = block(h)->locks.load();
    while (v > 0 && !block(h)->locks.compare_exchange_weak(v, v - 1)) {
    }
    return v > 1 ? TRUE : FALSE;
}

SIZE_T GlobalSize(HGLOBAL h) {
    return h ? block(h)->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
    if (h) {
        std::free(block(h)->bytes);
        block(h)->locks.~atomic();
        std::free(h);
    }
    return nullptr;
}
