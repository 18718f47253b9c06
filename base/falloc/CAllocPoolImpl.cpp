#include "base/falloc/CAllocPoolImpl.h"

#include "co/CCoGuardedCall.h"
#include "co/CCoRegistrySwitches.h"
#include "co/CCoTraceRecord.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEB_POOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(ZEB_POOL_ASAN)
#define ZEB_POOL_ASAN 1
#endif

#ifdef ZEB_POOL_ASAN
#include <sanitizer/asan_interface.h>
#define ZEB_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define ZEB_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define ZEB_POISON(addr, size) ((void)(addr), (void)(size))
#define ZEB_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

// The chunk head: exactly 40 bytes in front of the first slot.
struct CAllocPoolImpl::Chunk {
    Chunk* prev; // list of chunks with free blocks
    Chunk* next;
    uint32_t freeCount;    // free blocks in this chunk
    uint32_t firstFree;    // chunk offset of the first free block, 0 when none
    CAllocPoolImpl* owner; // the pool that carved this chunk
    uint64_t reserved;
};

namespace {

constexpr uint32_t kModuleSizes[] = {12, 16, 20, 24, 28, 32, 36,  40,  48,
                                     56, 64, 72, 80, 88, 96, 104, 112, 120};
constexpr size_t kModulePools = sizeof(kModuleSizes) / sizeof(kModuleSizes[0]);
constexpr uint32_t kModuleElementsPerChunk = 128;

// Index into kModuleSizes by element size / 4; -1 where no pool has that size.
constexpr auto kPoolIndexByQuarter = [] {
    struct Table {
        signed char at[31];
        constexpr signed char operator[](size_t i) const { return at[i]; }
    } t{};
    for (auto& v : t.at)
        v = -1;
    for (size_t i = 0; i < kModulePools; ++i)
        t.at[kModuleSizes[i] / 4] = static_cast<signed char>(i);
    return t;
}();

void* heapBlock(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

uint32_t roundedElementSize(uint32_t size) {
    if (size < 4) return 4;
    return (size + 3u) & ~3u;
}

uint32_t defaultElementsPerChunk(uint32_t elementSize) {
    const long page = sysconf(_SC_PAGESIZE);
    const uint32_t pageSize = page > 80 ? uint32_t(page) : 4096u;
    const uint32_t count = (pageSize - 80u) / elementSize;
    return count ? count : 1u;
}

// The 18 pools, built in place on first use and never destroyed (see the
// header: late releases from other statics must still find them).
CAllocPoolImpl* const* modulePools() {
    static CAllocPoolImpl* const* const pools = [] {
        alignas(CAllocPoolImpl) static unsigned char storage[kModulePools][sizeof(CAllocPoolImpl)];
        static CAllocPoolImpl* table[kModulePools];
        for (size_t i = 0; i < kModulePools; ++i)
            table[i] = new (storage[i]) CAllocPoolImpl(kModuleSizes[i], kModuleElementsPerChunk);
        return table;
    }();
    return pools;
}

} // namespace

CAllocPoolImpl::CAllocPoolImpl(uint32_t elementSize, uint32_t elementsPerChunk, Pooling pooling)
    : m_elementSize(roundedElementSize(elementSize)),
      m_elementsPerChunk(elementsPerChunk ? elementsPerChunk
                                          : defaultElementsPerChunk(m_elementSize)),
      m_linkSize(m_elementSize % 8 == 0 ? 8 : 4),
      m_pooled(pooling == Pooling::Pooled ||
               (pooling == Pooling::FromSwitch && !CCoRegistrySwitches::purifyMode())) {
    static_assert(sizeof(void*) != 8 || sizeof(Chunk) == kChunkHead);
}

CAllocPoolImpl::~CAllocPoolImpl() {
    CCoTraceRecord rec("AllocPool", "CAllocPoolImpl::~CAllocPoolImpl");
    guardedDestructor(rec, [&] {
        std::lock_guard<std::mutex> hold(m_lock);
        // Only completely free chunks go back to the heap. A chunk that still
        // holds a block in use stays allocated, so an object its owner forgot
        // to release is leaked rather than left in freed memory.
        for (Chunk* c = m_firstWithFree; c;) {
            Chunk* next = c->next;
            unlink(c);
            if (c->freeCount == m_elementsPerChunk) freeChunk(c);
            c = next;
        }
        if (m_spare) freeChunk(m_spare);
        m_spare = nullptr;
    });
}

unsigned char* CAllocPoolImpl::blockAt(Chunk* chunk, uint32_t offset) const noexcept {
    return reinterpret_cast<unsigned char*>(chunk) + offset;
}

CAllocPoolImpl::Chunk* CAllocPoolImpl::chunkOf(void* block) const noexcept {
    unsigned char* link = static_cast<unsigned char*>(block) - m_linkSize;
    ZEB_UNPOISON(link, m_linkSize);
    Chunk* chunk;
    if (m_linkSize == 8) {
        std::memcpy(&chunk, link, sizeof chunk);
    } else {
        uint32_t distance;
        std::memcpy(&distance, link, sizeof distance);
        chunk = reinterpret_cast<Chunk*>(static_cast<unsigned char*>(block) - distance);
    }
    ZEB_POISON(link, m_linkSize);
    return chunk;
}

CAllocPoolImpl::Chunk* CAllocPoolImpl::newChunk() {
    const size_t slot = size_t(m_linkSize) + m_elementSize;
    const size_t bytes = size_t(m_elementsPerChunk) * slot + kChunkHead;
    auto* raw = static_cast<unsigned char*>(heapBlock(bytes));
    auto* chunk = reinterpret_cast<Chunk*>(raw);
    chunk->prev = chunk->next = nullptr;
    chunk->freeCount = m_elementsPerChunk;
    chunk->owner = this;
    chunk->reserved = 0;
    // Free list in address order: each block names the one behind it.
    for (uint32_t i = 0; i < m_elementsPerChunk; ++i) {
        const size_t linkAt = kChunkHead + i * slot;
        const uint32_t blockAt = uint32_t(linkAt + m_linkSize);
        if (m_linkSize == 8) {
            std::memcpy(raw + linkAt, &chunk, sizeof chunk);
        } else {
            const uint32_t distance = blockAt;
            std::memcpy(raw + linkAt, &distance, sizeof distance);
        }
        const uint32_t next = i + 1 < m_elementsPerChunk ? uint32_t(blockAt + slot) : 0u;
        std::memcpy(raw + blockAt, &next, sizeof next);
    }
    chunk->firstFree = kChunkHead + m_linkSize;
    ZEB_POISON(raw + kChunkHead, bytes - kChunkHead);
    ++m_chunks;
    return chunk;
}

void CAllocPoolImpl::freeChunk(Chunk* chunk) noexcept {
    const size_t bytes = size_t(m_elementsPerChunk) * (m_linkSize + m_elementSize) + kChunkHead;
    ZEB_UNPOISON(chunk, bytes);
    std::free(chunk);
    --m_chunks;
}

void CAllocPoolImpl::unlink(Chunk* chunk) noexcept {
    if (chunk->prev)
        chunk->prev->next = chunk->next;
    else
        m_firstWithFree = chunk->next;
    if (chunk->next) chunk->next->prev = chunk->prev;
    chunk->prev = chunk->next = nullptr;
}

void CAllocPoolImpl::pushFront(Chunk* chunk) noexcept {
    chunk->prev = nullptr;
    chunk->next = m_firstWithFree;
    if (m_firstWithFree) m_firstWithFree->prev = chunk;
    m_firstWithFree = chunk;
}

void* CAllocPoolImpl::take() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_firstWithFree) {
        Chunk* chunk = m_spare;
        m_spare = nullptr;
        if (!chunk) chunk = newChunk();
        pushFront(chunk);
    }
    Chunk* chunk = m_firstWithFree;
    unsigned char* block = blockAt(chunk, chunk->firstFree);
    ZEB_UNPOISON(block, m_elementSize);
    std::memcpy(&chunk->firstFree, block, sizeof chunk->firstFree);
    if (--chunk->freeCount == 0) unlink(chunk);
    ++m_used;
    return block;
}

void CAllocPoolImpl::give(void* block) noexcept {
    std::lock_guard<std::mutex> hold(m_lock);
    Chunk* chunk = chunkOf(block);
    const auto offset =
        uint32_t(static_cast<unsigned char*>(block) - reinterpret_cast<unsigned char*>(chunk));
    std::memcpy(block, &chunk->firstFree, sizeof chunk->firstFree);
    ZEB_POISON(block, m_elementSize);
    chunk->firstFree = offset;
    if (chunk->freeCount++ == 0) pushFront(chunk);
    --m_used;
    if (chunk->freeCount == m_elementsPerChunk) {
        unlink(chunk);
        if (m_spare)
            freeChunk(chunk);
        else
            m_spare = chunk;
    }
}

void* CAllocPoolImpl::allocate(CAllocPoolImpl* pool, size_t size) {
    if (!pool || !pool->m_pooled) return heapBlock(size);
    return pool->take();
}

void CAllocPoolImpl::release(CAllocPoolImpl* pool, void* block) noexcept {
    if (!block) return;
    if (!pool || !pool->m_pooled) {
        std::free(block);
        return;
    }
    pool->give(block);
}

void CAllocPoolImpl::trim() noexcept {
    std::lock_guard<std::mutex> hold(m_lock);
    for (Chunk* c = m_firstWithFree; c;) {
        Chunk* next = c->next;
        if (c->freeCount == m_elementsPerChunk) {
            unlink(c);
            if (m_spare)
                freeChunk(c);
            else
                m_spare = c;
        }
        c = next;
    }
}

CAllocPoolImpl::Stats CAllocPoolImpl::stats() const {
    std::lock_guard<std::mutex> hold(m_lock);
    Stats s;
    s.chunks = m_chunks;
    for (Chunk* c = m_firstWithFree; c; c = c->next)
        ++s.chunksWithFree;
    s.spare = m_spare != nullptr;
    s.usedBlocks = m_used;
    return s;
}

CAllocPoolImpl* CAllocPoolImpl::poolForObjectSize(size_t size) noexcept {
    if (size == 0 || size > 120) return nullptr;
    // Size classes 0 and 1 share the 16-byte pool; class k > 1 uses 8 * (k + 1).
    const auto sizeClass = uint32_t((size - 1) / 8);
    return modulePool(sizeClass <= 1 ? 16u : 8u * (sizeClass + 1u));
}

CAllocPoolImpl* CAllocPoolImpl::modulePool(uint32_t elementSize) noexcept {
    if (elementSize % 4 != 0 || elementSize / 4 >= sizeof(kPoolIndexByQuarter)) return nullptr;
    const int index = kPoolIndexByQuarter[elementSize / 4];
    return index < 0 ? nullptr : modulePools()[index];
}
