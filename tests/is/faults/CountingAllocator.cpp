#include "tests/is/faults/CountingAllocator.h"

#include <libxml/xmlmemory.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Plain data, initialised before anything runs: operator new may be called
// from any thread at any time, also before main.
thread_local bool t_armed = false;
thread_local uint64_t t_count = 0;
thread_local uint64_t t_failAt = 0;
thread_local bool t_failed = false;

// Counts one allocation of the armed thread; false when it must fail.
bool admit() noexcept {
    if (!t_armed) return true;
    if (++t_count != t_failAt) return true;
    t_failed = true;
    return false;
}

void* allocate(std::size_t size) noexcept {
    return admit() ? std::malloc(size ? size : 1) : nullptr;
}

void* allocateAligned(std::size_t size, std::align_val_t align) noexcept {
    if (!admit()) return nullptr;
    std::size_t alignment = std::size_t(align);
    if (alignment < sizeof(void*)) alignment = sizeof(void*);
    void* p = nullptr;
    return ::posix_memalign(&p, alignment, size ? size : 1) == 0 ? p : nullptr;
}

void* throwing(void* p) {
    if (!p) throw std::bad_alloc();
    return p;
}

void* xmlCountedMalloc(size_t size) {
    return admit() ? std::malloc(size) : nullptr;
}

// Not counted: libxml2 (2.9) dereferences null after a failed realloc of
// its parser input, a crash in the library rather than in this system.
void* xmlCountedRealloc(void* p, size_t size) {
    return std::realloc(p, size);
}

char* xmlCountedStrdup(const char* text) {
    return admit() ? ::strdup(text) : nullptr;
}

void xmlCountedFree(void* p) {
    std::free(p);
}

// libxml2 allocates through these from the start of the program on: they
// free what the default functions allocated, and the other way round.
const bool g_xmlHooked =
    xmlMemSetup(xmlCountedFree, xmlCountedMalloc, xmlCountedRealloc, xmlCountedStrdup) == 0;

} // namespace

namespace zeb::test {

CountingAllocator::CountingAllocator(uint64_t failAt) {
    (void)g_xmlHooked;
    t_count = 0;
    t_failAt = failAt;
    t_failed = false;
    t_armed = true;
}

CountingAllocator::~CountingAllocator() {
    t_armed = false;
}

uint64_t CountingAllocator::count() const {
    return t_count;
}

bool CountingAllocator::failed() const {
    return t_failed;
}

} // namespace zeb::test

// ---- this program's operator new and delete

void* operator new(std::size_t size) {
    return throwing(allocate(size));
}
void* operator new[](std::size_t size) {
    return throwing(allocate(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return throwing(allocateAligned(size, align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return throwing(allocateAligned(size, align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocateAligned(size, align);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
