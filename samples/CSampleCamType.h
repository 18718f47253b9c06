// CSampleCamType: a technology-object type ("SampleCam.1.0") without a proxy identifier.
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleCamType final : public CSampleTypeObject<CSampleCamType, IMC_RTTypeIdent> {
public:
    CSampleCamType() : CSampleTypeObject(kSampleCamName, TYPEID_SampleCam) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SampleCam, 1, 0};
        return S_OK;
    }
};
