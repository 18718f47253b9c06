// CSampleCamType: a technology-object type ("SampleCam.1.0") with a runtime
// identifier {RTFAMILY_SampleCam, 1, 0} and no proxy identifier.
//
// Its SD header (kind 1, "SampleCamOA", version 1, interface version 1, no
// ranges) stands for two OA applications:
//   "CamProfile"  {RTFAMILY_SampleCamProfileApp, 1, 0}, interface version 2,
//                 version 5, object classes 101 and 102;
//   "CamTable"    {RTFAMILY_SampleCamTableApp, 2, 1}, interface version 3,
//                 version 7, object class 102.
// So the applications of class 101 are CamProfile, those of class 102
// CamProfile and CamTable (in this order); other classes have none.
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/CSampleSDNavigate.h"
#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

#include <iterator>

// Runtime families of the cam's OA applications; no sample type has them.
constexpr GUID RTFAMILY_SampleCamProfileApp = makeGuid("5A3E2103-7B1C-4C2A-9E10-3D5F00000003");
constexpr GUID RTFAMILY_SampleCamTableApp = makeGuid("5A3E2203-7B1C-4C2A-9E10-3D5F00000003");

namespace zeb::samples::cam {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SampleCam, 1, 0};

// symbol, runtime identifier, interface version, version; object classes.
inline constexpr SampleOAApplication kApplications[] = {
    {{olestr(u"CamProfile"), {RTFAMILY_SampleCamProfileApp, 1, 0}, 2, 5}, {101, 102}, 2},
    {{olestr(u"CamTable"), {RTFAMILY_SampleCamTableApp, 2, 1}, 3, 7}, {102, 0}, 1},
};
inline constexpr SampleSDContent kSDContent{{1, olestr(u"SampleCamOA"), 1, 1, 0, nullptr},
                                            nullptr,
                                            0,
                                            kApplications,
                                            std::size(kApplications)};
} // namespace zeb::samples::cam

class CSampleCamType final
    : public CSampleTypeObject<CSampleCamType, IMC_RTTypeIdent,
                               CSampleSDNavigate<zeb::samples::cam::kSDContent>> {
public:
    CSampleCamType() : CSampleTypeObject(kSampleCamName, TYPEID_SampleCam) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = zeb::samples::cam::kRuntimeId;
        return S_OK;
    }
};
