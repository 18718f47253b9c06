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

void* CAcxTagTree::allocateInNextBlock(size_t size) {
    if (m_nBlock < m_blocks.size()) ++m_nBlock; // the rest of this block stays unused
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
