// A number tag (kinds 1, 2, 4): its data-type code and value bytes
// (little-endian, zero-extended to 8 bytes). Type code 0: no value yet.
#pragma once

#include "acx/CAcxLeafTagBase.h"

#include <cstring>

class CAcxDataTag : public CAcxLeafTagBase {
public:
    using CAcxLeafTagBase::CAcxLeafTagBase;

    void setValue(int typeCode, const void* value) {
        m_nTypeCode = typeCode;
        std::memcpy(&m_nValue, value, sizeof m_nValue);
    }
    int typeCode() const { return m_nTypeCode; }
    uint64_t value() const { return m_nValue; }

private:
    int m_nTypeCode = 0;
    uint64_t m_nValue = 0;
};
