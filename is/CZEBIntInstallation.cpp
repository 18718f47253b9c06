#include "is/CZEBIntInstallation.h"

#include "base/fs/FsSecCl.h"
#include "co/CCoBasisEsSettings.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoSynchronize.h"
#include "h/ResultCodes.h"
#include "is/xml/ClassificationCalls.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/TextConvert.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr const char* kFile = "is_inst";

HRESULT nullArg(CCoTraceRecord& rec) {
    ZEB_TRACE(rec, 4, "error: NULL pointer argument");
    return E_POINTER;
}

HRESULT outOfMemory(CCoTraceRecord& rec) {
    ZEB_TRACE(rec, 4, "out of memory");
    return E_OUTOFMEMORY;
}

bool inSet(LONG typeClass, std::initializer_list<LONG> accepted) {
    for (LONG c : accepted)
        if (c == typeClass) return true;
    return false;
}

// The access code check of the internal operations: false (and pRet set) when refused.
bool accessGranted(DWORD access, std::initializer_list<DWORD> accepted, DWORD* pRet,
                   CCoTraceRecord& rec) {
    for (DWORD a : accepted)
        if (a == access) return true;
    ZEB_TRACE(rec, 4, "protection error");
    *pRet = PRET_PROTECTION;
    return false;
}

// Count and a task-allocated array (also for no elements). The count is
// written first, so it stands even when the array cannot be had.
HRESULT copyIds(const std::vector<GUID>& ids, DWORD* pCount, GUID** ppIds, CCoTraceRecord& rec) {
    *pCount = DWORD(ids.size());
    *ppIds = static_cast<GUID*>(CoTaskMemAlloc(ids.size() * sizeof(GUID)));
    if (!*ppIds) return outOfMemory(rec);
    if (!ids.empty()) std::memcpy(*ppIds, ids.data(), ids.size() * sizeof(GUID));
    return S_OK;
}

char* taskCopy(const String& text) {
    char* copy = static_cast<char*>(CoTaskMemAlloc(size_t(text.length()) + 1));
    if (copy) std::memcpy(copy, text.c_str(), size_t(text.length()) + 1);
    return copy;
}

std::u16string fromBstr(BSTR text) {
    return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

} // namespace

CZEBIntInstallation::CZEBIntInstallation() {
    construct({}, OpenMode::Write);
}

CZEBIntInstallation::CZEBIntInstallation(std::string configDir) {
    construct(std::move(configDir), OpenMode::Write);
}

CZEBIntInstallation::CZEBIntInstallation(std::string configDir, OpenMode mode) {
    construct(std::move(configDir), mode);
}

void CZEBIntInstallation::construct(std::string configDir, OpenMode mode) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::CZEBIntInstallation");
    m_csCalls.Init();
    m_typeCont.setCallLock(&m_csCalls.m_sec);
    m_typeCont.initTypeCont();
    attachOwner();
    m_configDir = std::move(configDir);
    const std::string dir = configurationDirectory();
    // No configuration directory: no path, and the load fails on it.
    m_filePath = dir.empty() ? std::string() : dir + "/" + kFileName;
    m_openReadOnly = mode == OpenMode::ReadOnly;
    if (!load(m_filePath)) ZEB_TRACE(rec, 4, "error calling load");
}

CZEBIntInstallation::~CZEBIntInstallation() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::~CZEBIntInstallation");
    guardedDestructor(rec, [&] {
        // The entries go first, while every member is still there: their
        // type objects die with them and call back.
        {
            CCoSynchronize lock(&m_csCalls.m_sec);
            m_typeCont.clear();
            m_toolCont.clear();
        }
        if (isFileOpen() && m_file.CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
        m_typeCont.setCallLock(nullptr);
        leaveTimerTables(); // done by FinalRelease already, unless made without createObject
    });
    m_csCalls.Term();
}

// ---- helpers

HRESULT CZEBIntInstallation::addXMLNode(const GUID& typeId, const String& name, TypeClass typeClass,
                                        DWORD* pRet) {
    *pRet = translateRet(m_classification.addXMLType(typeId, name, typeClass));
    return S_OK;
}

void CZEBIntInstallation::removeXMLNode(const GUID& typeId, CCoTraceRecord& rec) {
    if (m_classification.removeXMLType(typeId) != IS_OK)
        ZEB_TRACE(rec, 4, "error removing type from xml tree");
}

HRESULT CZEBIntInstallation::typeNameStep(const GUID& typeId, const String& name, char** ppName,
                                          DWORD* pRet, CCoTraceRecord& rec) {
    if (name.empty()) {
        *pRet = PRET_NO_NAME;
        ZEB_TRACE(rec, 3, "invalid type id %s", zeb::guidToString(typeId).c_str());
        return S_OK;
    }
    char* copy = taskCopy(name);
    if (!copy) return outOfMemory(rec);
    *ppName = copy;
    *pRet = 0; // written on success too: the caller's word is never left as it came
    return S_OK;
}

bool CZEBIntInstallation::typeAccessible(const GUID& typeId, DWORD access, DWORD* pRet,
                                         CCoTraceRecord& rec) {
    if (!accessGranted(access, {ACCESS_TYPE_STORAGE}, pRet, rec)) return false;
    if (!m_typeCont.isType(typeId)) {
        ZEB_TRACE(rec, 4, "invalid type id");
        *pRet = PRET_INVALID_ID;
        return false;
    }
    return true;
}

bool CZEBIntInstallation::typeStorageReachable(const GUID& typeId, DWORD access, DWORD* pRet,
                                               CCoTraceRecord& rec) {
    if (!typeAccessible(typeId, access, pRet, rec)) return false;
    if (!isFileOpen()) {
        ZEB_TRACE(rec, 4, "installation file not open");
        return false;
    }
    return true;
}

void CZEBIntInstallation::typeIdStep(const GUID& found, LPCSTR name, GUID* pTypeId, DWORD* pRet,
                                     CCoTraceRecord& rec) {
    if (isNoType(found)) {
        *pRet = PRET_NO_SUCH_NAME;
        ZEB_TRACE(rec, 3, "invalid type name \"%s\"", name);
        return;
    }
    *pTypeId = found;
}

HRESULT CZEBIntInstallation::attributeList(const GUID& typeId, DWORD* pCount,
                                           ZEB_AttrPair** ppPairs, DWORD* pRet,
                                           CCoTraceRecord& rec) {
    if (!pCount || !ppPairs || !pRet) return nullArg(rec);
    *pCount = 0;
    *ppPairs = nullptr;
    *pRet = 0;
    AttrList list;
    *pRet = m_typeCont.getAttr(typeId, list); // the raw code
    if (*pRet != IS_OK) return S_OK;
    auto* pairs = static_cast<ZEB_AttrPair*>(CoTaskMemAlloc(list.size() * sizeof(ZEB_AttrPair)));
    if (!pairs) return outOfMemory(rec);
    size_t done = 0;
    for (; done < list.size(); ++done) {
        pairs[done].key = SysAllocStringLen(list[done].first.data(), UINT(list[done].first.size()));
        pairs[done].value =
            SysAllocStringLen(list[done].second.data(), UINT(list[done].second.size()));
        if (!pairs[done].key || !pairs[done].value) break;
    }
    if (done < list.size()) {
        for (size_t i = 0; i <= done; ++i) {
            SysFreeString(pairs[i].key);
            SysFreeString(pairs[i].value);
        }
        CoTaskMemFree(pairs);
        return outOfMemory(rec);
    }
    *pCount = DWORD(list.size());
    *ppPairs = pairs;
    return S_OK;
}

HRESULT CZEBIntInstallation::nameMap(const std::map<GUID, String>& names, DWORD* pCount,
                                     ZEB_TypeNameEntry** ppMap, CCoTraceRecord& rec) {
    if (names.size() >= 0x80000000u) return outOfMemory(rec);
    auto* entries =
        static_cast<ZEB_TypeNameEntry*>(CoTaskMemAlloc(names.size() * sizeof(ZEB_TypeNameEntry)));
    if (!entries) return E_OUTOFMEMORY;
    size_t i = 0;
    for (const auto& [id, name] : names) {
        entries[i].typeId = id;
        entries[i].name = taskCopy(name);
        if (!entries[i].name) {
            for (size_t k = 0; k < i; ++k)
                CoTaskMemFree(entries[k].name);
            CoTaskMemFree(entries);
            return E_OUTOFMEMORY;
        }
        ++i;
    }
    *pCount = DWORD(names.size());
    *ppMap = entries;
    return S_OK;
}

// ---- IMC_Installation

HRESULT CZEBIntInstallation::addTypeByClass(GUID clsidType, LONG typeClass, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addTypeByClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        if (!inSet(typeClass, {0, 1, 2, 3, 4, 5, 7})) {
            *pRet = PRET_BAD_CLASS;
            return S_OK;
        }
        GUID typeId = GUID_NOTYPE;
        DWORD r = m_typeCont.addType(typeClass, clsidType, typeId);
        *pRet = translateRet(r);
        if (r != IS_OK) return S_OK;
        return addXMLNode(typeId, m_typeCont.getTypeNameByIDAndClass(typeClass, typeId), typeClass,
                          pRet);
    });
}

HRESULT CZEBIntInstallation::addTypeByClass(GUID clsidType, LONG typeClass, GUID typeId,
                                            LPCSTR name, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addTypeByClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pRet) return nullArg(rec);
        *pRet = 0;
        if (!inSet(typeClass, {0, 1, 2, 4, 7, 8})) {
            *pRet = PRET_BAD_CLASS;
            return S_OK;
        }
        String typeName(name);
        DWORD r = m_typeCont.addGenericTypeByClass(typeClass, clsidType, typeId, typeName);
        *pRet = translateRet(r);
        if (r != IS_OK) return S_OK;
        return addXMLNode(typeId, typeName, typeClass, pRet);
    });
}

HRESULT CZEBIntInstallation::removeType(GUID typeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeType");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        if (m_typeCont.getTypeClass(typeId) == TC_Program) {
            ZEB_TRACE(rec, 4, "cant remove program type (internal type)");
            *pRet = PRET_PROGRAM_TYPE;
            return S_OK;
        }
        removeXMLNode(typeId, rec);
        *pRet = translateRet(m_typeCont.removeType(typeId));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeTypeByClass(GUID typeId, LONG typeClass, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeTypeByClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        if (!inSet(typeClass, {0, 1, 2, 3, 4, 5, 7, 8})) {
            *pRet = PRET_BAD_CLASS;
            return S_OK;
        }
        // The document node goes only with the type: a type of another class
        // (or none) is refused by the container and keeps its node.
        if (m_typeCont.getTypeClass(typeId) == typeClass) removeXMLNode(typeId, rec);
        *pRet = translateRet(m_typeCont.removeType(typeClass, typeId));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::saveChanges(DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::saveChanges");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = PRET_FAILURE;
        bool saved = save(false);
        *pRet = saved ? DWORD(0) : DWORD(PRET_SAVE_FAILED);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::addTool(GUID toolTypeId, LPCOLESTR toolName, GUID toolClsid,
                                     DWORD value, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addTool");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        std::u16string name = toolName ? std::u16string(toolName) : std::u16string();
        *pRet = translateRet(m_toolCont.addTool(toolTypeId, name, toolClsid, value));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeToolByToolTypeID(GUID toolTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeToolByToolTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_toolCont.removeTool(toolTypeId));
        return S_OK;
    });
}

// ---- IMC_InstallationDetails

HRESULT CZEBIntInstallation::addSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addSnapInByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.addSnapIn(typeId, snapIn));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeSnapInByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.removeSnapIn(typeId, snapIn));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::setDefaultSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::setDefaultSnapInByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.setDefaultSnapIn(typeId, snapIn));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getDefaultSnapInByTypeID(GUID typeId, GUID* pSnapIn, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getDefaultSnapInByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pSnapIn || !pRet) return nullArg(rec);
        *pSnapIn = GUID_NOTYPE;
        CLSID snapIn = GUID_NOTYPE;
        DWORD r = m_typeCont.getDefaultSnapIn(typeId, snapIn);
        *pRet = translateRet(r);
        if (r == IS_OK) *pSnapIn = snapIn;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getSnapInListByTypeID(GUID typeId, DWORD* pCount, GUID** ppSnapIns,
                                                   DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getSnapInListByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppSnapIns || !pRet) return nullArg(rec);
        *pCount = 0;
        *ppSnapIns = nullptr;
        std::vector<CLSID> list;
        *pRet = translateRet(m_typeCont.getSnapInList(typeId, list));
        return copyIds(list, pCount, ppSnapIns, rec);
    });
}

HRESULT CZEBIntInstallation::addExtensionTypeByTypeID(GUID typeId, LPCSTR extName, GUID extClsid,
                                                      DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addExtensionTypeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!extName || !pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.addExtType(typeId, String(extName), extClsid));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeExtensionTypeByTypeID(GUID typeId, GUID extTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeExtensionTypeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.delExtType(typeId, extTypeId));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getExtensionTypeIDListByTypeID(GUID typeId, DWORD* pCount,
                                                            GUID** ppExtIds, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getExtensionTypeIDListByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppExtIds || !pRet) return nullArg(rec);
        *pCount = 0;
        *ppExtIds = nullptr;
        std::vector<GUID> list;
        *pRet = translateRet(m_typeCont.getExtTypeList(typeId, list));
        return copyIds(list, pCount, ppExtIds, rec);
    });
}

HRESULT CZEBIntInstallation::getExtensionTypeByTypeID(GUID typeId, GUID extTypeId, IUnknown** ppExt,
                                                      DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getExtensionTypeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppExt || !pRet) return nullArg(rec);
        *ppExt = nullptr;
        *pRet = translateRet(m_typeCont.getExtType(typeId, extTypeId, ppExt));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getExtensionTypeNameByTypeID(GUID typeId, GUID extTypeId,
                                                          char** ppName, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getExtensionTypeNameByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppName || !pRet) return nullArg(rec);
        *ppName = nullptr;
        String name;
        *pRet = translateRet(m_typeCont.getExtTypeName(typeId, extTypeId, name));
        char* copy = taskCopy(name); // also the empty name of a failed lookup
        if (!copy) return outOfMemory(rec);
        *ppName = copy;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::isExtensionType(GUID typeId, GUID extTypeId, BOOL* pIsExt) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::isExtensionType");
    return serialised(rec, [&]() -> HRESULT {
        if (!pIsExt) return nullArg(rec);
        *pIsExt = m_typeCont.isExtType(typeId, extTypeId) ? TRUE : FALSE;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::setAttributeByTypeID(GUID clsidType, BSTR bstrAttrKey,
                                                  BSTR bstrAttrValue, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::setAttributeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(
            m_typeCont.setOrAddAttr(clsidType, fromBstr(bstrAttrKey), fromBstr(bstrAttrValue)));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeAttributeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = translateRet(m_typeCont.delAttr(typeId, fromBstr(bstrAttrKey)));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, BSTR* pbstrValue,
                                                  DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getAttributeByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pbstrValue || !pRet) return nullArg(rec);
        *pbstrValue = nullptr;
        *pRet = translateRet(m_typeCont.getAttr(typeId, fromBstr(bstrAttrKey), pbstrValue));
        return S_OK;
    });
}

// ---- IMC_InternalInstallation

HRESULT CZEBIntInstallation::getTypeStorage(GUID typeId, DWORD access, IStorage** ppStorage,
                                            DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeStorage");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppStorage || !pRet) return nullArg(rec);
        *ppStorage = nullptr;
        *pRet = 0;
        if (!typeStorageReachable(typeId, access, pRet, rec)) return S_OK;
        *pRet = copyTypeStorage(typeId, ppStorage, rec);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::setTypeStorage(GUID typeId, DWORD access, IStorage* pSource,
                                            DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::setTypeStorage");
    return serialised(rec, [&]() -> HRESULT {
        if (!pSource || !pRet) return nullArg(rec);
        *pRet = 0;
        if (!typeStorageReachable(typeId, access, pRet, rec)) return S_OK;
        *pRet = replaceTypeStorage(typeId, pSource, rec);
        // The new storage is written by the save timer whatever "SaveAsync"
        // says: the caller reads 0xFFFF when the timer could not be started.
        if (*pRet == 0) *pRet = setSaveTimer();
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::createNativeTypeObject(GUID typeId, DWORD access, IUnknown** ppObject,
                                                    DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::createNativeTypeObject");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppObject || !pRet) return nullArg(rec);
        *ppObject = nullptr;
        *pRet = 0;
        if (!accessGranted(access, {ACCESS_NATIVE_OBJECT}, pRet, rec)) return S_OK;
        *pRet = translateRet(m_typeCont.createNativeTypeObject(typeId, ppObject));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::removeTypeObjectFromCache(GUID typeId, DWORD access, IUnknown* pObject,
                                                       DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removeTypeObjectFromCache");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        if (!typeAccessible(typeId, access, pRet, rec)) return S_OK;
        if (!m_typeCont.removeFromCache(typeId, pObject)) {
            ZEB_TRACE(rec, 4, "error removing type object from cache");
            *pRet = PRET_NOT_REMOVED;
        }
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::clearTypeCache(DWORD access, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::clearTypeCache");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = 0;
        if (!accessGranted(access, {ACCESS_CLEAR_CACHE}, pRet, rec)) return S_OK;
        *pRet = translateRet(m_typeCont.clearTypeCache());
        m_toolCont.clearToolCache();
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getClsidByToolTypeID(GUID toolTypeId, DWORD access, CLSID* pClsid,
                                                  DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getClsidByToolTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pClsid || !pRet) return nullArg(rec);
        *pClsid = GUID_NULL;
        *pRet = 0;
        if (!accessGranted(access, {ACCESS_TOOL_CLSID, ACCESS_CLEAR_CACHE}, pRet, rec)) return S_OK;
        *pRet = translateRet(m_toolCont.getClsidByID(toolTypeId, *pClsid));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getAttrListByTypeID(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                                 DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getAttrListByTypeID");
    return serialised(
        rec, [&]() -> HRESULT { return attributeList(typeId, pCount, ppPairs, pRet, rec); });
}

HRESULT CZEBIntInstallation::refreshXMLTypeOnDemand(DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::refreshXMLTypeOnDemand");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRet) return nullArg(rec);
        *pRet = PRET_FAILURE; // stays when the refresh throws
        *pRet = refreshXMLTypeOnDemand() ? DWORD(0) : DWORD(PRET_SAVE_FAILED);
        return S_OK;
    });
}

DWORD CZEBIntInstallation::refreshXMLTypeTree() {
    CCoSynchronize lock(&m_csCalls.m_sec);
    return m_describer.refreshXMLTypeTree();
}

bool CZEBIntInstallation::refreshXMLTypeOnDemand() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::refreshXMLTypeOnDemand");
    CCoSynchronize lock(&m_csCalls.m_sec);
    // The timer must not fire into the refresh. A save it was to make stays
    // pending (timer-running flag) and is made by the next save or by the
    // release of the object.
    killSaveTimer();
    const zeb::xml::DomDocument& doc = m_classification.document();
    if (!doc) throw zeb::ComError(E_POINTER, "no classification document");
    // Without Installation nothing was ever added. With it the refresh runs
    // even when New is empty: the arrangement may still have work to do.
    if (!doc.selectSingleNode(u"Installation").asElement()) {
        ZEB_TRACE(rec, 1, "No modification occured, nothing to refresh on demand.");
        return true;
    }
    if (m_describer.refreshXMLTypeTree() != 0) {
        ZEB_TRACE(rec, 4, "failed refreshXMLTypeTree");
        return false;
    }
    return true;
}

// ---- IMC_InstallNavigate

HRESULT CZEBIntInstallation::getTypeIDList(DWORD* pCount, GUID** ppTypeIds) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIDList");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppTypeIds) return nullArg(rec);
        *pCount = 0;
        *ppTypeIds = nullptr;
        return copyIds(m_typeCont.getTypeIDList(), pCount, ppTypeIds, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeIDListByClass(LONG typeClass, DWORD* pCount, GUID** ppTypeIds) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIDListByClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppTypeIds) return nullArg(rec);
        *pCount = 0;
        *ppTypeIds = nullptr;
        return copyIds(m_typeCont.getTypeIDListByClass(typeClass), pCount, ppTypeIds, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeIDListByVIDName(LPCSTR name, DWORD* pCount, GUID** ppTypeIds) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIDListByVIDName");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pCount || !ppTypeIds) return nullArg(rec);
        *pCount = 0;
        *ppTypeIds = nullptr;
        return copyIds(m_typeCont.getTypeIDListByVIDName(name), pCount, ppTypeIds, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeNameMap(DWORD* pCount, ZEB_TypeNameEntry** ppMap) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeNameMap");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppMap) return nullArg(rec);
        *pCount = 0;
        *ppMap = nullptr;
        return nameMap(m_typeCont.getTypeNameMap(), pCount, ppMap, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeNameMapByClass(LONG typeClass, DWORD* pCount,
                                                   ZEB_TypeNameEntry** ppMap) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeNameMapByClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pCount || !ppMap) return nullArg(rec);
        *pCount = 0;
        *ppMap = nullptr;
        return nameMap(m_typeCont.getTypeNameMap(typeClass), pCount, ppMap, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeByID(GUID typeId, IUnknown** ppType, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeByID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppType || !pRet) return nullArg(rec);
        *ppType = nullptr;
        *pRet = translateRet(m_typeCont.getTypeByID(typeId, ppType));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeByIDAndClass(GUID typeId, LONG typeClass, IUnknown** ppType,
                                                 DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeByIDAndClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppType || !pRet) return nullArg(rec);
        *ppType = nullptr;
        *pRet = translateRet(m_typeCont.getTypeByID(typeClass, typeId, ppType));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeNameByID(GUID typeId, char** ppName, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeNameByID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppName || !pRet) return nullArg(rec);
        return typeNameStep(typeId, m_typeCont.getTypeNameByID(typeId), ppName, pRet, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeVIDNameByID(GUID typeId, char** ppName, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeVIDNameByID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppName || !pRet) return nullArg(rec);
        *ppName = nullptr;
        *pRet = 0;
        return typeNameStep(typeId, m_typeCont.getTypeVIDNameByID(typeId), ppName, pRet, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                                     DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeNameByIDAndClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppName || !pRet) return nullArg(rec);
        return typeNameStep(typeId, m_typeCont.getTypeNameByIDAndClass(typeClass, typeId), ppName,
                            pRet, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeVIDNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                                        DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeVIDNameByIDAndClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppName || !pRet) return nullArg(rec);
        *ppName = nullptr;
        *pRet = 0;
        return typeNameStep(typeId, m_typeCont.getTypeVIDNameByIDAndClass(typeClass, typeId),
                            ppName, pRet, rec);
    });
}

HRESULT CZEBIntInstallation::getTypeIdByName(LPCSTR name, GUID* pTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIdByName");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pTypeId || !pRet) return nullArg(rec);
        *pTypeId = GUID_NULL;
        *pRet = 0;
        typeIdStep(m_typeCont.getTypeIdByName(name), name, pTypeId, pRet, rec);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeIdByVIDName(LPCSTR name, GUID* pTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIdByVIDName");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pTypeId || !pRet) return nullArg(rec);
        *pTypeId = GUID_NULL;
        *pRet = 0;
        typeIdStep(m_typeCont.getTypeIdByVIDName(name), name, pTypeId, pRet, rec);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeIdByNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                                     DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIdByNameAndClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pTypeId || !pRet) return nullArg(rec);
        *pTypeId = GUID_NULL;
        *pRet = 0;
        typeIdStep(m_typeCont.getTypeIdByNameAndClass(typeClass, name), name, pTypeId, pRet, rec);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeIdByVIDNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                                        DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIdByVIDNameAndClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!name || !pTypeId || !pRet) return nullArg(rec);
        *pTypeId = GUID_NULL;
        *pRet = 0;
        typeIdStep(m_typeCont.getTypeIdByVIDNameAndClass(typeClass, name), name, pTypeId, pRet,
                   rec);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::isType(GUID typeId, BOOL* pIsType) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::isType");
    return serialised(rec, [&]() -> HRESULT {
        if (!pIsType) return nullArg(rec);
        *pIsType = m_typeCont.isType(typeId) ? TRUE : FALSE;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeClass(GUID typeId, LONG* pTypeClass, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pTypeClass || !pRet) return nullArg(rec);
        *pRet = 0;
        *pTypeClass = m_typeCont.getTypeClass(typeId);
        if (*pTypeClass == TC_NotInstalled) *pRet = PRET_NOT_INSTALLED;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeIDByRTID(RTTypeID rtTypeId, GUID* pTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIDByRTID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pTypeId || !pRet) return nullArg(rec);
        *pRet = 0;
        *pTypeId = m_typeCont.getTypeIDByRTID(rtTypeId);
        if (isNoType(*pTypeId)) {
            ZEB_TRACE(rec, 4, "error invalid runtime type id");
            *pRet = PRET_INVALID_ID;
        }
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeIDByRTIDandClass(RTTypeID rtTypeId, LONG typeClass,
                                                     GUID* pTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeIDByRTIDandClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pTypeId || !pRet) return nullArg(rec);
        *pRet = 0;
        *pTypeId = m_typeCont.getTypeIDByRTID(typeClass, rtTypeId);
        if (isNoType(*pTypeId)) {
            ZEB_TRACE(rec, 4, "error invalid runtime type id");
            *pRet = PRET_INVALID_ID;
        }
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getRTIDByTypeID(GUID typeId, RTTypeID* pRTTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getRTIDByTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRTTypeId || !pRet) return nullArg(rec);
        *pRet = 0;
        RTTypeID rt = RTTYPEID_INVALID;
        *pRet = translateRet(m_typeCont.getRTIDByTypeID(typeId, rt));
        *pRTTypeId = rt;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getRTIDByTypeIDandClass(GUID typeId, LONG typeClass,
                                                     RTTypeID* pRTTypeId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getRTIDByTypeIDandClass");
    return serialised(rec, [&]() -> HRESULT {
        if (!pRTTypeId || !pRet) return nullArg(rec);
        *pRet = 0;
        RTTypeID rt = RTTYPEID_INVALID;
        *pRet = translateRet(m_typeCont.getRTIDByTypeID(typeClass, typeId, rt));
        *pRTTypeId = rt;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getToolByToolTypeID(GUID toolTypeId, IUnknown** ppTool, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getToolByToolTypeID");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppTool || !pRet) return nullArg(rec);
        *ppTool = nullptr;
        *pRet = translateRet(m_toolCont.getToolByID(toolTypeId, ppTool));
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::isTool(GUID toolTypeId, BOOL* pIsTool) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::isTool");
    return serialised(rec, [&]() -> HRESULT {
        if (!pIsTool) return nullArg(rec);
        *pIsTool = m_toolCont.isTool(toolTypeId) ? TRUE : FALSE;
        return S_OK;
    });
}

// ---- IMC_PEInstallation

HRESULT CZEBIntInstallation::getAttributes(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                           DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getAttributes");
    return serialised(
        rec, [&]() -> HRESULT { return attributeList(typeId, pCount, ppPairs, pRet, rec); });
}

HRESULT CZEBIntInstallation::getAttributes(GUID typeId, ZEB_AttrBlock* pBlock, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getAttributes");
    return serialised(rec, [&]() -> HRESULT {
        if (!pBlock || !pRet) return nullArg(rec);
        *pRet = 0;
        // Install entries keep no attribute block yet: an installed type answers an empty one.
        if (!m_typeCont.isType(typeId)) {
            *pRet = IS_TYPE_ID; // the raw code
            return S_OK;
        }
        *pBlock = ZEB_AttrBlock{};
        return S_OK;
    });
}

// ---- IMC_InternalInstallClassification

// These change the live document and mark it changed, so the next save
// writes what they did (not the refresh: the descriptions they bring stay).

HRESULT CZEBIntInstallation::addXMLTypeDescription(IUnknown* pNode, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addXMLTypeDescription");
    return serialised(rec, [&]() -> HRESULT {
        if (!pNode || !pRet) return nullArg(rec);
        return m_xmlExchange.addXMLTypeDescription(pNode, pRet);
    });
}

HRESULT CZEBIntInstallation::addPackageFile(LPCSTR packageName, LPCSTR deviceTypeName,
                                            BSTR fileName, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::addPackageFile");
    return serialised(rec, [&]() -> HRESULT {
        if (!packageName || !deviceTypeName || !pRet) return nullArg(rec);
        return m_xmlExchange.addPackageFile(packageName, deviceTypeName, fileName, pRet);
    });
}

HRESULT CZEBIntInstallation::removePackageFile(LPCSTR packageName, LPCSTR deviceTypeName,
                                               DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::removePackageFile");
    return serialised(rec, [&]() -> HRESULT {
        if (!packageName || !deviceTypeName || !pRet) return nullArg(rec);
        return m_xmlExchange.removePackageFile(packageName, deviceTypeName, pRet);
    });
}

DWORD CZEBIntInstallation::exportXmlTreeInfo(const std::vector<GUID>& typeIds, FsSecCl& section) {
    std::u16string text;
    if (const DWORD r = m_xmlExchange.exportXmlTreeInfo(typeIds, text)) return r;
    const std::string narrow = zeb::toNarrow(text);
    section << std::string_view(narrow);
    return section.state() == FsSecCl::kGood ? 0 : zeb::classification::kFailed;
}

DWORD CZEBIntInstallation::importXmlTreeInfo(FsSecCl& section) {
    String text;
    section >> text;
    if (section.state() != FsSecCl::kGood) return zeb::classification::kFailed;
    return m_xmlExchange.importXmlTreeInfo(zeb::toWide(text.view()));
}

GUID CZEBIntInstallation::typeIdByName(const std::string& name) {
    return m_typeCont.getTypeIdByName(name);
}

HRESULT CZEBIntInstallation::setTypeAttribute(const GUID& typeId, BSTR key, BSTR value,
                                              DWORD* pRet) {
    return setAttributeByTypeID(typeId, key, value, pRet);
}

HRESULT CZEBIntInstallation::getInstallationDocument(IUnknown** ppDocument, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getInstallationDocument");
    return serialised(rec, [&]() -> HRESULT {
        return m_classification.getInstallationDocument(ppDocument, pRet);
    });
}

// ---- TypeDescriptionSource

DWORD CZEBIntInstallation::createTypeObject(const GUID& typeId, IUnknown** object) {
    return m_typeCont.createNativeTypeObject(typeId, object);
}

GUID CZEBIntInstallation::findTypeByRuntimeId(const RTTypeID& rtId) {
    return m_typeCont.getTypeIDByRTID(rtId);
}

HRESULT CZEBIntInstallation::typeAttribute(const GUID& typeId, BSTR key, BSTR* value, DWORD* pRet) {
    return getAttributeByTypeID(typeId, key, value, pRet);
}

std::string CZEBIntInstallation::configurationDirectory() {
    return m_configDir.empty() ? CCoBasisEsSettings::configurationDirectory() : m_configDir;
}
