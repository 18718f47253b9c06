// CSampleAxisType: a technology-object type ("SampleAxis.1.0") with a
// runtime identifier {RTFAMILY_SampleAxis, 1, 0} and a proxy identifier
// {RTFAMILY_SampleAxisProxy, 2, 0}.
//
// It navigates to two technology-object types: SampleCam {RTFAMILY_SampleCam,
// 1, 0}, an installed sample type, and {RTFAMILY_SampleFollower, 3, 0}, which
// no sample type has. Its classification is "Motion" / "Axes", category 3,
// class 42, its own runtime identifier and no base (RTTYPEID_INVALID).
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/CSampleClassification.h"
#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

// A technology-object runtime family that no sample type has.
constexpr GUID RTFAMILY_SampleFollower = makeGuid("5A3E2F02-7B1C-4C2A-9E10-3D5F00000002");

namespace zeb::samples::axis {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SampleAxis, 1, 0};
inline constexpr RTTypeID kProxyId{RTFAMILY_SampleAxisProxy, 2, 0};
inline constexpr RTTypeID kTObjectTypes[] = {{RTFAMILY_SampleCam, 1, 0},
                                             {RTFAMILY_SampleFollower, 3, 0}};
inline constexpr SampleClassificationValues kClassification{"Motion", "Axes",     3,
                                                            42,       kRuntimeId, RTTYPEID_INVALID};
} // namespace zeb::samples::axis

class CSampleAxisType final
    : public CSampleTypeObject<CSampleAxisType, IMC_RTTypeIdent, IMC_ProxyTypeIdent,
                               IMC_TPTNavigate,
                               CSampleClassification<zeb::samples::axis::kClassification>> {
public:
    CSampleAxisType() : CSampleTypeObject(kSampleAxisName, TYPEID_SampleAxis) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = zeb::samples::axis::kRuntimeId;
        return S_OK;
    }
    HRESULT getProxyTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = zeb::samples::axis::kProxyId;
        return S_OK;
    }
    HRESULT getTObjectTypeRTIDList(DWORD* pCount, RTTypeID** ppRTTypeIds, DWORD* pRet) override {
        if (!pCount || !ppRTTypeIds || !pRet) return E_POINTER;
        *pRet = 0;
        return zeb::samples::taskListCopy(zeb::samples::axis::kTObjectTypes, pCount, ppRTTypeIds);
    }
};
