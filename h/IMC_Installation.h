// The interfaces of the core installation object CZEBIntInstallation.
//
// Every operation returns an HRESULT that says whether the call was well
// formed (E_POINTER for a null out-argument, E_OUTOFMEMORY when a result
// cannot be copied to the caller, E_FAIL when something threw) and, where
// it has one, writes pRet: what the installation did (ResultCodes.h).
//
//   DWORD ret = 0;
//   hr = install->addTypeByClass(clsidDriveType, TC_Device, &ret);   // S_OK, ret 0
//   GUID id{};
//   hr = navigate->getTypeIdByName("Drive.1.0", &id, &ret);          // ret 0xBE020003 if absent
//
// Caller-owned results: GUID arrays, names, name maps and attribute arrays
// come from CoTaskMemAlloc and are freed by the caller with CoTaskMemFree;
// BSTRs with SysFreeString; interface pointers carry a reference for the
// caller. Type classes are signed 32-bit (LONG).
#pragma once

#include "h/TypeIdent.h"
#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

struct IStorage;

// The classes the component module serves.
constexpr CLSID CLSID_CZEBInstallation = makeGuid("CE1A6430-F891-11D2-903B-00105A2DC979");
constexpr CLSID CLSID_CZEBIntInstallation = makeGuid("6A438DB0-4613-11D5-AE4C-0040C7998E91");

// One entry of a name map: a type identifier and its task-allocated name.
// (A GUID and one pointer: 24 bytes with 64-bit pointers.)
struct ZEB_TypeNameEntry {
    GUID typeId;
    char* name;
};
static_assert(sizeof(ZEB_TypeNameEntry) == sizeof(GUID) + sizeof(char*));

// One attribute: key and value, each a BSTR owned by the receiver.
struct ZEB_AttrPair {
    BSTR key;
    BSTR value;
};
static_assert(sizeof(ZEB_AttrPair) == 2 * sizeof(BSTR));

// The 16-byte attribute block of a type.
struct ZEB_AttrBlock {
    BYTE data[16];
};
static_assert(sizeof(ZEB_AttrBlock) == 16);

struct IMC_Installation : IUnknown {
    static constexpr IID iid = makeGuid("162E24D6-F711-418E-A704-1493280FF146");
    // Installs the type whose type object has class clsidType (class 0-5 or 7).
    virtual HRESULT addTypeByClass(GUID clsidType, LONG typeClass, DWORD* pRet) = 0;
    // Installs a type under the caller's identifier and name (class 0, 1, 2, 4, 7 or 8).
    virtual HRESULT addTypeByClass(GUID clsidType, LONG typeClass, GUID typeId, LPCSTR name,
                                   DWORD* pRet) = 0;
    virtual HRESULT removeType(GUID typeId, DWORD* pRet) = 0;
    virtual HRESULT removeTypeByClass(GUID typeId, LONG typeClass, DWORD* pRet) = 0;
    virtual HRESULT saveChanges(DWORD* pRet) = 0;
    virtual HRESULT addTool(GUID toolTypeId, LPCOLESTR toolName, GUID toolClsid, DWORD value,
                            DWORD* pRet) = 0;
    virtual HRESULT removeToolByToolTypeID(GUID toolTypeId, DWORD* pRet) = 0;
};

struct IMC_InstallationDetails : IUnknown {
    static constexpr IID iid = makeGuid("D2B9AB90-9BF8-425B-8AD4-8A84F430D54A");
    virtual HRESULT addSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) = 0;
    virtual HRESULT removeSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) = 0;
    virtual HRESULT setDefaultSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) = 0;
    virtual HRESULT getDefaultSnapInByTypeID(GUID typeId, GUID* pSnapIn, DWORD* pRet) = 0;
    virtual HRESULT getSnapInListByTypeID(GUID typeId, DWORD* pCount, GUID** ppSnapIns,
                                          DWORD* pRet) = 0;
    virtual HRESULT addExtensionTypeByTypeID(GUID typeId, LPCSTR extName, GUID extClsid,
                                             DWORD* pRet) = 0;
    virtual HRESULT removeExtensionTypeByTypeID(GUID typeId, GUID extTypeId, DWORD* pRet) = 0;
    virtual HRESULT getExtensionTypeIDListByTypeID(GUID typeId, DWORD* pCount, GUID** ppExtIds,
                                                   DWORD* pRet) = 0;
    virtual HRESULT getExtensionTypeByTypeID(GUID typeId, GUID extTypeId, IUnknown** ppExt,
                                             DWORD* pRet) = 0;
    virtual HRESULT getExtensionTypeNameByTypeID(GUID typeId, GUID extTypeId, char** ppName,
                                                 DWORD* pRet) = 0;
    virtual HRESULT isExtensionType(GUID typeId, GUID extTypeId, BOOL* pIsExt) = 0;
    virtual HRESULT setAttributeByTypeID(GUID clsidType, BSTR bstrAttrKey, BSTR bstrAttrValue,
                                         DWORD* pRet) = 0;
    virtual HRESULT removeAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, DWORD* pRet) = 0;
    virtual HRESULT getAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, BSTR* pbstrValue,
                                         DWORD* pRet) = 0;
};

struct IMC_InternalInstallation : IUnknown {
    static constexpr IID iid = makeGuid("6EE23B63-1B3B-4A49-851B-13B81467795C");
    virtual HRESULT getTypeStorage(GUID typeId, DWORD access, IStorage** ppStorage,
                                   DWORD* pRet) = 0;
    virtual HRESULT setTypeStorage(GUID typeId, DWORD access, IStorage* pSource, DWORD* pRet) = 0;
    virtual HRESULT createNativeTypeObject(GUID typeId, DWORD access, IUnknown** ppObject,
                                           DWORD* pRet) = 0;
    virtual HRESULT removeTypeObjectFromCache(GUID typeId, DWORD access, IUnknown* pObject,
                                              DWORD* pRet) = 0;
    virtual HRESULT clearTypeCache(DWORD access, DWORD* pRet) = 0;
    virtual HRESULT getClsidByToolTypeID(GUID toolTypeId, DWORD access, CLSID* pClsid,
                                         DWORD* pRet) = 0;
    virtual HRESULT exportTypeData(GUID typeId, IStorage** ppStorage, DWORD* pRet) = 0;
    virtual HRESULT importTypeData(IStorage* pSource, DWORD* pRet) = 0;
    virtual HRESULT getAttrListByTypeID(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                        DWORD* pRet) = 0;
    virtual HRESULT refreshXMLTypeOnDemand(DWORD* pRet) = 0;
};

struct IMC_InstallNavigate : IUnknown {
    static constexpr IID iid = makeGuid("FBB9E700-715C-11D5-AE4D-00105A378704");
    virtual HRESULT getTypeIDList(DWORD* pCount, GUID** ppTypeIds) = 0;
    virtual HRESULT getTypeIDListByClass(LONG typeClass, DWORD* pCount, GUID** ppTypeIds) = 0;
    virtual HRESULT getTypeIDListByVIDName(LPCSTR name, DWORD* pCount, GUID** ppTypeIds) = 0;
    virtual HRESULT getTypeNameMap(DWORD* pCount, ZEB_TypeNameEntry** ppMap) = 0;
    virtual HRESULT getTypeNameMapByClass(LONG typeClass, DWORD* pCount,
                                          ZEB_TypeNameEntry** ppMap) = 0;
    virtual HRESULT getTypeByID(GUID typeId, IUnknown** ppType, DWORD* pRet) = 0;
    virtual HRESULT getTypeByIDAndClass(GUID typeId, LONG typeClass, IUnknown** ppType,
                                        DWORD* pRet) = 0;
    virtual HRESULT getTypeNameByID(GUID typeId, char** ppName, DWORD* pRet) = 0;
    virtual HRESULT getTypeVIDNameByID(GUID typeId, char** ppName, DWORD* pRet) = 0;
    virtual HRESULT getTypeNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                            DWORD* pRet) = 0;
    virtual HRESULT getTypeVIDNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                               DWORD* pRet) = 0;
    virtual HRESULT getTypeIdByName(LPCSTR name, GUID* pTypeId, DWORD* pRet) = 0;
    virtual HRESULT getTypeIdByVIDName(LPCSTR name, GUID* pTypeId, DWORD* pRet) = 0;
    virtual HRESULT getTypeIdByNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                            DWORD* pRet) = 0;
    virtual HRESULT getTypeIdByVIDNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                               DWORD* pRet) = 0;
    virtual HRESULT isType(GUID typeId, BOOL* pIsType) = 0;
    virtual HRESULT getTypeClass(GUID typeId, LONG* pTypeClass, DWORD* pRet) = 0;
    virtual HRESULT getTypeIDByRTID(RTTypeID rtTypeId, GUID* pTypeId, DWORD* pRet) = 0;
    virtual HRESULT getTypeIDByRTIDandClass(RTTypeID rtTypeId, LONG typeClass, GUID* pTypeId,
                                            DWORD* pRet) = 0;
    virtual HRESULT getRTIDByTypeID(GUID typeId, RTTypeID* pRTTypeId, DWORD* pRet) = 0;
    virtual HRESULT getRTIDByTypeIDandClass(GUID typeId, LONG typeClass, RTTypeID* pRTTypeId,
                                            DWORD* pRet) = 0;
    virtual HRESULT getToolByToolTypeID(GUID toolTypeId, IUnknown** ppTool, DWORD* pRet) = 0;
    virtual HRESULT isTool(GUID toolTypeId, BOOL* pIsTool) = 0;
};

struct IMC_PEInstallation : IUnknown {
    static constexpr IID iid = makeGuid("1A8F53A8-B137-4C23-BFBC-5BAEFD852A52");
    virtual HRESULT getAttributes(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                  DWORD* pRet) = 0;
    virtual HRESULT getAttributes(GUID typeId, ZEB_AttrBlock* pBlock, DWORD* pRet) = 0;
};

// The named XPath queries of the classification document, evaluated by name.
// A query selects attributes; the result is a VT_BSTR for one, VT_ARRAY |
// VT_BSTR (one dimension, lower bound 0, document order) for several; the
// caller clears it. pRet holds plain numbers: 0, 9 (the first node selected
// is no attribute), 13 (query not registered), 29 (a placeholder problem),
// 44 (nothing selected), 65535. A query that is no XPath, or one over the
// limits of the evaluation, answers E_FAIL.
//
//   Variant result;
//   DWORD ret = 0;
//   hr = queries->getTypeDescrAttr(typeId, Bstr(u"vendor"), &result, &ret);
//   // the stored ".//*[ESType/@ESID=\"%estypeid\"]/@Vendor" for that type
struct IMC_InstallClassification : IUnknown {
    static constexpr IID iid = makeGuid("CB55204B-8378-4711-ACC9-64B1B790F00D");
    // The stored query as it is (no placeholder replaced).
    virtual HRESULT getTypeDescr(BSTR queryId, VARIANT* pResult, DWORD* pRet) = 0;
    // The stored query with every "%estypeid" replaced by the type's identifier.
    virtual HRESULT getTypeDescrAttr(GUID typeId, BSTR queryId, VARIANT* pResult, DWORD* pRet) = 0;
    // The stored query with %param1% ... %paramN% replaced by the parameters'
    // texts, each matched literally (see CIsXmlQueryText).
    virtual HRESULT getTypeDescrParam(LONG count, VARIANT* pParams, BSTR queryId, VARIANT* pResult,
                                      DWORD* pRet) = 0;
};

// The classification document of the installation: the document itself, the
// merging of type descriptions and package files into it, and the named
// XPath queries clients evaluate on it.
//
//   ComPtr<IUnknown> doc;
//   hr = classification->getInstallationDocument(&doc, &ret);   // the live document
//   ComQIPtr<IXMLDOMDocument2> dom(doc);
struct IMC_InternalInstallClassification : IUnknown {
    static constexpr IID iid = makeGuid("278A7429-CA52-44A2-A017-523191C6D667");
    virtual HRESULT addXMLTypeDescription(IUnknown* pNode, DWORD* pRet) = 0;
    virtual HRESULT addPackageFile(LPCSTR packageName, LPCSTR deviceTypeName, BSTR fileName,
                                   DWORD* pRet) = 0;
    virtual HRESULT removePackageFile(LPCSTR packageName, LPCSTR deviceTypeName, DWORD* pRet) = 0;
    virtual HRESULT registerXPathQuery(LPCSTR queryId, LPCSTR xpath, DWORD* pRet) = 0;
    virtual HRESULT unregisterXPathQuery(LPCSTR queryId, DWORD* pRet) = 0;
    // A new reference to the live document (not a copy); pRet 0.
    virtual HRESULT getInstallationDocument(IUnknown** ppDocument, DWORD* pRet) = 0;
};
