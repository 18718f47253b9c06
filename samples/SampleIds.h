// Identities of the sample components: class identifiers, type identifiers,
// names and runtime identifiers of the sample types, extensions and project
// handler served by libzebsamples.so.
//
//   zeb::samples::registerServer();              // writes the classes into the registry store
//   cont.addType(TC_Device, CLSID_SampleDriveType, id);   // id == TYPEID_SampleDrive
#pragma once

#include "h/TypeIdent.h"
#include "platform/com/Unknown.h"

#include <cstdint>
#include <string>

// Device with a runtime identifier.
constexpr CLSID CLSID_SampleDriveType = makeGuid("5A3E0001-7B1C-4C2A-9E10-3D5F00000001");
constexpr GUID TYPEID_SampleDrive = makeGuid("5A3E1001-7B1C-4C2A-9E10-3D5F00000001");
constexpr GUID RTFAMILY_SampleDrive = makeGuid("5A3E2001-7B1C-4C2A-9E10-3D5F00000001");
// Technology object with a proxy identifier.
constexpr CLSID CLSID_SampleAxisType = makeGuid("5A3E0002-7B1C-4C2A-9E10-3D5F00000002");
constexpr GUID TYPEID_SampleAxis = makeGuid("5A3E1002-7B1C-4C2A-9E10-3D5F00000002");
constexpr GUID RTFAMILY_SampleAxis = makeGuid("5A3E2002-7B1C-4C2A-9E10-3D5F00000002");
constexpr GUID RTFAMILY_SampleAxisProxy = makeGuid("5A3E3002-7B1C-4C2A-9E10-3D5F00000002");
// Technology object without a proxy identifier.
constexpr CLSID CLSID_SampleCamType = makeGuid("5A3E0003-7B1C-4C2A-9E10-3D5F00000003");
constexpr GUID TYPEID_SampleCam = makeGuid("5A3E1003-7B1C-4C2A-9E10-3D5F00000003");
constexpr GUID RTFAMILY_SampleCam = makeGuid("5A3E2003-7B1C-4C2A-9E10-3D5F00000003");
// Package.
constexpr CLSID CLSID_SamplePackageType = makeGuid("5A3E0004-7B1C-4C2A-9E10-3D5F00000004");
constexpr GUID TYPEID_SamplePackage = makeGuid("5A3E1004-7B1C-4C2A-9E10-3D5F00000004");
constexpr GUID RTFAMILY_SamplePackage = makeGuid("5A3E2004-7B1C-4C2A-9E10-3D5F00000004");
// Program (an internal type).
constexpr CLSID CLSID_SampleProgramType = makeGuid("5A3E0005-7B1C-4C2A-9E10-3D5F00000005");
constexpr GUID TYPEID_SampleProgram = makeGuid("5A3E1005-7B1C-4C2A-9E10-3D5F00000005");
// Generic type served only through the type class factory: it takes its
// name and identifier from the installer.
constexpr CLSID CLSID_SampleGenericType = makeGuid("5A3E0006-7B1C-4C2A-9E10-3D5F00000006");
// Sub-object type that finishes its installation asynchronously on another thread.
constexpr CLSID CLSID_SampleAsyncType = makeGuid("5A3E0007-7B1C-4C2A-9E10-3D5F00000007");
constexpr GUID TYPEID_SampleAsync = makeGuid("5A3E1007-7B1C-4C2A-9E10-3D5F00000007");
// Extension objects: plain and OEM (wrapped by a reverse object).
constexpr CLSID CLSID_SampleExtension = makeGuid("5A3E0008-7B1C-4C2A-9E10-3D5F00000008");
constexpr GUID EXTTYPEID_SampleExtension = makeGuid("5A3E1008-7B1C-4C2A-9E10-3D5F00000008");
constexpr CLSID CLSID_SampleOemExtension = makeGuid("5A3E0009-7B1C-4C2A-9E10-3D5F00000009");
constexpr GUID EXTTYPEID_SampleOemExtension = makeGuid("5A3E1009-7B1C-4C2A-9E10-3D5F00000009");
// A package that depends on the numbered types 1 to 10 (zeb::samples::
// numberedTypeId), for exchanges with many dependencies.
constexpr CLSID CLSID_SampleBundleType = makeGuid("5A3E000B-7B1C-4C2A-9E10-3D5F0000000B");
constexpr GUID TYPEID_SampleBundle = makeGuid("5A3E100B-7B1C-4C2A-9E10-3D5F0000000B");
constexpr GUID RTFAMILY_SampleBundle = makeGuid("5A3E200B-7B1C-4C2A-9E10-3D5F0000000B");
// The sample project handler (served under its own class, not the product's).
constexpr CLSID CLSID_SampleProjectHdl = makeGuid("5A3E000A-7B1C-4C2A-9E10-3D5F0000000A");

constexpr const char* kSampleDriveName = "SampleDrive.1.0";
constexpr const char* kSampleAxisName = "SampleAxis.1.0";
constexpr const char* kSampleCamName = "SampleCam.1.0";
constexpr const char* kSamplePackageName = "SamplePack.1.0";
constexpr const char* kSampleProgramName = "SampleProgram.1.0";
constexpr const char* kSampleAsyncName = "SampleAsync.1.0";
constexpr const char* kSampleExtensionName = "SampleExt";
constexpr const char* kSampleOemExtensionName = "SampleOemExt";
constexpr const char* kSampleBundleName = "SampleBundle.1.0";

// PD-files of samples/pdfiles for the type attribute BI_TYPE_PDFILENAME
// (a file name in the configuration directory):
//   Drive.pd  view id 3, data-set handling 1, parallel connectable 1;
//   Cam.pd    view id 0, data-set handling 0, parallel connectable 0 (no
//             view data in the file).
//   inst->setAttributeByTypeID(TYPEID_SampleDrive, zeb::Bstr(kSamplePdFileAttribute),
//                              zeb::Bstr(kSampleDrivePdFile), &ret);
constexpr const char* kSamplePdFileAttribute = "BI_TYPE_PDFILENAME";
constexpr const char* kSampleDrivePdFile = "Drive.pd";
constexpr const char* kSampleCamPdFile = "Cam.pd";

namespace zeb::samples {

// Numbered device types for volume tests: type n has CLSID, type identifier
// and runtime family derived from n, the name "BenchType<n>.1.0" and the
// runtime identifier {family(n), 1, 0}.
CLSID numberedTypeClsid(uint32_t n);
GUID numberedTypeId(uint32_t n);
GUID numberedTypeFamily(uint32_t n);
std::string numberedTypeName(uint32_t n);
// The class object of numbered type n (IClassFactory), with a reference.
HRESULT numberedTypeClassObject(uint32_t n, IUnknown** out);

// Writes every sample class into the registry store, served by this
// library (InprocServer32 = its own path). True on success.
bool registerServer();

} // namespace zeb::samples
