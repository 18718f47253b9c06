// CAllocPool<MaxSize>: a base that gives a class a class-level allocation and
// release through the module-wide pool of its object size (CAllocPoolImpl).
// Objects of 1 to 120 bytes (and at most MaxSize) come from the pools of 16,
// 24, ... 120 bytes by the size class (size - 1) / 8; larger ones, arrays and
// over-aligned types come from the general heap. With "PURIFY_MODE" bit 0 set
// every object comes from the general heap.
//
//   class CIsEntry : public CAllocPool<128> { ... };
//   auto* e = new CIsEntry;   // from the 24-byte pool when sizeof is 17..24
//   delete e;                 // back to the same pool
//
// Release uses the object size the compiler passes to the sized delete, so a
// class deleted through a base pointer must have a virtual destructor (as for
// any delete through a base).
#pragma once

#include "base/falloc/CAllocPoolImpl.h"

#include <cstddef>
#include <new>

template <size_t MaxSize> class CAllocPool {
public:
    static void* operator new(size_t size) { return CAllocPoolImpl::allocate(poolFor(size), size); }
    static void operator delete(void* block, size_t size) noexcept {
        CAllocPoolImpl::release(poolFor(size), block);
    }

    // Pool blocks are aligned to 8 bytes; stricter alignment goes to the heap.
    static void* operator new(size_t size, std::align_val_t align) {
        return ::operator new(size, align);
    }
    static void operator delete(void* block, size_t, std::align_val_t align) noexcept {
        ::operator delete(block, align);
    }

    static void* operator new[](size_t size) { return ::operator new[](size); }
    static void operator delete[](void* block) noexcept { ::operator delete[](block); }

    // Construction in place stays possible although the class declares its own new.
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

protected:
    CAllocPool() = default;
    ~CAllocPool() = default;

private:
    static CAllocPoolImpl* poolFor(size_t size) noexcept {
        return size <= MaxSize ? CAllocPoolImpl::poolForObjectSize(size) : nullptr;
    }
};
