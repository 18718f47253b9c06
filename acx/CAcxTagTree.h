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
#include <vector>

class CAcxTagTree {
public:
    CAcxTagTree();
    ~CAcxTagTree();
    CAcxTagTree(const CAcxTagTree&) = delete;
    CAcxTagTree& operator=(const CAcxTagTree&) = delete;

    CAcxCompoundTag* newCompound(uint32_t tagId, CAcxCompoundTagBase* parent);
    CAcxDataTag* newData(uint32_t tagId, uint16_t kind, CAcxCompoundTagBase* parent);
    // Buffer of capacity + 1 bytes.
    CAcxStringTag* newString(uint32_t tagId, uint32_t capacity, CAcxCompoundTagBase* parent);

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
    void* allocate(size_t size, size_t align);
    template <class T, class... Args> T* make(CAcxCompoundTagBase* parent, Args&&... args);

    std::vector<Block> m_blocks; // m_blocks[m_nBlock] is being filled, m_nUsed bytes used
    size_t m_nBlock = 0;
    size_t m_nUsed = 0;
    CAcxCompoundTag* m_pRoot = nullptr;
    size_t m_nTags = 0;
};
