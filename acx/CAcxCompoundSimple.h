// The child list of a compound: children in document order.
#pragma once

#include "acx/CAcxTagBase.h"

#include <cstddef>

class CAcxCompoundSimple {
public:
    // REQUIRES: child is not in any list yet.
    void addChild(CAcxTagBase* child) {
        if (m_pLast)
            m_pLast->m_pNext = child;
        else
            m_pFirst = child;
        m_pLast = child;
        ++m_nCount;
    }
    // Forgets the children (they stay wherever they were made).
    void clearChildren() {
        m_pFirst = m_pLast = nullptr;
        m_nCount = 0;
    }
    CAcxTagBase* firstChild() const { return m_pFirst; }
    CAcxTagBase* lastChild() const { return m_pLast; }
    size_t childCount() const { return m_nCount; }

private:
    CAcxTagBase* m_pFirst = nullptr;
    CAcxTagBase* m_pLast = nullptr;
    size_t m_nCount = 0;
};
