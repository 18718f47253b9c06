// CZEBInstallation: the public face of the installation for callers that
// create it directly by its class. It holds no data: it obtains the
// installation from the engineering system's project handler
// (CLSID_CZEBProjectHdl) or, where there is none, makes the core object
// (CLSID_CZEBIntInstallation) itself, and hands every call on unchanged.
//
//   ComPtr<IMC_Installation> inst;
//   inst.CoCreateInstance(CLSID_CZEBInstallation);      // through the registry store
//   DWORD ret = 0;
//   inst->addTypeByClass(clsidDriveType, TC_Device, &ret);
//
// An interface the installation does not offer answers E_FAIL on every call
// (so does everything when no installation could be had). The facade does
// not offer IMC_PEInstallation. Both creations go through the runtime, so a
// registered project handler takes precedence and the core object comes from
// wherever its class is registered.
#pragma once

#include "co/CCoCtorDtorTracer.h"
#include "h/IMC_Installation.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

#include <functional>

class CZEBInstallation final
    : public zeb::ComObject<CZEBInstallation, IMC_Installation, IMC_InstallationDetails,
                            IMC_InternalInstallation, IMC_InstallNavigate,
                            IMC_InstallClassification, IMC_InternalInstallClassification> {
public:
    // Obtains the installation (never fails: what is missing answers E_FAIL).
    HRESULT FinalConstruct();
    // Releases the interfaces in the reverse order of taking them.
    void FinalRelease();

    // IMC_Installation
    HRESULT addTypeByClass(GUID clsidType, LONG typeClass, DWORD* pRet) override;
    HRESULT addTypeByClass(GUID clsidType, LONG typeClass, GUID typeId, LPCSTR name,
                           DWORD* pRet) override;
    HRESULT removeType(GUID typeId, DWORD* pRet) override;
    HRESULT removeTypeByClass(GUID typeId, LONG typeClass, DWORD* pRet) override;
    HRESULT saveChanges(DWORD* pRet) override;
    HRESULT addTool(GUID toolTypeId, LPCOLESTR toolName, GUID toolClsid, DWORD value,
                    DWORD* pRet) override;
    HRESULT removeToolByToolTypeID(GUID toolTypeId, DWORD* pRet) override;
    // IMC_InstallationDetails
    HRESULT addSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT removeSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT setDefaultSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT getDefaultSnapInByTypeID(GUID typeId, GUID* pSnapIn, DWORD* pRet) override;
    HRESULT getSnapInListByTypeID(GUID typeId, DWORD* pCount, GUID** ppSnapIns,
                                  DWORD* pRet) override;
    HRESULT addExtensionTypeByTypeID(GUID typeId, LPCSTR extName, GUID extClsid,
                                     DWORD* pRet) override;
    HRESULT removeExtensionTypeByTypeID(GUID typeId, GUID extTypeId, DWORD* pRet) override;
    HRESULT getExtensionTypeIDListByTypeID(GUID typeId, DWORD* pCount, GUID** ppExtIds,
                                           DWORD* pRet) override;
    HRESULT getExtensionTypeByTypeID(GUID typeId, GUID extTypeId, IUnknown** ppExt,
                                     DWORD* pRet) override;
    HRESULT getExtensionTypeNameByTypeID(GUID typeId, GUID extTypeId, char** ppName,
                                         DWORD* pRet) override;
    HRESULT isExtensionType(GUID typeId, GUID extTypeId, BOOL* pIsExt) override;
    HRESULT setAttributeByTypeID(GUID clsidType, BSTR bstrAttrKey, BSTR bstrAttrValue,
                                 DWORD* pRet) override;
    HRESULT removeAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, DWORD* pRet) override;
    HRESULT getAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, BSTR* pbstrValue,
                                 DWORD* pRet) override;
    // IMC_InternalInstallation
    HRESULT getTypeStorage(GUID typeId, DWORD access, IStorage** ppStorage, DWORD* pRet) override;
    HRESULT setTypeStorage(GUID typeId, DWORD access, IStorage* pSource, DWORD* pRet) override;
    HRESULT createNativeTypeObject(GUID typeId, DWORD access, IUnknown** ppObject,
                                   DWORD* pRet) override;
    HRESULT removeTypeObjectFromCache(GUID typeId, DWORD access, IUnknown* pObject,
                                      DWORD* pRet) override;
    HRESULT clearTypeCache(DWORD access, DWORD* pRet) override;
    HRESULT getClsidByToolTypeID(GUID toolTypeId, DWORD access, CLSID* pClsid,
                                 DWORD* pRet) override;
    HRESULT exportTypeData(GUID typeId, IStorage** ppStorage, DWORD* pRet) override;
    HRESULT importTypeData(IStorage* pSource, DWORD* pRet) override;
    HRESULT getAttrListByTypeID(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                DWORD* pRet) override;
    HRESULT refreshXMLTypeOnDemand(DWORD* pRet) override;
    // IMC_InstallNavigate
    HRESULT getTypeIDList(DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeIDListByClass(LONG typeClass, DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeIDListByVIDName(LPCSTR name, DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeNameMap(DWORD* pCount, ZEB_TypeNameEntry** ppMap) override;
    HRESULT getTypeNameMapByClass(LONG typeClass, DWORD* pCount,
                                  ZEB_TypeNameEntry** ppMap) override;
    HRESULT getTypeByID(GUID typeId, IUnknown** ppType, DWORD* pRet) override;
    HRESULT getTypeByIDAndClass(GUID typeId, LONG typeClass, IUnknown** ppType,
                                DWORD* pRet) override;
    HRESULT getTypeNameByID(GUID typeId, char** ppName, DWORD* pRet) override;
    HRESULT getTypeVIDNameByID(GUID typeId, char** ppName, DWORD* pRet) override;
    HRESULT getTypeNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                    DWORD* pRet) override;
    HRESULT getTypeVIDNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                       DWORD* pRet) override;
    HRESULT getTypeIdByName(LPCSTR name, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIdByVIDName(LPCSTR name, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIdByNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                    DWORD* pRet) override;
    HRESULT getTypeIdByVIDNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                       DWORD* pRet) override;
    HRESULT isType(GUID typeId, BOOL* pIsType) override;
    HRESULT getTypeClass(GUID typeId, LONG* pTypeClass, DWORD* pRet) override;
    HRESULT getTypeIDByRTID(RTTypeID rtTypeId, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIDByRTIDandClass(RTTypeID rtTypeId, LONG typeClass, GUID* pTypeId,
                                    DWORD* pRet) override;
    HRESULT getRTIDByTypeID(GUID typeId, RTTypeID* pRTTypeId, DWORD* pRet) override;
    HRESULT getRTIDByTypeIDandClass(GUID typeId, LONG typeClass, RTTypeID* pRTTypeId,
                                    DWORD* pRet) override;
    HRESULT getToolByToolTypeID(GUID toolTypeId, IUnknown** ppTool, DWORD* pRet) override;
    HRESULT isTool(GUID toolTypeId, BOOL* pIsTool) override;
    // IMC_InternalInstallClassification (asked for on each call)
    HRESULT addXMLTypeDescription(IUnknown* pNode, DWORD* pRet) override;
    HRESULT addPackageFile(LPCSTR packageName, LPCSTR deviceTypeName, BSTR fileName,
                           DWORD* pRet) override;
    HRESULT removePackageFile(LPCSTR packageName, LPCSTR deviceTypeName, DWORD* pRet) override;
    HRESULT registerXPathQuery(LPCSTR queryId, LPCSTR xpath, DWORD* pRet) override;
    HRESULT unregisterXPathQuery(LPCSTR queryId, DWORD* pRet) override;
    HRESULT getInstallationDocument(IUnknown** ppDocument, DWORD* pRet) override;
    // IMC_InstallClassification
    HRESULT getTypeDescr(BSTR queryId, VARIANT* pResult, DWORD* pRet) override;
    HRESULT getTypeDescrAttr(GUID typeId, BSTR queryId, VARIANT* pResult, DWORD* pRet) override;
    HRESULT getTypeDescrParam(LONG count, VARIANT* pParams, BSTR queryId, VARIANT* pResult,
                              DWORD* pRet) override;

private:
    // Asks the classification interface for IMC_InternalInstallClassification
    // on each call and hands the call to it (E_FAIL without one).
    HRESULT forwardInternalClassification(
        const std::function<HRESULT(IMC_InternalInstallClassification*)>& call);

    CCoCtorDtorTracer m_ctorDtorTracer{"CZEBInstallation"};
    ComPtr<IMC_Installation> m_spIInst;
    ComPtr<IMC_InstallationDetails> m_spIDetails;
    ComPtr<IMC_InternalInstallation> m_spIInternal;
    ComPtr<IMC_InstallNavigate> m_spINavigate;
    ComPtr<IMC_InstallClassification> m_spIClassification;
};
