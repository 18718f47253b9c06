// The header record a PD-file yields (CIsAcxReader::init). Version stamps
// and the ES GUID are all bytes 0xFF while not set; numbers are 0.
#pragma once

#include "h/TypeIdent.h"

#include <cstdint>
#include <string>

struct CIsAcxDscHeader {
    RTTypeID m_rtStamp = RTTYPEID_INVALID; // not set from a PD-file
    RTTypeID m_rtTypeStamp =
        RTTYPEID_INVALID; // the view data's stamp when set, else the base data's
    RTTypeID m_rtBaseStamp = RTTYPEID_INVALID; // the base data's stamp when the view data's was set
    std::string m_strTag150;                   // header string of tag 150
    std::string m_strTag67;                    // header string of tag 67
    uint16_t m_wViewId = 0;                    // tag 2129 of the base data
    int16_t m_bDataSetHandling = 0;            // tag 2146 of the base data
    int16_t m_bParallelConnectable = 0;        // tag 136 of the view data
    uint16_t m_wTag2088 = 0;     // 0xFFFF when the base section lacks it, 0 without base section
    uint16_t m_wTag2089 = 0;     // likewise
    GUID m_guidEs = GUID_NOTYPE; // from the view data when its stamp was set, else the base data
    std::string m_strEsName;     // from the same data
    uint32_t m_dwTag17 = 0;      // tag 17 of the base data
};
