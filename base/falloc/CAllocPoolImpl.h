// CAllocPoolImpl: a fixed-size allocation pool. Every block it hands out has
// the pool's element size; blocks are carved from chunks taken from the
// general heap, and a chunk whose blocks are all free again is kept as the
// one spare (a second one goes back to the heap), so an allocate/release
// pattern at a chunk boundary does not reach the heap each time.
//
//   CAllocPoolImpl pool(24);                       // 128 blocks per chunk
//   void* p = CAllocPoolImpl::allocate(&pool, 24);
//   CAllocPoolImpl::release(&pool, p);
//
//   CAllocPoolImpl* pool = CAllocPoolImpl::poolForObjectSize(sizeof(Entry));
//   void* q = CAllocPoolImpl::allocate(pool, sizeof(Entry));   // pool may be null: heap
//
// Chunk layout: a 40-byte head (previous and next chunk of the pool's list of
// chunks with free blocks, the free count, the first free block, the owner),
// then the slots. A slot is the link (8 bytes holding the chunk's address when
// the element size is a multiple of 8, else 4 bytes holding the distance back
// to the chunk) followed by the block. A new chunk's free list runs in address
// order; a free block keeps the chunk offset of the next free block in its
// first four bytes.
//
// Module-wide pools: 18 pools of 12 to 120 bytes, 128 blocks per chunk, made
// on first use. They are never destroyed: objects of other modules' static
// storage may release their blocks after this module's statics are gone, so
// the pools stay valid until the process ends.
//
// "PURIFY_MODE" bit 0 (CCoRegistrySwitches::purifyMode, read when the first
// pool is made) sends every allocation and release of every pool to the
// general heap, so memory checkers see each block on its own.
//
// Thread safety: each pool has its own lock; allocate and release may be
// called from any thread, and a block may be released on another thread than
// the one that took it. Under AddressSanitizer free blocks are poisoned, so a
// use after release or a write past a block is reported as on the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

class CAllocPoolImpl {
public:
    // Where the pool takes its blocks from. FromSwitch follows "PURIFY_MODE";
    // the others fix the choice for this pool (e.g. to compare both).
    enum class Pooling { FromSwitch, Pooled, Heap };

    // elementSize is rounded up to a multiple of 4 (at least 4); 0 blocks per
    // chunk means as many as fit in a memory page after 80 bytes.
    explicit CAllocPoolImpl(uint32_t elementSize, uint32_t elementsPerChunk = 128,
                            Pooling pooling = Pooling::FromSwitch);
    ~CAllocPoolImpl();
    CAllocPoolImpl(const CAllocPoolImpl&) = delete;
    CAllocPoolImpl& operator=(const CAllocPoolImpl&) = delete;

    // A block from `pool` (`size` must not exceed its element size), or `size`
    // bytes from the general heap when pool is null or pooling is off.
    // Throws std::bad_alloc when the heap is exhausted.
    static void* allocate(CAllocPoolImpl* pool, size_t size);
    // Gives back a block taken from the same `pool` (or from the heap when
    // pool is null). A null block does nothing.
    static void release(CAllocPoolImpl* pool, void* block) noexcept;

    // Gives back every completely free chunk except the spare.
    void trim() noexcept;

    uint32_t elementSize() const noexcept { return m_elementSize; }
    uint32_t elementsPerChunk() const noexcept { return m_elementsPerChunk; }
    uint32_t linkSize() const noexcept { return m_linkSize; }
    bool pooled() const noexcept { return m_pooled; }

    struct Stats {
        uint32_t chunks = 0;         // chunks taken from the heap and not yet given back
        uint32_t chunksWithFree = 0; // chunks in the list of chunks with free blocks
        bool spare = false;          // whether a completely free chunk is held
        uint64_t usedBlocks = 0;     // blocks handed out and not yet released
    };
    Stats stats() const;

    // The module-wide pool for objects of `size` bytes: sizes 1 to 120 map by
    // (size - 1) / 8 to the pools of 16, 24, ... 120 bytes; 0 and larger
    // sizes have no pool (null).
    static CAllocPoolImpl* poolForObjectSize(size_t size) noexcept;
    // The module-wide pool of exactly `elementSize` bytes; null if none.
    static CAllocPoolImpl* modulePool(uint32_t elementSize) noexcept;

    static constexpr uint32_t kChunkHead = 40;

private:
    struct Chunk;

    void* take();
    void give(void* block) noexcept;
    Chunk* newChunk();
    void freeChunk(Chunk* chunk) noexcept;
    void unlink(Chunk* chunk) noexcept;
    void pushFront(Chunk* chunk) noexcept;
    unsigned char* blockAt(Chunk* chunk, uint32_t offset) const noexcept;
    Chunk* chunkOf(void* block) const noexcept;

    uint32_t m_elementSize;
    uint32_t m_elementsPerChunk;
    uint32_t m_linkSize;
    bool m_pooled;
    Chunk* m_firstWithFree = nullptr;
    Chunk* m_spare = nullptr;
    uint32_t m_chunks = 0;
    uint64_t m_used = 0;
    mutable std::mutex m_lock;
};
