// Collector of one base-data (2145) or view-data (2147) compound.
#pragma once

#include "is/isacx/CIsAcxCollector.h"

#include "h/ZEB_VersionStamp.h"

#include <string>
#include <string_view>

class CIsAcxDoType {
public:
    int handleData(uint32_t tagId, int typeCode, const void* value);
    int handleStringData(uint32_t tagId, std::string_view text);

    uint16_t m_wViewId = 0;             // tag 2129
    int16_t m_bDataSetHandling = 0;     // tag 2146
    int16_t m_bParallelConnectable = 0; // tag 136
    std::string m_strEsName;            // from the 2365 child
    GUID m_guidEs = GUID_NOTYPE;        // from the 2365 child
    CVersionStamp m_stamp;              // type GUID (2121), major (2122), minor (2123)
    uint32_t m_dwTag17 = 0;             // tag 17
};
