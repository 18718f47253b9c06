// Bytes in a global memory block with a logical size (the block may be
// larger), shared by the memory lock-bytes and memory streams and their
// clones. Thread-safe: every operation takes the buffer's lock.
#pragma once

#include "platform/storage/Storage.h"

#include <mutex>

namespace zeb {

class HGlobalBuffer {
public:
    // The largest logical size (4 GiB - 1): callers address the bytes with
    // 32-bit offsets. Growing past it gives STG_E_MEDIUMFULL.
    static constexpr uint64_t kMaxSize = 0xFFFFFFFFull;

    // Takes the block (null: a new, empty one); frees it at destruction
    // when deleteOnRelease. The logical size starts at GlobalSize(block).
    HGlobalBuffer(HGLOBAL block, bool deleteOnRelease) noexcept;
    ~HGlobalBuffer();
    HGlobalBuffer(const HGlobalBuffer&) = delete;
    HGlobalBuffer& operator=(const HGlobalBuffer&) = delete;

    // Whether the destruction frees the block.
    void setDeleteOnRelease(bool deleteOnRelease) noexcept { m_deleteOnRelease = deleteOnRelease; }
    // False when the block could not be allocated.
    bool valid() const noexcept { return m_block != nullptr; }
    HGLOBAL block() const noexcept { return m_block; }
    uint64_t size() noexcept;

    // Copies up to cb bytes at off (fewer at the end); returns the count.
    ULONG readAt(uint64_t off, void* pv, ULONG cb) noexcept;
    // Writes cb bytes at off, growing; STG_E_MEDIUMFULL when it cannot.
    HRESULT writeAt(uint64_t off, const void* pv, ULONG cb) noexcept;
    HRESULT setSize(uint64_t size) noexcept;

private:
    HRESULT reserve(uint64_t size) noexcept; // REQUIRES: m_mutex held

    std::mutex m_mutex;
    HGLOBAL m_block;
    bool m_deleteOnRelease;
    uint64_t m_size = 0;
};

} // namespace zeb
