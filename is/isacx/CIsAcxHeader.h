// Collector of one PD-file's base section (tag 2144): its own header values
// and what its base data (2145) and view data (2147) contributed.
#pragma once

#include "is/isacx/CIsAcxCollector.h"

#include "h/ZEB_VersionStamp.h"

#include <string>
#include <string_view>

class CIsAcxDoType;
struct CIsAcxDscHeader;

class CIsAcxHeader {
public:
    int handleData(uint32_t tagId, int typeCode, const void* value);
    int handleStringData(uint32_t tagId, std::string_view text);

    // Take over a finished base / view data collector.
    void processBaseData(const CIsAcxDoType& data);
    void processViewData(const CIsAcxDoType& data);
    // Fills the record as a PD-file reports it (see CIsAcxDscHeader).
    void processAcxHeader(CIsAcxDscHeader& record) const;

    uint16_t m_wTag2088 = 0xFFFF;
    uint16_t m_wTag2089 = 0xFFFF;
    std::string m_strTag150, m_strTag67, m_strTag142;
    uint16_t m_wViewId = 0;
    int16_t m_bDataSetHandling = 0;
    int16_t m_bParallelConnectable = 0;
    std::string m_strBaseEsName, m_strViewEsName;
    GUID m_guidBaseEs = GUID_NOTYPE, m_guidViewEs = GUID_NOTYPE;
    CVersionStamp m_baseStamp, m_viewStamp;
    uint32_t m_dwTag17 = 0;
};
