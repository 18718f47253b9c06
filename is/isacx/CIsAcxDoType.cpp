#include "is/isacx/CIsAcxDoType.h"

#include "acx/CAcxContentHandlerBase.h"
#include "co/CCoTraceRecord.h"

int CIsAcxDoType::handleData(uint32_t tagId, int typeCode, const void* value) {
    CCoTraceRecord rec("is_acx", "CIsAcxDoType::handleData");
    int expected = 0;
    switch (tagId) {
    case 17:
        expected = ACX_INT_32;
        break;
    case 136:
    case 2129:
    case 2146:
        expected = ACX_INT_16;
        break;
    case 2122:
    case 2123:
        expected = ACX_INT_8;
        break;
    default:
        return ACX_NOT_HANDLED;
    }
    if (typeCode != expected) {
        ZEB_TRACE(rec, 4, "ACX: invalid datatype");
        return ACX_WRONG_TYPE;
    }
    const uint64_t v = zeb::acxValue(value);
    switch (tagId) {
    case 17:
        m_dwTag17 = uint32_t(v);
        break;
    case 136:
        m_bParallelConnectable = int16_t(uint16_t(v));
        break;
    case 2129:
        m_wViewId = uint16_t(v);
        break;
    case 2146:
        m_bDataSetHandling = int16_t(uint16_t(v));
        break;
    case 2122:
        m_stamp.nMajor = uint16_t(v);
        break;
    case 2123:
        m_stamp.nMinor = uint16_t(v);
        break;
    }
    return ACX_TAKEN;
}

int CIsAcxDoType::handleStringData(uint32_t tagId, std::string_view text) {
    CCoTraceRecord rec("is_acx", "CIsAcxDoType::handleStringData");
    if (tagId != 2121) return ACX_NOT_HANDLED;
    if (!zeb::acxGuidFromDigits(text, m_stamp.guidVersion)) {
        ZEB_TRACE(rec, 4, "ACX: Syntax");
        return ACX_SYNTAX;
    }
    return ACX_TAKEN;
}
