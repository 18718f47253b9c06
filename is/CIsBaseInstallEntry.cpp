#include "is/CIsBaseInstallEntry.h"

#include "base/fs/FsSecCl.h"
#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/TextConvert.h"
#include "platform/win/Threading.h"

#include <algorithm>
#include <atomic>

namespace {

constexpr const char* kFile = "is_data";

std::atomic<CIsBaseInstallEntry::TickSource> g_tickSource{nullptr};

std::string narrow(const std::u16string& s) {
    return zeb::toNarrow(s);
}

bool startsWith(const std::u16string& s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && std::u16string_view(s).substr(0, prefix.size()) == prefix;
}

// The project handler's IMC_InternalProjectHdl, or null.
ComPtr<IMC_InternalProjectHdl> internalHandler(IUnknown* pIPrjHdl) {
    ComPtr<IMC_InternalProjectHdl> sp;
    if (pIPrjHdl)
        pIPrjHdl->QueryInterface(uuidof<IMC_InternalProjectHdl>(), reinterpret_cast<void**>(&sp));
    return sp;
}

// Replaces an OEM extension object by its reverse object. False on failure (traced).
bool wrapOemExtension(ComPtr<IUnknown>& spIUnkExtType, IUnknown* pIHdl, CCoTraceRecord& rec) {
    ComQIPtr<IMC_OEMExtensionType> spIOEMExtType(spIUnkExtType);
    if (!spIOEMExtType) return true;
    ComPtr<IUnknown> spIUnkRevExtType;
    HRESULT hr =
        createOEMReverseObject(spIOEMExtType, pIHdl, &spIUnkRevExtType, CLSID_OemReverseObject);
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4,
                  "error calling createOEMReverseObject(spIOEMExtType, pIHdl, &spIUnkRevExtType) "
                  "hr = 0x%X (%s)",
                  unsigned(hr), CCoError(hr).errorText());
        return false;
    }
    spIUnkExtType = std::move(spIUnkRevExtType);
    return true;
}

} // namespace

CIsBaseInstallEntry::TickSource CIsBaseInstallEntry::setTickSource(TickSource source) noexcept {
    return g_tickSource.exchange(source);
}

DWORD CIsBaseInstallEntry::currentTick() noexcept {
    TickSource source = g_tickSource.load();
    return source ? source() : GetTickCount();
}

CIsBaseInstallEntry::~CIsBaseInstallEntry() {
    CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::~CIsBaseInstallEntry");
    guardedDestructor(rec, [&] {
        if (m_spTypeObject && !m_weakRef) m_spTypeObject->Release();
        m_spTypeObject = nullptr;
    });
}

// ---- stream form
//
// Every value is followed by one space of the entry's own (a GUID brings
// one more of its own); the runtime identifier and the snap-in and
// extension lists end with one more. Stored files and other programs read
// exactly these bytes.

void CIsBaseInstallEntry::write(FsSecCl& sec) const {
    sec << m_name;
    sec.separator();
    sec << m_rtTypeID.guidVersion;
    sec.separator();
    sec << m_rtTypeID.nMajor;
    sec.separator();
    sec << m_rtTypeID.nMinor;
    sec.separator();
    sec.separator();
    sec << m_clsid;
    sec.separator();
    sec << m_defaultSnapIn;
    sec.separator();
    sec << DWORD(m_snapIns.size());
    sec.separator();
    for (const CLSID& clsid : m_snapIns) {
        sec << clsid;
        sec.separator();
    }
    sec.separator();
    sec << DWORD(m_extTypes.size());
    sec.separator();
    for (const auto& [extTypeId, info] : m_extTypes) {
        sec << extTypeId;
        sec.separator();
        sec << info.name;
        sec.separator();
        sec << info.clsid;
        sec.separator();
    }
    sec.separator();
    sec << DWORD(m_attributes.size());
    sec.separator();
    for (const auto& [name, value] : m_attributes) {
        sec << std::u16string_view(name);
        sec.separator();
        sec << std::u16string_view(value);
        sec.separator();
    }
}

// Counts come from the file: nothing is reserved by them, every loop stops
// at the first bad state (so a count without data costs nothing), and only
// items read whole are kept.
void CIsBaseInstallEntry::read(FsSecCl& sec) {
    sec >> m_name;
    sec >> m_rtTypeID.guidVersion >> m_rtTypeID.nMajor >> m_rtTypeID.nMinor;
    sec >> m_clsid;
    sec >> m_defaultSnapIn;

    m_snapIns.clear();
    DWORD count = 0;
    sec >> count;
    for (DWORD i = 0; i < count && sec.state() == 0; ++i) {
        CLSID clsid = GUID_NOTYPE;
        sec >> clsid;
        if (sec.state() == 0) m_snapIns.push_back(clsid);
    }

    m_extTypes.clear();
    count = 0;
    sec >> count;
    for (DWORD i = 0; i < count && sec.state() == 0; ++i) {
        GUID extTypeId = GUID_NOTYPE;
        CIsExtTypeInfo info{String(), GUID_NOTYPE};
        sec >> extTypeId >> info.name >> info.clsid;
        // A repeated identifier keeps the first; the count check below reports it.
        if (sec.state() == 0) m_extTypes.emplace(extTypeId, std::move(info));
    }
    if (sec.state() == 0 && m_extTypes.size() < count) sec.setError(FsSecCl::kBadPosition);

    m_attributes.clear();
    count = 0;
    sec >> count;
    for (DWORD i = 0; i < count && sec.state() == 0; ++i) {
        std::u16string name, value;
        sec >> name >> value;
        if (sec.state() == 0) m_attributes.emplace(std::move(name), std::move(value));
    }
    if (sec.state() == 0 && m_attributes.size() < count) sec.setError(FsSecCl::kBadPosition);
}

FsSecCl& operator<<(FsSecCl& sec, const CIsBaseInstallEntry& entry) {
    entry.write(sec);
    return sec;
}

FsSecCl& operator>>(FsSecCl& sec, CIsBaseInstallEntry& entry) {
    entry.read(sec);
    return sec;
}

DWORD CIsBaseInstallEntry::onGetResidentData(IUnknown*) {
    return IS_OK;
}

DWORD CIsBaseInstallEntry::checkAttr(const std::u16string& name, const std::u16string&) {
    if (startsWith(name, u"BI_") || startsWith(name, u"PBI_")) return IS_OK;
    CCoTraceRecord rec(kFile, "CIsDVTypeEntry::checkAttr");
    ZEB_TRACE(rec, 4, "invalid attribute \"%s\"", narrow(name).c_str());
    return IS_INVALID_ATTR;
}

DWORD CIsBaseInstallEntry::addSnapIn(const CLSID& clsid) {
    if (std::find(m_snapIns.begin(), m_snapIns.end(), clsid) != m_snapIns.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::addSnapIn");
        ZEB_TRACE(rec, 1, "SnapIn already in list");
        return IS_ALREADY_PRESENT;
    }
    m_snapIns.push_back(clsid);
    if (m_snapIns.size() == 1) m_defaultSnapIn = clsid;
    return IS_OK;
}

DWORD CIsBaseInstallEntry::removeSnapIn(const CLSID& clsid) {
    auto it = std::find(m_snapIns.begin(), m_snapIns.end(), clsid);
    if (it == m_snapIns.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::removeSnapIn");
        ZEB_TRACE(rec, 3, "SnapIn not exists '%s'", zeb::guidToString(clsid).c_str());
        return IS_NOT_FOUND;
    }
    m_snapIns.erase(it);
    if (!m_snapIns.empty() && m_defaultSnapIn == clsid) m_defaultSnapIn = m_snapIns.front();
    return IS_OK;
}

DWORD CIsBaseInstallEntry::setDefaultSnapIn(const CLSID& clsid) {
    if (std::find(m_snapIns.begin(), m_snapIns.end(), clsid) == m_snapIns.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::setDefaultSnapIn");
        ZEB_TRACE(rec, 4, "SnapIn not in list");
        return IS_NOT_FOUND;
    }
    m_defaultSnapIn = clsid;
    return IS_OK;
}

DWORD CIsBaseInstallEntry::getDefaultSnapIn(CLSID& out) const {
    out = GUID_NOTYPE;
    if (m_snapIns.empty()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::getDefaultSnapIn");
        ZEB_TRACE(rec, 1, "SnapIn list is empty");
        return IS_EMPTY;
    }
    bool listed = std::find(m_snapIns.begin(), m_snapIns.end(), m_defaultSnapIn) != m_snapIns.end();
    out = listed ? m_defaultSnapIn : m_snapIns.front();
    return IS_OK;
}

DWORD CIsBaseInstallEntry::setOrAddAttr(const std::u16string& name, const std::u16string& value) {
    CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::setOrAddAttr");
    DWORD r = checkAttr(name, value);
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling checkAttr for \"%s\" (ret=0x%X)", narrow(name).c_str(), r);
        return r;
    }
    if (startsWith(name, u"BI_")) m_needsRefresh = true;
    m_attributes.insert_or_assign(name, value);
    return IS_OK;
}

DWORD CIsBaseInstallEntry::delAttr(const std::u16string& name) {
    auto it = m_attributes.find(name);
    if (it == m_attributes.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::delAttr");
        ZEB_TRACE(rec, 4, "attribute \"%s\" not exist", narrow(name).c_str());
        return IS_NOT_FOUND;
    }
    m_attributes.erase(it);
    return IS_OK;
}

DWORD CIsBaseInstallEntry::getAttr(const std::u16string& name, BSTR* out) const {
    *out = nullptr;
    auto it = m_attributes.find(name);
    if (it == m_attributes.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::getAttr");
        ZEB_TRACE(rec, 3, "attribute \"%s\" not exist", narrow(name).c_str());
        return IS_NOT_FOUND;
    }
    BSTR copy = SysAllocStringLen(it->second.data(), UINT(it->second.size()));
    if (!copy) return IS_INTERNAL;
    *out = copy;
    return IS_OK;
}

DWORD CIsBaseInstallEntry::getAttrList(AttrList& out) const {
    out.reserve(out.size() + m_attributes.size());
    for (const auto& [key, value] : m_attributes)
        out.emplace_back(key, value);
    return IS_OK;
}

DWORD CIsBaseInstallEntry::addExtType(const String& name, const CLSID& extClsid, IUnknown* pIHdl) {
    DWORD r = checkNewExtType(name, extClsid);
    if (r != IS_OK) return r;
    GUID extTypeID = GUID_NULL;
    r = createExtType(name, extClsid, pIHdl, extTypeID);
    if (r != IS_OK) return r;
    return insertExtType(name, extClsid, extTypeID);
}

DWORD CIsBaseInstallEntry::checkNewExtType(const String& name, const CLSID& extClsid) const {
    String lowerName = name.toLower();
    for (const auto& [id, info] : m_extTypes) {
        if (info.name.toLower() == lowerName) {
            CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::addExtType");
            ZEB_TRACE(rec, 4, "extension \"%s\" already exist", name.c_str());
            return IS_ALREADY_PRESENT;
        }
        if (info.clsid == extClsid) {
            CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::addExtType");
            ZEB_TRACE(rec, 4,
                      "new extension \"%s\" and existing extension \"%s\" have same CLSID's",
                      name.c_str(), info.name.c_str());
            return IS_ALREADY_PRESENT;
        }
    }
    return IS_OK;
}

DWORD CIsBaseInstallEntry::createExtType(const String& name, const CLSID& extClsid, IUnknown* pIHdl,
                                         GUID& extTypeID) {
    CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::addExtType");
    ComPtr<IMC_InternalProjectHdl> spIIntHdl = internalHandler(pIHdl);
    if (!spIIntHdl) {
        ZEB_TRACE(rec, 4, "invalid projecthandler");
        return IS_INTERNAL;
    }
    ComPtr<IUnknown> spIUnkExtType;
    DWORD dwRet = 0;
    CLSID extCLSID = extClsid;
    HRESULT hr = ZEB_GUARDED_CALL_RET(
        rec, dwRet, spIIntHdl->createInterfaceByCLSID(extCLSID, 0, &spIUnkExtType, &dwRet));
    if (FAILED(hr) || dwRet != 0 || !spIUnkExtType) return IS_NOT_CREATED;
    if (!wrapOemExtension(spIUnkExtType, pIHdl, rec)) return IS_NOT_CREATED;

    ComQIPtr<IMC_ExtensionType> spIExtType(spIUnkExtType);
    ComQIPtr<IMC_TypeIdent> spITypeIdent(spIUnkExtType);
    if (!spIExtType || !spITypeIdent) {
        ZEB_TRACE(rec, 4, "error QI for IMC_TypeIdent");
        return IS_NO_INTERFACE;
    }
    char* spName = nullptr;
    hr = ZEB_GUARDED_CALL(rec, spITypeIdent->getName(&spName));
    zeb::TaskMem<char> extName(spName);
    // Without a name there is nothing to compare: the extension is refused.
    if (FAILED(hr) || !extName || name.compare(extName.get()) != 0) {
        ZEB_TRACE(rec, 4, "name mismatch \"%s\" != \"%s\"", name.c_str(),
                  extName ? extName.get() : "");
        return IS_EXT_NAME_MISMATCH;
    }
    extTypeID = GUID_NULL;
    hr = ZEB_GUARDED_CALL(rec, spITypeIdent->getTypeId(&extTypeID));
    if (FAILED(hr)) return IS_NO_INTERFACE;
    return IS_OK;
}

DWORD CIsBaseInstallEntry::insertExtType(const String& name, const CLSID& extClsid,
                                         const GUID& extTypeID) {
    auto found = m_extTypes.find(extTypeID);
    if (found != m_extTypes.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::addExtType");
        ZEB_TRACE(rec, 4, "new extension \"%s\" and existing extension \"%s\" have same type-ID's",
                  name.c_str(), found->second.name.c_str());
        return IS_ALREADY_PRESENT;
    }
    m_extTypes.emplace(extTypeID, CIsExtTypeInfo{name, extClsid});
    return IS_OK;
}

DWORD CIsBaseInstallEntry::delExtType(const GUID& extTypeId) {
    if (m_extTypes.erase(extTypeId) == 0) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::delExtType");
        ZEB_TRACE(rec, 4, "extension type not found");
        return IS_NOT_FOUND;
    }
    return IS_OK;
}

DWORD CIsBaseInstallEntry::getExtType(IMC_TypeIdent* pITypeIdent, const GUID& extTypeId,
                                      IUnknown* pIHdl, IUnknown** out) {
    CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::getExtType");
    if (!out) {
        ZEB_TRACE(rec, 4, "null pointer argument");
        return IS_INTERNAL;
    }
    *out = nullptr;
    auto cit = m_extTypes.find(extTypeId);
    if (cit == m_extTypes.end()) {
        ZEB_TRACE(rec, 4, "extension type not found");
        return IS_NOT_FOUND;
    }
    ComPtr<IMC_InternalProjectHdl> spIIntHdl = internalHandler(pIHdl);
    if (!spIIntHdl) {
        ZEB_TRACE(rec, 4, "invalid projecthandler");
        return IS_INTERNAL;
    }
    ComPtr<IUnknown> spIUnkExtType;
    DWORD dwRet = 0;
    HRESULT hr = ZEB_GUARDED_CALL_RET(
        rec, dwRet,
        spIIntHdl->createInterfaceByCLSID(cit->second.clsid, 0, &spIUnkExtType, &dwRet));
    if (FAILED(hr) || dwRet != 0 || !spIUnkExtType) return IS_NOT_CREATED;
    if (!wrapOemExtension(spIUnkExtType, pIHdl, rec)) return IS_NOT_CREATED;
    ComQIPtr<IMC_ExtensionType> spIExtType(spIUnkExtType);
    if (!spIExtType) {
        ZEB_TRACE(rec, 4, "error QI for IMC_ExtensionType");
        return IS_NOT_CREATED;
    }
    dwRet = 0;
    hr = ZEB_GUARDED_CALL_RET(rec, dwRet,
                              spIExtType->setObjTypeAccess(pITypeIdent, ESProtectExtHndl, &dwRet));
    if (FAILED(hr) || dwRet != 0) return dwRet != 0 ? dwRet : IS_INTERNAL;
    *out = spIExtType.Detach();
    return IS_OK;
}

DWORD CIsBaseInstallEntry::getExtTypeName(const GUID& extTypeId, String& out) const {
    out = String();
    auto it = m_extTypes.find(extTypeId);
    if (it == m_extTypes.end()) {
        CCoTraceRecord rec(kFile, "CIsBaseInstallEntry::getExtTypeName");
        ZEB_TRACE(rec, 4, "extension type not found");
        return IS_NOT_FOUND;
    }
    out = it->second.name;
    return IS_OK;
}

std::vector<GUID> CIsBaseInstallEntry::getExtTypeList() const {
    std::vector<GUID> ids;
    ids.reserve(m_extTypes.size());
    for (const auto& entry : m_extTypes)
        ids.push_back(entry.first);
    return ids;
}

void CIsBaseInstallEntry::getTypeObject(IUnknown** out) {
    *out = m_spTypeObject;
    if (m_spTypeObject) m_spTypeObject->AddRef();
    m_lastUse = currentTick();
}

void CIsBaseInstallEntry::setTypeObject(IUnknown* pIUnk) {
    if (pIUnk) {
        m_spTypeObject = pIUnk;
        pIUnk->AddRef();
    } else {
        if (m_spTypeObject && !m_weakRef) m_spTypeObject->Release();
        m_spTypeObject = nullptr;
        m_weakRef = false;
    }
    m_lastUse = currentTick();
}

void CIsBaseInstallEntry::makeWeak() {
    if (m_spTypeObject && !m_weakRef) {
        m_weakRef = true;
        m_spTypeObject->Release();
    }
    m_lastUse = currentTick();
}

bool CIsBaseInstallEntry::readRuntimeId(IUnknown* pITypeObject, RTTypeID& out,
                                        CCoTraceRecord& rec) {
    ComQIPtr<IMC_RTTypeIdent> spIRTId(pITypeObject);
    if (!spIRTId) return false;
    RTTypeID rt = RTTYPEID_INVALID;
    HRESULT hr = ZEB_GUARDED_CALL(rec, spIRTId->getRTTypeID(&rt));
    if (FAILED(hr)) return false;
    out = rt;
    return true;
}

HRESULT createOEMReverseObject(IUnknown* pIUnkOut, IUnknown* pIHdl, IUnknown** ppIUnk,
                               const CLSID& revClsid) {
    CLSID clsid = revClsid;
    CCoTraceRecord rec(kFile, "createOEMReverseObject");
    return guardedMethod(rec, [&]() -> HRESULT {
        if (!pIUnkOut || !pIHdl || !ppIUnk) {
            ZEB_TRACE(rec, 4, "invalid argument");
            return E_INVALIDARG;
        }
        *ppIUnk = nullptr;
        ComPtr<IMC_InternalProjectHdl> spIIntHdl = internalHandler(pIHdl);
        HRESULT hr = E_NOINTERFACE;
        if (!spIIntHdl) {
            // Without the interface there is nobody to create the reverse object.
            ZEB_TRACE(rec, 4, "error QI for IMC_InternalProjectHdl");
            return hr;
        }
        DWORD dwRet = 0;
        hr = ZEB_GUARDED_CALL_RET(rec, dwRet,
                                  spIIntHdl->createInterfaceByCLSID(clsid, 0, ppIUnk, &dwRet));
        if (FAILED(hr) || dwRet != 0 || !*ppIUnk) {
            if (*ppIUnk) (*ppIUnk)->Release();
            *ppIUnk = nullptr;
            return FAILED(hr) ? hr : E_FAIL;
        }
        ComQIPtr<IMC_InternalOemRevObjAdmin> spIAdmin(*ppIUnk);
        if (!spIAdmin) {
            ZEB_TRACE(rec, 4, "error QI for IMC_InternalOemRevObjAdmin");
            hr = E_NOINTERFACE;
        } else {
            hr = ZEB_GUARDED_CALL(rec, spIAdmin->setOuterInterface(pIUnkOut));
        }
        if (FAILED(hr)) {
            (*ppIUnk)->Release();
            *ppIUnk = nullptr;
        }
        return hr;
    });
}
