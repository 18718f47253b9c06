// Owner of an in-memory ACX tag tree. Nodes and string buffers come from
// one arena, released together by clear() or the destructor, so building a
// tree of millions of small tags costs no per-node heap allocation.
//
// A reader that needs only the open path of the tree can give back what it
// no longer needs: mark() before making a tag, and rewind(mark) once the tag
// and everything made after it are no longer referenced (the caller then
// empties the parent's child list with clearChildren). Memory is reused,
// so such a walk needs memory for the deepest path only.
//
//   CAcxTagTree tree;
//   CAcxCompoundTag* root = tree.newCompound(0, nullptr);   // becomes root()
//   CAcxDataTag* d = tree.newData(2129, 1, root);            // appended to root
//
// A node made with a parent is appended to the parent's children. The
// allocation functions throw std::bad_alloc when memory runs out.
#pragma once

#include "acx/CAcxCompoundTag.h"
#include "acx/CAcxDataTag.h"
#include "acx/CAcxStringTag.h"

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

class CAcxTagTree {
public:
    CAcxTagTree();
    ~CAcxTagTree();
    CAcxTagTree(const CAcxTagTree&) = delete;
    CAcxTagTree& operator=(const CAcxTagTree&) = delete;

    CAcxCompoundTag* newCompound(uint32_t tagId, CAcxCompoundTagBase* parent) {
        auto* tag = make<CAcxCompoundTag>(parent, tagId, parent);
        if (!m_pRoot) m_pRoot = tag;
        return tag;
    }
    CAcxDataTag* newData(uint32_t tagId, uint16_t kind, CAcxCompoundTagBase* parent) {
        return make<CAcxDataTag>(parent, tagId, kind, parent);
    }
    // Buffer of capacity + 1 bytes.
    CAcxStringTag* newString(uint32_t tagId, uint32_t capacity, CAcxCompoundTagBase* parent) {
        char* buffer = static_cast<char*>(allocate(size_t(capacity) + 1, 1));
        return make<CAcxStringTag>(parent, tagId, parent, buffer, capacity);
    }

    CAcxCompoundTag* root() const { return m_pRoot; }
    size_t tagCount() const { return m_nTags; } // tags made since the last clear
    void clear();                               // forgets the tree, frees its memory

    struct Mark {
        size_t block = 0, used = 0;
        CAcxCompoundTag* root = nullptr;
    };
    Mark mark() const { return Mark{m_nBlock, m_nUsed, m_pRoot}; }
    // REQUIRES: nothing made after `m` is referenced any more.
    void rewind(const Mark& m) {
        m_nBlock = m.block;
        m_nUsed = m.used;
        m_pRoot = m.root;
    }

private:
    struct Block {
        std::unique_ptr<std::byte[]> data;
        size_t size;
    };
    // Carves from the current block; a new or reused block only when it is full.
    void* allocate(size_t size, size_t align) {
        if (m_nBlock < m_blocks.size()) {
            const size_t offset = (m_nUsed + align - 1) & ~(align - 1);
            if (offset + size <= m_blocks[m_nBlock].size) {
                m_nUsed = offset + size;
                return m_blocks[m_nBlock].data.get() + offset;
            }
        }
        return allocateInNextBlock(size);
    }
    void* allocateInNextBlock(size_t size);
    template <class T, class... Args> T* make(CAcxCompoundTagBase* parent, Args&&... args) {
        T* tag = new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
        if (parent) parent->addChild(tag);
        ++m_nTags;
        return tag;
    }

    std::vector<Block> m_blocks; // m_blocks[m_nBlock] is being filled, m_nUsed bytes used
    size_t m_nBlock = 0;
    size_t m_nUsed = 0;
    CAcxCompoundTag* m_pRoot = nullptr;
    size_t m_nTags = 0;
};
