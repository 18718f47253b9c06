// CSamplePackageType: a package type ("SamplePack.1.0") with a runtime
// identifier {RTFAMILY_SamplePackage, 3, 1} and the package features 3 (DCC
// content, value 2, and ST content, value 1). It depends on the sample Drive
// and Cam types (an export of the package carries them along), and its
// installation step finishes at once.
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

#include "platform/com/TaskAllocator.h"

#include <cstring>

namespace zeb::samples::package {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SamplePackage, 3, 1};
inline constexpr DWORD kFeatures = 3;
} // namespace zeb::samples::package

class CSamplePackageType final : public CSampleTypeObject<CSamplePackageType, IMC_RTTypeIdent,
                                                          IMC_TPackageType, IMC_InternalType> {
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
    HRESULT OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        *pdwRet = 0;
        if (pICallback) pICallback->processFinished(S_OK);
        return S_OK;
    }
    HRESULT getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) override {
        if (!pCount || !ppTypeIds || !pRet) return E_POINTER;
        static constexpr GUID kDepends[] = {TYPEID_SampleDrive, TYPEID_SampleCam};
        *ppTypeIds = static_cast<GUID*>(CoTaskMemAlloc(sizeof kDepends));
        if (!*ppTypeIds) return E_OUTOFMEMORY;
        std::memcpy(*ppTypeIds, kDepends, sizeof kDepends);
        *pCount = 2;
        *pRet = 0;
        return S_OK;
    }
};

// CSampleBundleType: a package type ("SampleBundle.1.0", runtime identifier
// {RTFAMILY_SampleBundle, 1, 0}) that depends on the numbered types 1 to 10;
// its installation step finishes at once.
class CSampleBundleType final : public CSampleTypeObject<CSampleBundleType, IMC_RTTypeIdent,
                                                         IMC_TPackageType, IMC_InternalType> {
public:
    CSampleBundleType() : CSampleTypeObject(kSampleBundleName, TYPEID_SampleBundle) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SampleBundle, 1, 0};
        return S_OK;
    }
    HRESULT getFeatures(DWORD* pFlags, DWORD* pRet) override {
        if (!pFlags || !pRet) return E_POINTER;
        *pFlags = 0;
        *pRet = 0;
        return S_OK;
    }
    HRESULT OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        *pdwRet = 0;
        if (pICallback) pICallback->processFinished(S_OK);
        return S_OK;
    }
    HRESULT getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) override {
        if (!pCount || !ppTypeIds || !pRet) return E_POINTER;
        constexpr DWORD kCount = 10;
        *ppTypeIds = static_cast<GUID*>(CoTaskMemAlloc(kCount * sizeof(GUID)));
        if (!*ppTypeIds) return E_OUTOFMEMORY;
        for (DWORD n = 0; n < kCount; ++n)
            (*ppTypeIds)[n] = zeb::samples::numberedTypeId(n + 1);
        *pCount = kCount;
        *pRet = 0;
        return S_OK;
    }
};
