// Node of an in-memory ACX tag tree: tag id, kind, parent compound and the
// next sibling (children of a compound form a singly linked list).
// Nodes are made and owned by a CAcxTagTree.
#pragma once

#include <cstdint>

class CAcxCompoundTagBase;

class CAcxTagBase {
public:
    CAcxTagBase(uint32_t tagId, uint16_t kind, CAcxCompoundTagBase* parent)
        : m_nTagId(tagId), m_nKind(kind), m_pParent(parent) {}
    virtual ~CAcxTagBase() = default;
    CAcxTagBase(const CAcxTagBase&) = delete;
    CAcxTagBase& operator=(const CAcxTagBase&) = delete;

    uint32_t tagId() const { return m_nTagId; }
    uint16_t kind() const { return m_nKind; }
    bool isCompound() const { return m_nKind == 0; }
    CAcxCompoundTagBase* parent() const { return m_pParent; }
    CAcxTagBase* next() const { return m_pNext; }

private:
    friend class CAcxCompoundSimple;
    uint32_t m_nTagId;
    uint16_t m_nKind;
    CAcxCompoundTagBase* m_pParent;
    CAcxTagBase* m_pNext = nullptr;
};
