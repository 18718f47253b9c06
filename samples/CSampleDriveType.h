// CSampleDriveType: a device type ("SampleDrive.1.0") with a runtime
// identifier {RTFAMILY_SampleDrive, 1, 0} that describes itself through
// sub-objects, connectors, SD content (header kind 0) and its classification.
//
// What it answers is the tables below, nothing else:
//   sub-objects  "Brake" at 16 and "Fan" at 3000000000, both of type
//                TYPEID_SampleAsync (an address above 2^31 shows a signed
//                conversion);
//   connectors   three, with different directions, flags, exclusive groups
//                and versions (a minor version 65535 shows a signed
//                conversion);
//   SD header    kind 0, "SampleDriveSD", version 3, OA interface version 2,
//                compatible ranges 1..2 and 4..4294967295;
//   classification  "Drives" / "Servo", category 2, class 17, its own
//                runtime identifier, based on {RTFAMILY_SampleDriveBase, 2, 1}.
// The OA application calls of IMC_SDNavigate answer empty lists (the header
// describes SD content, not applications).
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/CSampleClassification.h"
#include "samples/CSampleSDNavigate.h"
#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

#include <iterator>

// The runtime family the drive's classification names as its base; no
// sample type has it.
constexpr GUID RTFAMILY_SampleDriveBase = makeGuid("5A3E2101-7B1C-4C2A-9E10-3D5F00000001");
// Interface identifiers of the drive's connectors.
constexpr GUID IFID_SampleBus = makeGuid("5A3E4001-7B1C-4C2A-9E10-3D5F00000001");
constexpr GUID IFID_SampleEncoder = makeGuid("5A3E4002-7B1C-4C2A-9E10-3D5F00000001");
constexpr GUID IFID_SampleTelegram = makeGuid("5A3E4003-7B1C-4C2A-9E10-3D5F00000001");

namespace zeb::samples::drive {
inline constexpr RTTypeID kRuntimeId{RTFAMILY_SampleDrive, 1, 0};

inline constexpr ZEB_SubObjectEntry kSubObjects[] = {
    {TYPEID_SampleAsync, olestr(u"Brake"), 16},
    {TYPEID_SampleAsync, olestr(u"Fan"), 3000000000u},
};

// ifID, name, interface, incoming, outgoing, remote, multipoint, necessary,
// exclusive group, version {major, minor}.
inline constexpr ZEB_ConnectorProps kConnectors[] = {
    {1, olestr(u"DriveBus"), IFID_SampleBus, TRUE, FALSE, FALSE, FALSE, TRUE, 0, {1, 0}},
    {2, olestr(u"Encoder"), IFID_SampleEncoder, FALSE, TRUE, FALSE, TRUE, FALSE, 1, {2, 3}},
    {3, olestr(u"Telegram"), IFID_SampleTelegram, TRUE, TRUE, TRUE, FALSE, FALSE, 1, {4, 65535}},
};

inline constexpr ZEB_OACompatibleRange kCompatibleRanges[] = {{1, 2}, {4, 4294967295u}};
// Kind 0: name, version 3, OA interface version 2, the ranges above.
inline constexpr SampleSDContent kSDContent{{0, olestr(u"SampleDriveSD"), 3, 2, 0, nullptr},
                                            kCompatibleRanges,
                                            std::size(kCompatibleRanges),
                                            nullptr,
                                            0};

inline constexpr SampleClassificationValues kClassification{
    "Drives", "Servo", 2, 17, kRuntimeId, {RTFAMILY_SampleDriveBase, 2, 1}};
} // namespace zeb::samples::drive

class CSampleDriveType final
    : public CSampleTypeObject<CSampleDriveType, IMC_RTTypeIdent, IMC_SubObjects,
                               IMC_ConnectorProps,
                               CSampleSDNavigate<zeb::samples::drive::kSDContent>,
                               CSampleClassification<zeb::samples::drive::kClassification>> {
public:
    CSampleDriveType() : CSampleTypeObject(kSampleDriveName, TYPEID_SampleDrive) {}
    HRESULT getRTTypeID(RTTypeID* out) override {
        if (!out) return E_POINTER;
        *out = zeb::samples::drive::kRuntimeId;
        return S_OK;
    }
    HRESULT getSubObjectEntryList(DWORD* pCount, ZEB_SubObjectEntry** ppEntries) override {
        if (!pCount || !ppEntries) return E_POINTER;
        return zeb::samples::taskListCopy(zeb::samples::drive::kSubObjects, pCount, ppEntries,
                                          &ZEB_SubObjectEntry::lpszName);
    }
    HRESULT getConnectorPropsList(DWORD* pCount, ZEB_ConnectorProps** ppEntries,
                                  DWORD* pRet) override {
        if (!pCount || !ppEntries || !pRet) return E_POINTER;
        *pRet = 0;
        return zeb::samples::taskListCopy(zeb::samples::drive::kConnectors, pCount, ppEntries,
                                          &ZEB_ConnectorProps::lpszName);
    }
};
