#include "acx/CAcxTagTree.h"

#include <algorithm>
#include <utility>

// Nodes are never destroyed one by one: the arena releases their memory.
// That is sound because no node owns anything outside the arena.

namespace {
constexpr size_t kBlockSize = 64 * 1024;
}

CAcxTagTree::CAcxTagTree() = default;

CAcxTagTree::~CAcxTagTree() = default;

void CAcxTagTree::clear() {
    m_pRoot = nullptr;
    m_nTags = 0;
    m_blocks.clear();
    m_nBlock = 0;
    m_nUsed = 0;
}

void* CAcxTagTree::allocate(size_t size, size_t align) {
    if (m_nBlock < m_blocks.size()) {
        size_t offset = (m_nUsed + align - 1) & ~(align - 1);
        if (offset + size <= m_blocks[m_nBlock].size) {
            m_nUsed = offset + size;
            return m_blocks[m_nBlock].data.get() + offset;
        }
        ++m_nBlock; // the rest of this block stays unused
    }
    // Reuse the next block when it is large enough, else put a new one there.
    if (m_nBlock >= m_blocks.size() || m_blocks[m_nBlock].size < size) {
        size_t blockSize = std::max(kBlockSize, size);
        Block block{std::unique_ptr<std::byte[]>(new std::byte[blockSize]), blockSize};
        m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(std::min(m_nBlock, m_blocks.size())),
                        std::move(block));
    }
    m_nUsed = size;
    return m_blocks[m_nBlock].data.get(); // new[] memory is aligned for any tag
}

template <class T, class... Args>
T* CAcxTagTree::make(CAcxCompoundTagBase* parent, Args&&... args) {
    void* memory = allocate(sizeof(T), alignof(T));
    T* tag = new (memory) T(std::forward<Args>(args)...);
    if (parent) parent->addChild(tag);
    ++m_nTags;
    return tag;
}

CAcxCompoundTag* CAcxTagTree::newCompound(uint32_t tagId, CAcxCompoundTagBase* parent) {
    auto* tag = make<CAcxCompoundTag>(parent, tagId, parent);
    if (!m_pRoot) m_pRoot = tag;
    return tag;
}

CAcxDataTag* CAcxTagTree::newData(uint32_t tagId, uint16_t kind, CAcxCompoundTagBase* parent) {
    return make<CAcxDataTag>(parent, tagId, kind, parent);
}

CAcxStringTag* CAcxTagTree::newString(uint32_t tagId, uint32_t capacity,
                                      CAcxCompoundTagBase* parent) {
    char* buffer = static_cast<char*>(allocate(size_t(capacity) + 1, 1));
    return make<CAcxStringTag>(parent, tagId, parent, buffer, capacity);
}
