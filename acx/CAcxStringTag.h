// A string tag (kind 3) with a buffer of the tag's length plus a zero byte.
// The buffer belongs to the tree that made the tag.
#pragma once

#include "acx/CAcxLeafTagBase.h"

class CAcxStringTag : public CAcxLeafTagBase {
public:
    CAcxStringTag(uint32_t tagId, CAcxCompoundTagBase* parent, char* buffer, uint32_t capacity)
        : CAcxLeafTagBase(tagId, 3, parent), m_pBuffer(buffer), m_nCapacity(capacity) {
        m_pBuffer[0] = 0;
    }

    char* buffer() const { return m_pBuffer; }
    uint32_t capacity() const { return m_nCapacity; }
    const char* text() const { return m_pBuffer; }
    uint32_t size() const { return m_nSize; }
    void setSize(uint32_t size) { m_nSize = size <= m_nCapacity ? size : m_nCapacity; }

private:
    char* m_pBuffer;
    uint32_t m_nCapacity;
    uint32_t m_nSize = 0;
};
