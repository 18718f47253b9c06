// Collector of one engineering-system data compound (tag 2365): ES name
// (tag 66) and ES GUID (tag 2121, 32 hexadecimal digits).
#pragma once

#include "is/isacx/CIsAcxCollector.h"

#include "h/TypeIdent.h"

#include <string>
#include <string_view>

class CIsAcxEsData {
public:
    int handleData(uint32_t tagId, int typeCode, const void* value);
    int handleStringData(uint32_t tagId, std::string_view text);

    std::string m_strEsName;
    GUID m_guidEs = GUID_NOTYPE;
};
