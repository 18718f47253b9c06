#include "is/isacx/CIsAcxHeader.h"

#include "acx/CAcxContentHandlerBase.h"
#include "co/CCoTraceRecord.h"
#include "is/isacx/CIsAcxDoType.h"
#include "is/isacx/CIsAcxDscHeader.h"

int CIsAcxHeader::handleData(uint32_t tagId, int typeCode, const void* value) {
    CCoTraceRecord rec("is_acx", "CIsAcxHeader::handleData");
    switch (tagId) {
    case 2088:
    case 2089:
        if (typeCode != ACX_INT_8) {
            ZEB_TRACE(rec, 4, "ACX: invalid datatype");
            return ACX_WRONG_TYPE;
        }
        (tagId == 2088 ? m_wTag2088 : m_wTag2089) = uint16_t(zeb::acxValue(value) & 0xFF);
        return ACX_TAKEN;
    case 135:
    case 161:
        // Accepted and not kept; a wrong type is only noted.
        if (typeCode != (tagId == 135 ? ACX_INT_16 : ACX_INT_32))
            ZEB_TRACE(rec, 4, "ACX: invalid datatype");
        return ACX_TAKEN;
    default:
        return ACX_NOT_HANDLED;
    }
}

int CIsAcxHeader::handleStringData(uint32_t tagId, std::string_view text) {
    switch (tagId) {
    case 150:
        m_strTag150 = text;
        return ACX_TAKEN;
    case 67:
        m_strTag67 = text;
        return ACX_TAKEN;
    case 142:
        m_strTag142 = text;
        return ACX_TAKEN;
    default:
        return ACX_NOT_HANDLED;
    }
}

void CIsAcxHeader::processBaseData(const CIsAcxDoType& data) {
    m_wViewId = data.m_wViewId;
    m_bDataSetHandling = data.m_bDataSetHandling;
    m_strBaseEsName = data.m_strEsName;
    m_guidBaseEs = data.m_guidEs;
    m_baseStamp = data.m_stamp;
    m_dwTag17 = data.m_dwTag17;
}

void CIsAcxHeader::processViewData(const CIsAcxDoType& data) {
    m_bParallelConnectable = data.m_bParallelConnectable;
    m_strViewEsName = data.m_strEsName;
    m_guidViewEs = data.m_guidEs;
    m_viewStamp = data.m_stamp;
}

void CIsAcxHeader::processAcxHeader(CIsAcxDscHeader& record) const {
    const bool viewSet = m_viewStamp.isSet();
    if (viewSet) {
        record.m_rtTypeStamp = m_viewStamp.value();
        record.m_rtBaseStamp = m_baseStamp.value();
        record.m_guidEs = m_guidViewEs;
        record.m_strEsName = m_strViewEsName;
    } else {
        record.m_rtTypeStamp = m_baseStamp.value();
        record.m_guidEs = m_guidBaseEs;
        record.m_strEsName = m_strBaseEsName;
    }
    record.m_strTag150 = m_strTag150;
    record.m_strTag67 = m_strTag67;
    record.m_wViewId = m_wViewId;
    record.m_bDataSetHandling = m_bDataSetHandling;
    record.m_bParallelConnectable = m_bParallelConnectable;
    record.m_wTag2088 = m_wTag2088;
    record.m_wTag2089 = m_wTag2089;
    record.m_dwTag17 = m_dwTag17;
}
