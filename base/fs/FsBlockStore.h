// FsBlockStore: the bytes behind the memory lock-bytes and stream objects,
// held in fixed blocks of 1536 bytes so that growth never copies data; only
// the block-pointer array grows, by at least 64 entries at a time.
//
// Byte i lives in block i / 1536 at offset i % 1536. Invariant: the block
// count is size / 1536, plus one when there is a remainder. New blocks are
// not cleared. Not synchronised: the owning object guards it.
#pragma once

#include "platform/win/Threading.h"
#include "platform/win/WinTypes.h"

#include <memory>
#include <vector>

class FsBlockStore {
public:
    static constexpr DWORD kBlockSize = 1536;

    FsBlockStore();
    FsBlockStore(const FsBlockStore&) = delete;
    FsBlockStore& operator=(const FsBlockStore&) = delete;

    // Frees surplus blocks or allocates missing ones; 0 frees every block.
    // STG_E_MEDIUMFULL when an allocation fails (the blocks allocated so far
    // stay, and the size is unchanged).
    HRESULT resize(DWORD size);
    // Copies n bytes at offset; E_FAIL when the range reaches beyond the
    // allocated blocks (bytes between the size and the end of the last
    // block come as they are).
    HRESULT read(DWORD offset, void* buffer, DWORD n, DWORD* done) const;
    // Grows to offset + n first when needed (its failure is returned).
    HRESULT write(DWORD offset, const void* buffer, DWORD n);

    DWORD size() const noexcept { return m_dwSize; }
    DWORD blockCount() const noexcept { return DWORD(m_blocks.size()); }
    // Block number `index`, or null when not allocated.
    const BYTE* block(DWORD index) const noexcept {
        return index < m_blocks.size() ? m_blocks[index].get() : nullptr;
    }

private:
    // One entry per allocated block; the capacity is the reserved pointer room.
    std::vector<std::unique_ptr<BYTE[]>> m_blocks;
    DWORD m_dwSize = 0;
};

struct STATSTG;
namespace zeb {
// Fills a memory object's status: cleared, the name in task memory unless
// STATFLAG_NONAME (STG_E_INSUFFICIENTMEMORY when it cannot be allocated),
// the size, the kind, mode read-write + share-exclusive, times and class 0.
HRESULT fillMemoryStat(STATSTG* status, DWORD flags, const char16_t* name, DWORD type, DWORD size);

// Enters a critical section for the scope, tracing a blocked wait.
class TracedSectionLock {
public:
    TracedSectionLock(CRITICAL_SECTION* section, const char* function);
    ~TracedSectionLock();
    TracedSectionLock(const TracedSectionLock&) = delete;
    TracedSectionLock& operator=(const TracedSectionLock&) = delete;

private:
    CRITICAL_SECTION* m_section;
};
} // namespace zeb
