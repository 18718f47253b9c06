#include "is/CIsToolCont.h"
#include "is/isVersionedName.h"

#include "base/fs/FsSecCl.h"
#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "h/ResultCodes.h"
#include "platform/win/TextConvert.h"

#include <new>
#include <utility>
#include <vector>

namespace {
constexpr const char* kFile = "is_data";
}

CIsToolCont::CIsToolCont() = default;

CIsToolCont::~CIsToolCont() {
    CCoTraceRecord rec(kFile, "CIsToolCont::~CIsToolCont");
    guardedDestructor(rec, [&] { clear(); });
}

const CIsToolInstallEntry* CIsToolCont::findEntry(const GUID& toolTypeId) const {
    auto it = m_tools.find(toolTypeId);
    return it == m_tools.end() ? nullptr : it->second.get();
}

DWORD CIsToolCont::insertEntry(const GUID& toolTypeId, std::unique_ptr<CIsToolInstallEntry> entry) {
    if (!entry) return IS_INTERNAL;
    return m_tools.try_emplace(toolTypeId, std::move(entry)).second ? IS_OK : IS_ALREADY_PRESENT;
}

DWORD CIsToolCont::addTool(const GUID& toolTypeId, const std::u16string& name, const CLSID& clsid,
                           DWORD value) {
    CCoTraceRecord rec(kFile, "CIsToolCont::addTool");
    if (const CIsToolInstallEntry* present = findEntry(toolTypeId)) {
        ZEB_TRACE(rec, 4, "tool-id already exist for %s", present->m_name.c_str());
        return IS_ALREADY_PRESENT;
    }
    std::unique_ptr<CIsToolInstallEntry> entry(new (std::nothrow) CIsToolInstallEntry);
    if (!entry) {
        ZEB_TRACE(rec, 4, "error creating install entry for tool");
        return IS_INTERNAL;
    }
    entry->m_clsid = clsid;
    entry->m_name = String(zeb::toNarrow(name));
    entry->m_value = value;
    // The entry is not in the map while its object is made: a tool object
    // that calls back (adds, removes, clears) cannot reach it. The checks
    // below run afterwards and so see what such a call changed.
    ComPtr<IUnknown> spIUnk;
    if (createToolObject(toolTypeId, entry.get(), &spIUnk) != IS_OK)
        ZEB_TRACE(rec, 3, "error calling CIsToolCont::createTypeObject");
    DWORD r = checkEntryTypeName(entry.get());
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error checking name");
        return r;
    }
    r = checkEntryCLSID(entry.get());
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error checking CLSID");
        return r;
    }
    if (insertEntry(toolTypeId, std::move(entry)) != IS_OK) {
        ZEB_TRACE(rec, 4, "error inserting in map");
        return IS_INTERNAL;
    }
    m_bModified = true;
    return IS_OK; // the tool object is released last, after every change
}

DWORD CIsToolCont::checkEntryTypeName(const CIsToolInstallEntry* entry) const {
    if (!entry) return IS_INTERNAL;
    CCoTraceRecord rec(kFile, "CIsToolCont::checkEntryTypeName");
    for (const auto& [id, other] : m_tools) {
        if (other.get() != entry && other->m_name.equalsNoCase(entry->m_name.view())) {
            // Tools answer 4 here where types answer 3: callers rely on it.
            ZEB_TRACE(rec, 4, "tool name already exist");
            return IS_ALREADY_PRESENT;
        }
    }
    if (!isVersionedName(entry->m_name.view())) {
        ZEB_TRACE(rec, 4, "version dependent tool name required (type_name.2.0)");
        return IS_NAME_RULE;
    }
    return IS_OK;
}

DWORD CIsToolCont::checkEntryCLSID(const CIsToolInstallEntry* entry) const {
    if (!entry) return IS_INTERNAL;
    CCoTraceRecord rec(kFile, "CIsToolCont::checkEntryCLSID");
    for (const auto& [id, other] : m_tools) {
        if (other.get() != entry && other->m_clsid == entry->m_clsid) {
            ZEB_TRACE(rec, 4, "tool CLSID already exist");
            return IS_ALREADY_PRESENT;
        }
    }
    return IS_OK;
}

DWORD CIsToolCont::removeTool(const GUID& toolTypeId) {
    auto it = m_tools.find(toolTypeId);
    if (it == m_tools.end()) {
        CCoTraceRecord rec(kFile, "CIsToolCont::removeTool");
        ZEB_TRACE(rec, 4, "tool-id not exist");
        return IS_TYPE_ID;
    }
    // The entry dies out of the map: an object dying with it may call back.
    EntryMap::node_type node = m_tools.extract(it);
    m_bModified = true;
    node = EntryMap::node_type();
    return IS_OK;
}

DWORD CIsToolCont::getClsidByID(const GUID& toolTypeId, CLSID& out) {
    const CIsToolInstallEntry* entry = findEntry(toolTypeId);
    if (!entry) {
        CCoTraceRecord rec(kFile, "CIsToolCont::getClsidByID");
        ZEB_TRACE(rec, 4, "tool-id not exist");
        return 1;
    }
    out = entry->m_clsid;
    return IS_OK;
}

DWORD CIsToolCont::getToolByID(const GUID& toolTypeId, IUnknown** out) {
    CCoTraceRecord rec(kFile, "CIsToolCont::getToolByID");
    if (!out) {
        ZEB_TRACE(rec, 4, "internal error null pointer argument");
        return IS_INTERNAL;
    }
    *out = nullptr;
    if (!isTool(toolTypeId)) {
        ZEB_TRACE(rec, 4, "tool-id not exist");
        return 1;
    }
    return createToolObject(toolTypeId, nullptr, out);
}

DWORD CIsToolCont::createToolObject(const GUID& toolTypeId, const CIsToolInstallEntry* entry,
                                    IUnknown** out) {
    CCoTraceRecord rec(kFile, "CIsToolCont::createToolObject");
    if (!out) {
        ZEB_TRACE(rec, 4, "internal error null pointer argument");
        return IS_INTERNAL;
    }
    *out = nullptr;
    if (!entry) {
        if (!isTool(toolTypeId)) {
            ZEB_TRACE(rec, 4, "can't find entry in tool container");
            return IS_TYPE_ID;
        }
        entry = findEntry(toolTypeId);
    } else if (isTool(toolTypeId)) {
        ZEB_TRACE(rec, 4, "internal error creating tool object: invalid params");
        return IS_INTERNAL;
    }
    if (!entry) {
        ZEB_TRACE(rec, 4, "internal error creating tool object: no entry data");
        return IS_INTERNAL;
    }
    IUnknown* object = nullptr;
    internalCreateTypeObject(&object, entry); // entry may be gone afterwards
    if (!object) {
        ZEB_TRACE(rec, 4, "error creating tool object");
        return IS_NOT_CREATED;
    }
    *out = object;
    return IS_OK;
}

void CIsToolCont::internalCreateTypeObject(IUnknown** out, const CIsToolInstallEntry* entry) {
    CCoTraceRecord rec(kFile, "CIsToolCont::internalCreateTypeObject");
    *out = nullptr;
    // A copy: the tool's component may call back and remove the tool, entry and all.
    const CLSID clsid = entry->m_clsid;
    ComPtr<IUnknown> spIUnk;
    HRESULT hr = ZEB_GUARDED_CALL(rec, CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                                        reinterpret_cast<void**>(&spIUnk)));
    if (hr != S_OK || !spIUnk) {
        // The text is the type container's: trace filters look for it.
        ZEB_TRACE(rec, 4, "couldn't create class factory hr=%i", int(hr));
        return;
    }
    *out = spIUnk.Detach();
}

void CIsToolCont::clearToolCache() {
    // The objects are released after the walk, in GUID order: one that dies
    // may call back and change the map.
    std::vector<ComPtr<IUnknown>> released;
    for (auto& [id, entry] : m_tools)
        if (entry->m_spToolObject) released.push_back(std::move(entry->m_spToolObject));
    for (ComPtr<IUnknown>& object : released)
        object.Release();
}

void CIsToolCont::clear() {
    // The entries die outside the map, so that objects dying with them call
    // back into an empty container. Tools such a call adds go in the next round.
    while (!m_tools.empty()) {
        EntryMap doomed;
        doomed.swap(m_tools);
        doomed.clear();
    }
    m_bModified = true;
}

FsSecCl& operator<<(FsSecCl& sec, const CIsToolCont& tools) {
    sec << DWORD(tools.size());
    sec.separator();
    for (const auto& [id, entry] : tools.entries()) {
        sec << id;
        sec.separator();
        sec << *entry;
        sec.separator();
    }
    return sec;
}

FsSecCl& operator>>(FsSecCl& sec, CIsToolCont& tools) {
    CCoTraceRecord rec(kFile, "operator >> (CIsToolCont)");
    tools.clear();
    DWORD count = 0;
    sec >> count;
    if (sec.state() != FsSecCl::kGood) count = 0;
    // Nothing is reserved by the count: it is data, and each item read
    // consumes bytes, so a count larger than the data ends at its end.
    for (DWORD i = 0; i < count && sec.state() == FsSecCl::kGood; ++i) {
        GUID id = GUID_NOTYPE;
        sec >> id;
        auto entry = std::make_unique<CIsToolInstallEntry>();
        sec >> *entry;
        if (sec.state() != FsSecCl::kGood) break; // a half-read tool is not entered
        if (tools.isTool(id)) {
            ZEB_TRACE(rec, 4, "error inserting tool entry for \"%s\"", entry->m_name.c_str());
            continue;
        }
        tools.insertEntry(id, std::move(entry));
    }
    if (tools.size() != count || sec.state() != FsSecCl::kGood)
        ZEB_TRACE(rec, 4, "error reading installation data");
    return sec;
}
