// The description interfaces of type objects: what a type object may tell
// about itself for the classification document (sub-objects, connectors,
// technology objects it navigates to, SD and OA contents, package features,
// its classification). Each is optional; the installation asks the type
// object for it and skips what it does not offer. The runtime identity comes
// through IMC_RTTypeIdent (IMC_TypeObject.h).
//
//   ComQIPtr<IMC_TPackageType> spIPack(spIType);
//   DWORD flags = 0, ret = 0;
//   if (spIPack && spIPack->getFeatures(&flags, &ret) == S_OK && ret == 0) ...
//
// Lists, the strings inside their entries and the strings of the header
// record are allocated with the task allocator; the caller frees every one
// of them (CoTaskMemFree), also after a call that failed. The identifiers
// and the order of the operations are fixed: type objects built elsewhere
// answer through them.
#pragma once

#include "h/TypeIdent.h"
#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"

#include <cstdint>

// One sub-object of a type.
struct ZEB_SubObjectEntry {
    GUID typeID;       // the sub-object's type identifier
    LPOLESTR lpszName; // task-allocated
    uint32_t objAddr;  // the sub-object's address
};

struct ZEB_ConnectorVersion {
    uint16_t nMajor;
    uint16_t nMinor;
};

// One connector of a type.
struct ZEB_ConnectorProps {
    uint32_t ifID;     // the interface number
    LPOLESTR lpszName; // task-allocated
    GUID guidType;     // the interface identifier
    BOOL bIncoming;    // nonzero = true, as the four flags after it
    BOOL bOutgoing;
    BOOL bRemote;
    BOOL bMultipoint;
    BOOL bNecessary;
    uint16_t nExclusiveGroup;
    ZEB_ConnectorVersion version;
};

// A range of OA interface versions an SD content is compatible with.
struct ZEB_OACompatibleRange {
    uint32_t dwMinVersion;
    uint32_t dwMaxVersion;
};

// What the SD header of a type says.
struct ZEB_SDHeaderDetails {
    // 0: the header describes SD content (name, versions, ranges);
    // 1: the header stands for a list of OA applications.
    uint32_t dwKind;
    LPOLESTR lpszName; // task-allocated
    uint32_t dwVersion;
    uint32_t dwInterfaceVersion;
    uint32_t dwRangeCount;
    ZEB_OACompatibleRange* pRanges; // task-allocated, dwRangeCount entries
};

// Selects OA applications; every field 0 selects all, dwType selects those
// of one object class.
struct ZEB_OAApplSelection {
    uint32_t dwType;
    uint32_t dwSubType;
    RTTypeID rtID;
};

// One OA application.
struct ZEB_OAApplDetails {
    LPOLESTR lpszOAApplSymbol; // task-allocated
    RTTypeID rtID;
    uint32_t dwInterfaceVersion;
    uint32_t dwVersion;
};

// The sub-objects a type consists of.
struct IMC_SubObjects : IUnknown {
    static constexpr IID iid = makeGuid("F734EA75-55D7-44F5-BC43-77B732751A3A");
    virtual HRESULT getSubObjectEntryList(DWORD* pCount, ZEB_SubObjectEntry** ppEntries) = 0;
};

// The connectors of a type.
struct IMC_ConnectorProps : IUnknown {
    static constexpr IID iid = makeGuid("96666E5D-BB97-429F-8632-3D8EAB79D0F2");
    virtual HRESULT getConnectorPropsList(DWORD* pCount, ZEB_ConnectorProps** ppEntries,
                                          DWORD* pRet) = 0;
};

// The technology-object types a type navigates to (by runtime identifier).
struct IMC_TPTNavigate : IUnknown {
    static constexpr IID iid = makeGuid("E195E236-5F81-492E-BA11-DC9F091ED40E");
    virtual HRESULT getTObjectTypeRTIDList(DWORD* pCount, RTTypeID** ppRTTypeIds, DWORD* pRet) = 0;
};

// The SD content of a type and the OA applications it carries.
struct IMC_SDNavigate : IUnknown {
    static constexpr IID iid = makeGuid("7ED5C720-77D7-4CF6-A8CD-7D1E521B0BF6");
    // Fills *pDetails (its name and ranges task-allocated).
    virtual HRESULT getSDHeaderDetails(ZEB_SDHeaderDetails* pDetails, DWORD* pRet) = 0;
    // reserved is 0.
    virtual HRESULT getApplicationTypeDetailsList(DWORD reserved,
                                                  const ZEB_OAApplSelection* pSelection,
                                                  DWORD* pCount, ZEB_OAApplDetails** ppList,
                                                  DWORD* pRet) = 0;
    // The object classes an application supports. reserved is 0.
    virtual HRESULT getApplicationSupportedDOClasses(DWORD reserved, RTTypeID applRtId,
                                                     DWORD* pCount, DWORD** ppClasses,
                                                     DWORD* pRet) = 0;
};

// The features of a package type: bit 1 (value 2) DCC content, bit 0
// (value 1) ST content.
struct IMC_TPackageType : IUnknown {
    static constexpr IID iid = makeGuid("C8985395-4F51-4D3C-BE4A-035184EDAB43");
    virtual HRESULT getFeatures(DWORD* pFlags, DWORD* pRet) = 0;
};

// Where a type belongs: its group and sub-group, object category and class,
// and the runtime identifier of the type it is based on (RTTYPEID_INVALID:
// none).
struct IMC_ObjectClassification : IUnknown {
    static constexpr IID iid = makeGuid("E78FA1E6-0347-4E55-9CE6-B5285F140D11");
    virtual HRESULT getTypeESTypeGroup(BSTR* pGroup) = 0;
    virtual HRESULT getTypeESTypeSubGroup(BSTR* pSubGroup) = 0;
    virtual HRESULT getTypeCategory(uint16_t* pCategory) = 0;
    virtual HRESULT getTypeClass(uint16_t* pClass) = 0;
    virtual HRESULT getRuntimeID(RTTypeID* pRtId) = 0;
    virtual HRESULT getRuntimeIDBase(RTTypeID* pRtId) = 0;
};
