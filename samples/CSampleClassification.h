// CSampleClassification: IMC_ObjectClassification answered from a constant
// record, for the sample types that tell where they belong.
//
//   inline constexpr SampleClassificationValues kAxisClassification{
//       "Motion", "Axes", 3, 42, {RTFAMILY_SampleAxis, 1, 0}, RTTYPEID_INVALID};
//   class CSampleAxisType final
//       : public CSampleTypeObject<CSampleAxisType, ...,
//                                  CSampleClassification<kAxisClassification>> { ... };
//
// The group texts come back as new BSTRs (the caller frees them with
// SysFreeString); a null out-pointer gives E_POINTER.
#pragma once

#include "h/IMC_TypeDescription.h"
#include "platform/com/Bstr.h"

#include <cstdint>

struct SampleClassificationValues {
    const char* group;
    const char* subGroup;
    uint16_t category;
    uint16_t typeClass;
    RTTypeID runtimeId;
    RTTypeID baseRuntimeId; // RTTYPEID_INVALID: based on no type
};

template <const SampleClassificationValues& V>
class CSampleClassification : public IMC_ObjectClassification {
public:
    HRESULT getTypeESTypeGroup(BSTR* pGroup) override { return text(V.group, pGroup); }
    HRESULT getTypeESTypeSubGroup(BSTR* pSubGroup) override { return text(V.subGroup, pSubGroup); }
    HRESULT getTypeCategory(uint16_t* pCategory) override { return value(V.category, pCategory); }
    HRESULT getTypeClass(uint16_t* pClass) override { return value(V.typeClass, pClass); }
    HRESULT getRuntimeID(RTTypeID* pRtId) override { return value(V.runtimeId, pRtId); }
    HRESULT getRuntimeIDBase(RTTypeID* pRtId) override { return value(V.baseRuntimeId, pRtId); }

private:
    static HRESULT text(const char* utf8, BSTR* out) {
        if (!out) return E_POINTER;
        *out = zeb::Bstr(utf8).Detach();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    template <class T> static HRESULT value(const T& v, T* out) {
        if (!out) return E_POINTER;
        *out = v;
        return S_OK;
    }
};
