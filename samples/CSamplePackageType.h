// CSamplePackageType: a package type ("SamplePack.1.0") with a runtime identifier.
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSamplePackageType final : public CSampleTypeObject<CSamplePackageType, IMC_RTTypeIdent> {
public:
    CSamplePackageType() : CSampleTypeObject(kSamplePackageName, TYPEID_SamplePackage) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SamplePackage, 3, 1};
        return S_OK;
    }
};
