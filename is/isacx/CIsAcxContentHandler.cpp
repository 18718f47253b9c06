#include "is/isacx/CIsAcxContentHandler.h"

#include "acx/CAcxReader.h"
#include "co/CCoTraceRecord.h"

#include <new>

namespace {
constexpr const char* kSource = "is_acx";

bool isSectionOfType1To4(int64_t section) {
    return section == 2144 || section == 2409 || section == 2208 || section == 2411;
}
} // namespace

CIsAcxContentHandler::CIsAcxContentHandler(CAcxReader& reader, CIsAcxDscHeader& record,
                                           bool keepTree)
    : m_reader(reader), m_record(record), m_bKeepTree(keepTree) {}

void CIsAcxContentHandler::forget(const CAcxTagTree::Mark& mark, CAcxCompoundTagBase* parent) {
    // The closed tag and everything below it are no longer referenced: the
    // parent's child list is the only link to them.
    if (parent) parent->clearChildren();
    m_tree.rewind(mark);
}

void CIsAcxContentHandler::processingError() {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::processingError");
    ZEB_TRACE(rec, 4, "acx processing error");
    m_reader.abortParse();
}

void CIsAcxContentHandler::startDocument(bool compressed) {
    (void)compressed;
    m_tree.clear();
    m_marks.clear();
    m_pCurrent = nullptr;
    m_nFileType = 0;
    m_nSection = -1;
    m_pHeader.reset();
    m_pAcxDoType.reset();
    m_pESData.reset();
}

void CIsAcxContentHandler::startTag(const CAcxTagRecord& tag) {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::startTag");
    try {
        if (tag.kind != 0) {
            if (tag.kind != 1 && tag.kind != 2 && tag.kind != 4) {
                ZEB_TRACE(rec, 3, "bad ACX Tag");
                return;
            }
            if (!m_pCurrent) return processingError();
            m_leafMark = m_tree.mark();
            m_tree.newData(tag.tagId, tag.kind, m_pCurrent);
            return;
        }
        if (!m_pCurrent && (m_tree.root() || tag.tagId != 0)) return processingError();
        if (!m_bKeepTree) m_marks.push_back(m_tree.mark());
        m_pCurrent = m_tree.newCompound(tag.tagId, m_pCurrent);

        const int64_t enclosing = m_nSection;
        switch (tag.tagId) {
        case 0:
            return;
        case 2144:
        case 2409:
        case 2208:
        case 2411:
        case 2251:
        case 2440:
            m_nFileType = tag.tagId == 2144   ? 1
                          : tag.tagId == 2409 ? 2
                          : tag.tagId == 2208 ? 3
                          : tag.tagId == 2411 ? 4
                          : tag.tagId == 2251 ? 5
                                              : 6;
            // The header collector exists for the whole base section, so
            // base and view data are kept even when no plain value precedes them.
            if (m_nFileType == 1 && !m_pHeader) m_pHeader.emplace();
            break;
        case 2145:
        case 2147:
            if (isSectionOfType1To4(enclosing))
                m_pAcxDoType.emplace();
            else
                ZEB_TRACE(rec, 3, "unexpected tag %i", int(tag.tagId));
            break;
        case 2365:
            if (enclosing == 2145 || enclosing == 2147)
                m_pESData.emplace();
            else
                ZEB_TRACE(rec, 3, "unexpected tag %i", int(tag.tagId));
            break;
        case 65:
        case 1037:
        case 2096:
        case 2107:
        case 2209:
            m_reader.skipTag();
            break;
        default:
            ZEB_TRACE(rec, 3, "compound TagID %i not handled", int(tag.tagId));
            break;
        }
        m_nSection = tag.tagId;
    } catch (const std::bad_alloc&) {
        processingError();
    }
}

template <class Deliver> void CIsAcxContentHandler::route(uint32_t tagId, Deliver deliver) {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::handleData");
    if (m_nFileType != 1) {
        ZEB_TRACE(rec, 3, "unknown filetype");
        return;
    }
    int result = ACX_TAKEN;
    switch (m_nSection) {
    case 2144:
        if (!m_pHeader) m_pHeader.emplace();
        result = deliver(*m_pHeader);
        break;
    case 2145:
    case 2147:
        if (!m_pAcxDoType) {
            ZEB_TRACE(rec, 4, "m_pAcxDoType is invalid");
            return;
        }
        result = deliver(*m_pAcxDoType);
        break;
    case 2365:
        if (!m_pESData) {
            ZEB_TRACE(rec, 4, "m_pESData is invalid");
            return;
        }
        result = deliver(*m_pESData);
        break;
    default: {
        ZEB_TRACE(rec, 3, "finished not handled TagID %i in PD-file", int(m_nSection));
        CAcxCompoundTagBase* parent = m_pCurrent->parent();
        m_nSection = parent ? int64_t(parent->tagId()) : -1;
        return;
    }
    }
    if (result == ACX_NOT_HANDLED) ZEB_TRACE(rec, 3, "TagID %i not handled", int(tagId));
}

void CIsAcxContentHandler::handleData(int typeCode, const void* value) {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::handleData");
    if (!m_pCurrent) return processingError();
    CAcxTagBase* last = m_pCurrent->lastChild();
    if (!last || last->isCompound() || last->kind() == 3) {
        ZEB_TRACE(rec, 4, "ACX: invalid data");
        return;
    }
    auto* data = static_cast<CAcxDataTag*>(last);
    data->setValue(typeCode, value);
    try {
        route(data->tagId(), [&](auto& collector) {
            return collector.handleData(data->tagId(), typeCode, value);
        });
    } catch (const std::bad_alloc&) {
        processingError();
    }
}

void CIsAcxContentHandler::startStringTag(const CAcxTagRecord& tag, char** buffer,
                                          uint32_t* capacity) {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::startStringTag");
    *buffer = nullptr;
    *capacity = 0;
    if (tag.kind != 3) {
        ZEB_TRACE(rec, 4, "ACX: invalid data");
        return;
    }
    if (!m_pCurrent) return processingError();
    try {
        m_leafMark = m_tree.mark();
        CAcxStringTag* text = m_tree.newString(tag.tagId, tag.length, m_pCurrent);
        *buffer = text->buffer();
        *capacity = tag.length; // whole strings: the buffer holds length + 1 bytes
    } catch (const std::bad_alloc&) {
        processingError();
    }
}

void CIsAcxContentHandler::handleStringData(const char* text, uint32_t length) {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::handleStringData");
    if (!m_pCurrent) return processingError();
    CAcxTagBase* last = m_pCurrent->lastChild();
    if (!last || last->kind() != 3) {
        ZEB_TRACE(rec, 4, "ACX: invalid data");
        return;
    }
    auto* str = static_cast<CAcxStringTag*>(last);
    str->setSize(length);
    try {
        route(str->tagId(), [&](auto& collector) {
            return collector.handleStringData(str->tagId(), std::string_view(text, length));
        });
    } catch (const std::bad_alloc&) {
        processingError();
    }
}

void CIsAcxContentHandler::popCompound() {
    CAcxCompoundTagBase* parent = m_pCurrent ? m_pCurrent->parent() : nullptr;
    m_nSection = parent ? int64_t(parent->tagId()) : -1;
    m_pCurrent = parent;
    if (!m_bKeepTree && !m_marks.empty()) {
        CAcxTagTree::Mark mark = m_marks.back();
        m_marks.pop_back();
        forget(mark, parent);
    }
}

void CIsAcxContentHandler::endTag(const CAcxTagRecord& tag) {
    if (!m_pCurrent) return;
    if (tag.kind != 0) {
        if (!m_bKeepTree && (tag.kind == 1 || tag.kind == 2 || tag.kind == 3 || tag.kind == 4))
            forget(m_leafMark, m_pCurrent);
        return;
    }
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::endTag");
    if (m_nFileType != 1) {
        ZEB_TRACE(rec, 3, "unknown filetype");
        ZEB_TRACE(rec, 3, "TagID %i not handled", int(tag.tagId));
        return popCompound();
    }
    try {
        switch (tag.tagId) {
        case 2365:
            if (m_pAcxDoType && m_pESData) {
                m_pAcxDoType->m_strEsName = m_pESData->m_strEsName;
                m_pAcxDoType->m_guidEs = m_pESData->m_guidEs;
            }
            m_pESData.reset();
            break;
        case 2145:
            if (m_pHeader && m_pAcxDoType) m_pHeader->processBaseData(*m_pAcxDoType);
            m_pAcxDoType.reset();
            break;
        case 2147:
            if (m_pHeader && m_pAcxDoType) m_pHeader->processViewData(*m_pAcxDoType);
            m_pAcxDoType.reset();
            break;
        case 2144:
            if (m_pHeader) m_pHeader->processAcxHeader(m_record);
            m_pHeader.reset();
            break;
        case 0:
        case 65:
        case 1037:
        case 2096:
        case 2107:
        case 2209:
            break;
        default:
            ZEB_TRACE(rec, 3, "finished not handled TagID %i in PD-file ", int(tag.tagId));
            break;
        }
    } catch (const std::bad_alloc&) {
        const char* what = tag.tagId == 2365   ? "processEsData failed"
                           : tag.tagId == 2145 ? "processBaseData failed"
                           : tag.tagId == 2147 ? "processViewData failed"
                                               : "processAcxHeader failed";
        ZEB_TRACE(rec, 4, "%s", what);
        m_reader.abortParse();
        return;
    }
    popCompound();
}

void CIsAcxContentHandler::endDocument() {
    CCoTraceRecord rec(kSource, "CIsAcxContentHandler::endDocument");
    if (m_pCurrent) ZEB_TRACE(rec, 4, "ACX: end with fatal error");
    m_pCurrent = nullptr;
    m_pHeader.reset();
    m_pAcxDoType.reset();
    m_pESData.reset();
}
