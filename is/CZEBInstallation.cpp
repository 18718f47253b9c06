// CZEBInstallation: obtaining the installation, and the calls handed on.
#include "is/CZEBInstallation.h"

#include "co/CCoError.h"
#include "co/CCoTraceRecord.h"
#include "h/IMC_ProjectHdl.h"

namespace {

constexpr const char* kFile = "is_inst";

} // namespace

HRESULT CZEBInstallation::FinalConstruct() {
    CCoTraceRecord rec(kFile, "CZEBInstallation::CZEBInstallation");
    ZEB_TRACE(rec, 3, "use CLSID_CZEBProjectHdl instead of CLSID_CZEBInstallation");
    HRESULT hr = m_spIInst.CoCreateInstance(CLSID_CZEBProjectHdl);
    if (FAILED(hr))
        ZEB_TRACE(rec, 4,
                  "error calling m_spIInst.CoCreateInstance(CLSID_CZEBProjectHdl) hr = 0x%X (%s)",
                  unsigned(hr), CCoError(hr).errorText());
    if (FAILED(hr) || !m_spIInst) {
        m_spIInst.Release();
        ZEB_TRACE(rec, 4, "error creating project handler::IMC_Installation try direct");
        hr = m_spIInst.CoCreateInstance(CLSID_CZEBIntInstallation);
        if (FAILED(hr)) {
            ZEB_TRACE(rec, 4,
                      "error calling m_spIInst.CoCreateInstance(CLSID_CZEBIntInstallation) hr = "
                      "0x%X (%s)",
                      unsigned(hr), CCoError(hr).errorText());
            m_spIInst.Release();
        }
    }
    if (m_spIInst) {
        m_spIInst->QueryInterface(uuidof<IMC_InstallationDetails>(),
                                  reinterpret_cast<void**>(&m_spIDetails));
        m_spIInst->QueryInterface(uuidof<IMC_InternalInstallation>(),
                                  reinterpret_cast<void**>(&m_spIInternal));
        m_spIInst->QueryInterface(uuidof<IMC_InstallNavigate>(),
                                  reinterpret_cast<void**>(&m_spINavigate));
        m_spIInst->QueryInterface(uuidof<IMC_InstallClassification>(),
                                  reinterpret_cast<void**>(&m_spIClassification));
    }
    // The message names the internal interface by its old name: logs are
    // searched for it.
    if (!m_spIInst || !m_spIDetails || !m_spIInternal || !m_spINavigate)
        ZEB_TRACE(rec, 4,
                  "no IMC_Installation and/or IMC_InstallationDetails and/or IMC_IntInstallation "
                  "and/or IMC_InstallNavigate");
    return S_OK;
}

void CZEBInstallation::FinalRelease() {
    m_spIClassification.Release();
    m_spINavigate.Release();
    m_spIInternal.Release();
    m_spIDetails.Release();
    m_spIInst.Release();
}

HRESULT CZEBInstallation::forwardInternalClassification(
    const std::function<HRESULT(IMC_InternalInstallClassification*)>& call) {
    if (!m_spIClassification) return E_FAIL;
    ComPtr<IMC_InternalInstallClassification> internal;
    m_spIClassification->QueryInterface(uuidof<IMC_InternalInstallClassification>(),
                                        reinterpret_cast<void**>(&internal));
    if (!internal) return E_FAIL;
    return call(internal.get());
}

// ---- IMC_Installation

HRESULT CZEBInstallation::addTypeByClass(GUID clsidType, LONG typeClass, DWORD* pRet) {
    return m_spIInst ? m_spIInst->addTypeByClass(clsidType, typeClass, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::addTypeByClass(GUID clsidType, LONG typeClass, GUID typeId, LPCSTR name,
                                         DWORD* pRet) {
    return m_spIInst ? m_spIInst->addTypeByClass(clsidType, typeClass, typeId, name, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::removeType(GUID typeId, DWORD* pRet) {
    return m_spIInst ? m_spIInst->removeType(typeId, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::removeTypeByClass(GUID typeId, LONG typeClass, DWORD* pRet) {
    return m_spIInst ? m_spIInst->removeTypeByClass(typeId, typeClass, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::saveChanges(DWORD* pRet) {
    return m_spIInst ? m_spIInst->saveChanges(pRet) : E_FAIL;
}

HRESULT CZEBInstallation::addTool(GUID toolTypeId, LPCOLESTR toolName, GUID toolClsid, DWORD value,
                                  DWORD* pRet) {
    return m_spIInst ? m_spIInst->addTool(toolTypeId, toolName, toolClsid, value, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::removeToolByToolTypeID(GUID toolTypeId, DWORD* pRet) {
    return m_spIInst ? m_spIInst->removeToolByToolTypeID(toolTypeId, pRet) : E_FAIL;
}

// ---- IMC_InstallationDetails

HRESULT CZEBInstallation::addSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->addSnapInByTypeID(typeId, snapIn, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::removeSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->removeSnapInByTypeID(typeId, snapIn, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::setDefaultSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->setDefaultSnapInByTypeID(typeId, snapIn, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getDefaultSnapInByTypeID(GUID typeId, GUID* pSnapIn, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->getDefaultSnapInByTypeID(typeId, pSnapIn, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getSnapInListByTypeID(GUID typeId, DWORD* pCount, GUID** ppSnapIns,
                                                DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->getSnapInListByTypeID(typeId, pCount, ppSnapIns, pRet)
                        : E_FAIL;
}

HRESULT CZEBInstallation::addExtensionTypeByTypeID(GUID typeId, LPCSTR extName, GUID extClsid,
                                                   DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->addExtensionTypeByTypeID(typeId, extName, extClsid, pRet)
                        : E_FAIL;
}

HRESULT CZEBInstallation::removeExtensionTypeByTypeID(GUID typeId, GUID extTypeId, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->removeExtensionTypeByTypeID(typeId, extTypeId, pRet)
                        : E_FAIL;
}

HRESULT CZEBInstallation::getExtensionTypeIDListByTypeID(GUID typeId, DWORD* pCount,
                                                         GUID** ppExtIds, DWORD* pRet) {
    return m_spIDetails
               ? m_spIDetails->getExtensionTypeIDListByTypeID(typeId, pCount, ppExtIds, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::getExtensionTypeByTypeID(GUID typeId, GUID extTypeId, IUnknown** ppExt,
                                                   DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->getExtensionTypeByTypeID(typeId, extTypeId, ppExt, pRet)
                        : E_FAIL;
}

HRESULT CZEBInstallation::getExtensionTypeNameByTypeID(GUID typeId, GUID extTypeId, char** ppName,
                                                       DWORD* pRet) {
    return m_spIDetails
               ? m_spIDetails->getExtensionTypeNameByTypeID(typeId, extTypeId, ppName, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::isExtensionType(GUID typeId, GUID extTypeId, BOOL* pIsExt) {
    return m_spIDetails ? m_spIDetails->isExtensionType(typeId, extTypeId, pIsExt) : E_FAIL;
}

HRESULT CZEBInstallation::setAttributeByTypeID(GUID clsidType, BSTR bstrAttrKey, BSTR bstrAttrValue,
                                               DWORD* pRet) {
    return m_spIDetails
               ? m_spIDetails->setAttributeByTypeID(clsidType, bstrAttrKey, bstrAttrValue, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::removeAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->removeAttributeByTypeID(typeId, bstrAttrKey, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, BSTR* pbstrValue,
                                               DWORD* pRet) {
    return m_spIDetails ? m_spIDetails->getAttributeByTypeID(typeId, bstrAttrKey, pbstrValue, pRet)
                        : E_FAIL;
}

// ---- IMC_InternalInstallation

HRESULT CZEBInstallation::getTypeStorage(GUID typeId, DWORD access, IStorage** ppStorage,
                                         DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->getTypeStorage(typeId, access, ppStorage, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::setTypeStorage(GUID typeId, DWORD access, IStorage* pSource,
                                         DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->setTypeStorage(typeId, access, pSource, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::createNativeTypeObject(GUID typeId, DWORD access, IUnknown** ppObject,
                                                 DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->createNativeTypeObject(typeId, access, ppObject, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::removeTypeObjectFromCache(GUID typeId, DWORD access, IUnknown* pObject,
                                                    DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->removeTypeObjectFromCache(typeId, access, pObject, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::clearTypeCache(DWORD access, DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->clearTypeCache(access, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getClsidByToolTypeID(GUID toolTypeId, DWORD access, CLSID* pClsid,
                                               DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->getClsidByToolTypeID(toolTypeId, access, pClsid, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::exportTypeData(GUID typeId, IStorage** ppStorage, DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->exportTypeData(typeId, ppStorage, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::importTypeData(IStorage* pSource, DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->importTypeData(pSource, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getAttrListByTypeID(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                              DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->getAttrListByTypeID(typeId, pCount, ppPairs, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::refreshXMLTypeOnDemand(DWORD* pRet) {
    return m_spIInternal ? m_spIInternal->refreshXMLTypeOnDemand(pRet) : E_FAIL;
}

// ---- IMC_InstallNavigate

HRESULT CZEBInstallation::getTypeIDList(DWORD* pCount, GUID** ppTypeIds) {
    return m_spINavigate ? m_spINavigate->getTypeIDList(pCount, ppTypeIds) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIDListByClass(LONG typeClass, DWORD* pCount, GUID** ppTypeIds) {
    return m_spINavigate ? m_spINavigate->getTypeIDListByClass(typeClass, pCount, ppTypeIds)
                         : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIDListByVIDName(LPCSTR name, DWORD* pCount, GUID** ppTypeIds) {
    return m_spINavigate ? m_spINavigate->getTypeIDListByVIDName(name, pCount, ppTypeIds) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeNameMap(DWORD* pCount, ZEB_TypeNameEntry** ppMap) {
    return m_spINavigate ? m_spINavigate->getTypeNameMap(pCount, ppMap) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeNameMapByClass(LONG typeClass, DWORD* pCount,
                                                ZEB_TypeNameEntry** ppMap) {
    return m_spINavigate ? m_spINavigate->getTypeNameMapByClass(typeClass, pCount, ppMap) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeByID(GUID typeId, IUnknown** ppType, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeByID(typeId, ppType, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeByIDAndClass(GUID typeId, LONG typeClass, IUnknown** ppType,
                                              DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeByIDAndClass(typeId, typeClass, ppType, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::getTypeNameByID(GUID typeId, char** ppName, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeNameByID(typeId, ppName, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeVIDNameByID(GUID typeId, char** ppName, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeVIDNameByID(typeId, ppName, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                                  DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeNameByIDAndClass(typeId, typeClass, ppName, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::getTypeVIDNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                                     DWORD* pRet) {
    return m_spINavigate
               ? m_spINavigate->getTypeVIDNameByIDAndClass(typeId, typeClass, ppName, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIdByName(LPCSTR name, GUID* pTypeId, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeIdByName(name, pTypeId, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIdByVIDName(LPCSTR name, GUID* pTypeId, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeIdByVIDName(name, pTypeId, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIdByNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                                  DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeIdByNameAndClass(name, typeClass, pTypeId, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIdByVIDNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                                     DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeIdByVIDNameAndClass(name, typeClass, pTypeId, pRet)
                         : E_FAIL;
}

HRESULT CZEBInstallation::isType(GUID typeId, BOOL* pIsType) {
    return m_spINavigate ? m_spINavigate->isType(typeId, pIsType) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeClass(GUID typeId, LONG* pTypeClass, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeClass(typeId, pTypeClass, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIDByRTID(RTTypeID rtTypeId, GUID* pTypeId, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getTypeIDByRTID(rtTypeId, pTypeId, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeIDByRTIDandClass(RTTypeID rtTypeId, LONG typeClass, GUID* pTypeId,
                                                  DWORD* pRet) {
    return m_spINavigate
               ? m_spINavigate->getTypeIDByRTIDandClass(rtTypeId, typeClass, pTypeId, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::getRTIDByTypeID(GUID typeId, RTTypeID* pRTTypeId, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getRTIDByTypeID(typeId, pRTTypeId, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getRTIDByTypeIDandClass(GUID typeId, LONG typeClass, RTTypeID* pRTTypeId,
                                                  DWORD* pRet) {
    return m_spINavigate
               ? m_spINavigate->getRTIDByTypeIDandClass(typeId, typeClass, pRTTypeId, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::getToolByToolTypeID(GUID toolTypeId, IUnknown** ppTool, DWORD* pRet) {
    return m_spINavigate ? m_spINavigate->getToolByToolTypeID(toolTypeId, ppTool, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::isTool(GUID toolTypeId, BOOL* pIsTool) {
    return m_spINavigate ? m_spINavigate->isTool(toolTypeId, pIsTool) : E_FAIL;
}

// ---- IMC_InternalInstallClassification

HRESULT CZEBInstallation::addXMLTypeDescription(IUnknown* pNode, DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->addXMLTypeDescription(pNode, pRet);
    });
}

HRESULT CZEBInstallation::addPackageFile(LPCSTR packageName, LPCSTR deviceTypeName, BSTR fileName,
                                         DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->addPackageFile(packageName, deviceTypeName, fileName, pRet);
    });
}

HRESULT CZEBInstallation::removePackageFile(LPCSTR packageName, LPCSTR deviceTypeName,
                                            DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->removePackageFile(packageName, deviceTypeName, pRet);
    });
}

HRESULT CZEBInstallation::registerXPathQuery(LPCSTR queryId, LPCSTR xpath, DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->registerXPathQuery(queryId, xpath, pRet);
    });
}

HRESULT CZEBInstallation::unregisterXPathQuery(LPCSTR queryId, DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->unregisterXPathQuery(queryId, pRet);
    });
}

HRESULT CZEBInstallation::getInstallationDocument(IUnknown** ppDocument, DWORD* pRet) {
    return forwardInternalClassification([&](IMC_InternalInstallClassification* p) {
        return p->getInstallationDocument(ppDocument, pRet);
    });
}

// ---- IMC_InstallClassification

HRESULT CZEBInstallation::getTypeDescr(BSTR queryId, VARIANT* pResult, DWORD* pRet) {
    return m_spIClassification ? m_spIClassification->getTypeDescr(queryId, pResult, pRet) : E_FAIL;
}

HRESULT CZEBInstallation::getTypeDescrAttr(GUID typeId, BSTR queryId, VARIANT* pResult,
                                           DWORD* pRet) {
    return m_spIClassification
               ? m_spIClassification->getTypeDescrAttr(typeId, queryId, pResult, pRet)
               : E_FAIL;
}

HRESULT CZEBInstallation::getTypeDescrParam(LONG count, VARIANT* pParams, BSTR queryId,
                                            VARIANT* pResult, DWORD* pRet) {
    return m_spIClassification
               ? m_spIClassification->getTypeDescrParam(count, pParams, queryId, pResult, pRet)
               : E_FAIL;
}
