#include "is/isacx/CIsAcxEsData.h"

#include "co/CCoTraceRecord.h"

int CIsAcxEsData::handleData(uint32_t tagId, int typeCode, const void* value) {
    (void)tagId, (void)typeCode, (void)value;
    return ACX_NOT_HANDLED;
}

int CIsAcxEsData::handleStringData(uint32_t tagId, std::string_view text) {
    CCoTraceRecord rec("is_acx", "CIsAcxEsData::handleStringData");
    switch (tagId) {
    case 66:
        m_strEsName = text;
        return ACX_TAKEN;
    case 2121:
        if (!zeb::acxGuidFromDigits(text, m_guidEs)) {
            ZEB_TRACE(rec, 4, "ACX: Syntax");
            return ACX_SYNTAX;
        }
        return ACX_TAKEN;
    default:
        return ACX_NOT_HANDLED;
    }
}
