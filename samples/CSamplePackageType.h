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
#include <vector>

namespace zeb::samples::package {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SamplePackage, 3, 1};
inline constexpr DWORD kFeatures = 3;
} // namespace zeb::samples::package

// The package types: a runtime identifier, their package features, a list
// of the types they depend on, and an installation step that finishes at once.
template <class Derived>
class CSampleDependentPackage
    : public CSampleTypeObject<Derived, IMC_RTTypeIdent, IMC_TPackageType, IMC_InternalType> {
public:
    CSampleDependentPackage(const char* name, const GUID& typeId, const RTTypeID& runtimeId,
                            DWORD features, std::vector<GUID> depends)
        : CSampleTypeObject<Derived, IMC_RTTypeIdent, IMC_TPackageType, IMC_InternalType>(name,
                                                                                          typeId),
          m_runtimeId(runtimeId), m_features(features), m_depends(std::move(depends)) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = m_runtimeId;
        return S_OK;
    }
    HRESULT getFeatures(DWORD* pFlags, DWORD* pRet) override {
        if (!pFlags || !pRet) return E_POINTER;
        *pFlags = m_features;
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
        const size_t bytes = m_depends.size() * sizeof(GUID);
        *ppTypeIds = static_cast<GUID*>(CoTaskMemAlloc(bytes));
        if (!*ppTypeIds) return E_OUTOFMEMORY;
        if (bytes) std::memcpy(*ppTypeIds, m_depends.data(), bytes);
        *pCount = DWORD(m_depends.size());
        *pRet = 0;
        return S_OK;
    }

private:
    RTTypeID m_runtimeId;
    DWORD m_features;
    std::vector<GUID> m_depends;
};

// "SamplePack.1.0": depends on the sample Drive and Cam types.
class CSamplePackageType final : public CSampleDependentPackage<CSamplePackageType> {
public:
    CSamplePackageType()
        : CSampleDependentPackage(
              kSamplePackageName, TYPEID_SamplePackage, zeb::samples::package::kRuntimeId,
              zeb::samples::package::kFeatures, {TYPEID_SampleDrive, TYPEID_SampleCam}) {}
};

// "SampleBundle.1.0" (runtime identifier {RTFAMILY_SampleBundle, 1, 0}, no
// features): depends on the numbered types 1 to 10.
class CSampleBundleType final : public CSampleDependentPackage<CSampleBundleType> {
public:
    CSampleBundleType()
        : CSampleDependentPackage(kSampleBundleName, TYPEID_SampleBundle,
                                  RTTypeID{RTFAMILY_SampleBundle, 1, 0}, 0, numberedDepends()) {}

private:
    static std::vector<GUID> numberedDepends() {
        std::vector<GUID> ids;
        for (uint32_t n = 1; n <= 10; ++n)
            ids.push_back(zeb::samples::numberedTypeId(n));
        return ids;
    }
};
