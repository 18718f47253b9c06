// A counting allocator for the fault tests: this program's global operator
// new and delete (every form) and libxml2's allocation functions count the
// allocations the armed thread makes, and the one numbered `failAt` fails:
// operator new throws std::bad_alloc (the nothrow forms return null),
// libxml2's malloc and strdup return null (its realloc is left alone: the
// library itself crashes when that fails). One allocation fails, the ones after it
// succeed again, as when memory is short for a moment.
//
//   { CountingAllocator armed(0); save(); count = armed.count(); }   // a dry run
//   for (n = 1..count) { CountingAllocator armed(n); save(); ... }
//
// Only the thread that arms it counts: other threads of the program (a
// message loop, a timer) allocate as they like, and the numbering of one run
// is the numbering of the next.
#pragma once

#include <cstdint>

namespace zeb::test {

class CountingAllocator {
public:
    // Arms the calling thread: allocation number `failAt` fails (0: none).
    explicit CountingAllocator(uint64_t failAt);
    // Disarms it.
    ~CountingAllocator();
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;

    // The allocations counted so far.
    uint64_t count() const;
    // Whether the allocation numbered failAt was refused.
    bool failed() const;
};

} // namespace zeb::test
