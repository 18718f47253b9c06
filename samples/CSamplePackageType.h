// CSamplePackageType: a package type ("SamplePack.1.0") with a runtime
// identifier {RTFAMILY_SamplePackage, 3, 1} and the package features 3 (DCC
// content, value 2, and ST content, value 1).
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

namespace zeb::samples::package {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SamplePackage, 3, 1};
inline constexpr DWORD kFeatures = 3;
} // namespace zeb::samples::package

class CSamplePackageType final
    : public CSampleTypeObject<CSamplePackageType, IMC_RTTypeIdent, IMC_TPackageType> {
public:
    CSamplePackageType() : CSampleTypeObject(kSamplePackageName, TYPEID_SamplePackage) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = zeb::samples::package::kRuntimeId;
        return S_OK;
    }
    HRESULT getFeatures(DWORD* pFlags, DWORD* pRet) override {
        if (!pFlags || !pRet) return E_POINTER;
        *pFlags = zeb::samples::package::kFeatures;
        *pRet = 0;
        return S_OK;
    }
};
