// CSampleDriveType: a device type ("SampleDrive.1.0") with a runtime identifier.
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleDriveType final : public CSampleTypeObject<CSampleDriveType, IMC_RTTypeIdent> {
public:
    CSampleDriveType() : CSampleTypeObject(kSampleDriveName, TYPEID_SampleDrive) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = RTTypeID{RTFAMILY_SampleDrive, 1, 0};
        return S_OK;
    }
};
