// CSampleAxisType: a technology-object type ("SampleAxis.1.0") with a
// runtime identifier and a proxy identifier {proxy family, 2, 0}.
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleAxisType final
    : public CSampleTypeObject<CSampleAxisType, IMC_RTTypeIdent, IMC_ProxyTypeIdent> {
public:
    CSampleAxisType() : CSampleTypeObject(kSampleAxisName, TYPEID_SampleAxis) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SampleAxis, 1, 0};
        return S_OK;
    }
    HRESULT getProxyTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SampleAxisProxy, 2, 0};
        return S_OK;
    }
};
