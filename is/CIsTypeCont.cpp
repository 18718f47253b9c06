#include "is/CIsTypeCont.h"
#include "is/isVersionedName.h"

#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "platform/com/TaskAllocator.h"

#include <cstring>

namespace {

constexpr const char* kFile = "is_data";

constexpr char foldChar(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The key of a name in the name indexes: A-Z folded, nothing else.
std::string fold(std::string_view text) {
    std::string key(text);
    for (char& c : key)
        c = foldChar(c);
    return key;
}

bool isWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view dotPrefix(std::string_view name) {
    size_t dot = name.find('.');
    return dot == std::string_view::npos ? name : name.substr(0, dot);
}

// Case-insensitive comparison (A-Z folded): difference of the first
// differing characters as unsigned bytes, else of the lengths.
int compareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = static_cast<unsigned char>(foldChar(a[i]));
        int cb = static_cast<unsigned char>(foldChar(b[i]));
        if (ca != cb) return ca - cb;
    }
    return int(a.size()) - int(b.size());
}

bool isInteger(std::string_view token) {
    if (token.empty()) return false;
    for (char c : token)
        if (c < '0' || c > '9') return false;
    return true;
}

// Numeric order of two decimal tokens of any length (a non-number counts as
// 0): -1, 0 or 1. Compared as digit strings, so no length overflows.
int compareDecimal(std::string_view a, std::string_view b) {
    if (!isInteger(a)) a = "0";
    if (!isInteger(b)) b = "0";
    while (a.size() > 1 && a.front() == '0')
        a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0')
        b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

template <class Map, class Key>
const typename Map::mapped_type* bucketOf(const Map& map, const Key& key) {
    auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

template <class Map, class Key>
void addTo(Map& map, Key&& key, const GUID& id, CIsBaseInstallEntry* entry) {
    map[std::forward<Key>(key)].emplace(id, entry);
}

template <class Map, class Key> void removeFrom(Map& map, const Key& key, const GUID& id) {
    auto it = map.find(key);
    if (it == map.end()) return;
    it->second.erase(id);
    if (it->second.empty()) map.erase(it);
}

} // namespace

CIsTypeCont::CIsTypeCont() = default;

CIsTypeCont::~CIsTypeCont() {
    CCoTraceRecord rec(kFile, "CIsTypeCont::~CIsTypeCont");
    guardedDestructor(rec, [&] {
        clear();
        m_spIPrHdlHolder.Release();
    });
}

std::string_view CIsTypeCont::vidName(std::string_view name) {
    size_t start = 0;
    while (start < name.size() &&
           !(isWordChar(name[start]) && !(name[start] >= '0' && name[start] <= '9')))
        ++start;
    size_t end = start;
    while (end < name.size() && isWordChar(name[end]))
        ++end;
    return name.substr(start, end - start);
}

int CIsTypeCont::compareVersion(std::string_view a, std::string_view b) {
    while (!(a.empty() && b.empty())) {
        size_t lenA = 0, lenB = 0;
        while (lenA < a.size() && isWordChar(a[lenA]))
            ++lenA;
        while (lenB < b.size() && isWordChar(b[lenB]))
            ++lenB;
        std::string_view tokA = a.substr(0, lenA), tokB = b.substr(0, lenB);
        int c = compareNoCase(tokA, tokB);
        if (c != 0) {
            if (!isInteger(tokA) && !isInteger(tokB)) return c;
            return compareDecimal(tokA, tokB);
        }
        // Equal tokens have equal lengths: skip the token and one separator in both.
        size_t skip = lenA + 1;
        a.remove_prefix(std::min(skip, a.size()));
        b.remove_prefix(std::min(skip, b.size()));
    }
    return 0;
}

// ---- indexes

// Folding maps A-Z to a-z only, so the VID name and the part before the
// first dot of the folded name are the folded VID name and prefix.
void CIsTypeCont::index(const GUID& id, CIsBaseInstallEntry& e) const {
    ensureIndexes();
    std::string key = fold(e.m_name.view());
    std::string_view vid = vidName(key), dot = dotPrefix(key);
    if (vid == dot) {
        StemBucket& stem = m_idx.byStem[std::string(vid)];
        stem.byVidName.emplace(id, &e);
        stem.byDotPrefix.emplace(id, &e);
    } else {
        m_idx.byStem[std::string(vid)].byVidName.emplace(id, &e);
        m_idx.byStem[std::string(dot)].byDotPrefix.emplace(id, &e);
    }
    addTo(m_idx.byName, std::move(key), id, &e);
    addTo(m_idx.byClsid, e.m_clsid, id, &e);
    indexRuntime(id, e);
    addTo(m_idx.byClass, e.m_typeClass, id, &e);
}

// Types without a runtime identity stay out of the families: they would
// all share the all-0xFF one.
void CIsTypeCont::indexRuntime(const GUID& id, CIsBaseInstallEntry& e) const {
    if (!hasRuntimeIdentity(e.m_rtTypeID)) return;
    FamilyBucket& family = m_idx.byFamily[e.m_rtTypeID.guidVersion];
    family.all.emplace(id, &e);
    family.byMajor[e.m_rtTypeID.nMajor].emplace(id, &e);
}

void CIsTypeCont::unindexRuntime(const GUID& id, const RTTypeID& rt) const {
    auto family = m_idx.byFamily.find(rt.guidVersion);
    if (family == m_idx.byFamily.end()) return;
    family->second.all.erase(id);
    removeFrom(family->second.byMajor, rt.nMajor, id);
    if (family->second.all.empty()) m_idx.byFamily.erase(family);
}

void CIsTypeCont::reindexRuntime(const GUID& id, CIsBaseInstallEntry& e,
                                 const RTTypeID& before) const {
    if (e.m_rtTypeID == before) return;
    ensureIndexes();
    unindexRuntime(id, before);
    indexRuntime(id, e);
}

void CIsTypeCont::unindex(const GUID& id, const CIsBaseInstallEntry& e) const {
    ensureIndexes();
    std::string key = fold(e.m_name.view());
    for (auto [stemKey, dotSide] :
         {std::pair{vidName(key), false}, std::pair{dotPrefix(key), true}}) {
        auto it = m_idx.byStem.find(std::string(stemKey));
        if (it == m_idx.byStem.end()) continue;
        (dotSide ? it->second.byDotPrefix : it->second.byVidName).erase(id);
        if (it->second.byVidName.empty() && it->second.byDotPrefix.empty()) m_idx.byStem.erase(it);
    }
    removeFrom(m_idx.byName, key, id);
    removeFrom(m_idx.byClsid, e.m_clsid, id);
    unindexRuntime(id, e.m_rtTypeID);
    removeFrom(m_idx.byClass, e.m_typeClass, id);
}

const CIsTypeCont::IdSet* CIsTypeCont::runtimeBucket(const RTTypeID& rt) const {
    if (!hasRuntimeIdentity(rt)) return nullptr;
    const FamilyBucket* family = bucketOf(idx().byFamily, rt.guidVersion);
    return family ? bucketOf(family->byMajor, rt.nMajor) : nullptr;
}

CIsBaseInstallEntry* CIsTypeCont::entryOf(const GUID& typeId) const {
    auto it = m_types.find(typeId);
    return it == m_types.end() ? nullptr : it->second.get();
}

const CIsBaseInstallEntry* CIsTypeCont::findEntry(const GUID& typeId) const {
    return entryOf(typeId);
}

void CIsTypeCont::Indexes::clear() noexcept {
    byName.clear();
    byStem.clear();
    byClsid.clear();
    byFamily.clear();
    byClass.clear();
}

void CIsTypeCont::rebuildIndexes() const {
    m_indexStale = false;
    m_idx.clear();
    try {
        for (const auto& [id, entry] : m_types)
            if (entry) index(id, *entry);
    } catch (...) {
        // Half-built indexes would answer wrongly: the next lookup tries again.
        m_idx.clear();
        m_indexStale = true;
        throw;
    }
}

DWORD CIsTypeCont::insertEntryUnindexed(const GUID& typeId,
                                        std::unique_ptr<CIsBaseInstallEntry> entry) {
    if (!entry) return IS_INTERNAL;
    auto [it, inserted] = m_types.try_emplace(typeId, nullptr);
    if (!inserted) return IS_TYPE_ID;
    it->second = std::move(entry);
    m_indexStale = true;
    return IS_OK;
}

DWORD CIsTypeCont::insertEntry(const GUID& typeId, std::unique_ptr<CIsBaseInstallEntry> entry) {
    if (!entry) return IS_INTERNAL;
    auto [it, inserted] = m_types.try_emplace(typeId, nullptr);
    if (!inserted) return IS_TYPE_ID;
    try {
        index(typeId, *entry);
    } catch (...) {
        unindex(typeId, *entry);
        m_types.erase(it);
        throw;
    }
    it->second = std::move(entry);
    return IS_OK;
}

// ---- registration

void CIsTypeCont::initTypeCont() {
    CCoTraceRecord rec(kFile, "CIsTypeCont::initTypeCont");
    const char* name = "PmGlobCommon.1.1";
    std::unique_ptr<CIsBaseInstallEntry> entry = createEntry(TC_ProjectGlobal);
    if (!entry || isType(kInternalTypeId)) {
        ZEB_TRACE(rec, 4, "error inserting internal type: %s", name);
        return;
    }
    entry->m_clsid = kInternalTypeClsid;
    entry->m_name = name;
    entry->m_rtTypeID = RTTypeID{GUID_NULL, 0, 0};
    if (insertEntry(kInternalTypeId, std::move(entry)) != IS_OK) {
        ZEB_TRACE(rec, 4, "error inserting internal type: %s", name);
        return;
    }
    m_bModified = true;
    ZEB_TRACE(rec, 1, "internal type inserted: %s", name);
}

DWORD CIsTypeCont::checkEntryTypeName(const CIsBaseInstallEntry* entry) const {
    if (!entry) return IS_INTERNAL;
    CCoTraceRecord rec(kFile, "CIsTypeCont::checkEntryTypeName");
    if (const IdSet* same = bucketOf(idx().byName, fold(entry->m_name.view()))) {
        for (const auto& [id, other] : *same) {
            if (other != entry) {
                ZEB_TRACE(rec, 4, "type name already exist");
                return IS_NAME_RULE;
            }
        }
    }
    if (!isVersionedName(entry->m_name.view())) {
        ZEB_TRACE(rec, 4, "version dependent type name required (type_name.2.0.1)");
        return IS_NAME_RULE;
    }
    return IS_OK;
}

DWORD CIsTypeCont::checkEntryRtTypeID(const CIsBaseInstallEntry* entry) const {
    if (!entry) return IS_INTERNAL;
    if (!hasRuntimeIdentity(entry->m_rtTypeID)) return IS_OK;
    CCoTraceRecord rec(kFile, "CIsTypeCont::checkEntryRtTypeID");
    const FamilyBucket* familyBucket = bucketOf(idx().byFamily, entry->m_rtTypeID.guidVersion);
    if (!familyBucket) return IS_OK;
    const IdSet* family = &familyBucket->all;
    std::string ownVid = fold(vidName(entry->m_name.view()));
    for (const auto& [id, other] : *family) {
        if (!other || other == entry) continue;
        if (other->m_rtTypeID.nMajor == entry->m_rtTypeID.nMajor) {
            ZEB_TRACE(rec, 4, "same RT-type id for types (\"%s\" %i, \"%s\" %i)",
                      entry->m_name.c_str(), int(entry->m_rtTypeID.nMajor), other->m_name.c_str(),
                      int(other->m_rtTypeID.nMajor));
            return IS_TYPE_ID;
        }
        if (fold(vidName(other->m_name.view())) != ownVid) {
            ZEB_TRACE(rec, 4,
                      "same RT-type id (guid) for types with different VID-names (\"%s\", \"%s\")",
                      entry->m_name.c_str(), other->m_name.c_str());
            return IS_TYPE_ID;
        }
    }
    return IS_OK;
}

DWORD CIsTypeCont::checkEntry(const CIsBaseInstallEntry* entry) const {
    DWORD r = checkEntryTypeName(entry);
    return r != IS_OK ? r : checkEntryRtTypeID(entry);
}

DWORD CIsTypeCont::addType(TypeClass typeClass, const CLSID& clsid, GUID& typeId) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::addType");
    if (bucketOf(idx().byClsid, clsid)) {
        ZEB_TRACE(rec, 4, "clsid for type object already used");
        return IS_ALREADY_PRESENT;
    }
    std::unique_ptr<CIsBaseInstallEntry> entry = createEntry(typeClass);
    if (!entry) {
        ZEB_TRACE(rec, 4, "error creating install entry for type");
        return IS_INTERNAL;
    }
    entry->m_clsid = clsid;
    ComPtr<IUnknown> spIUnk;
    DWORD r = createTypeObject(GUID_NOTYPE, entry.get(), &spIUnk);
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling createTypeObject");
        return r;
    }
    // Type objects are created under IMC_TypeIdent; ask anyway, the object is foreign.
    ComQIPtr<IMC_TypeIdent> spIType(spIUnk);
    char* spName = nullptr;
    HRESULT hr = spIType ? ZEB_GUARDED_CALL(rec, spIType->getName(&spName)) : E_NOINTERFACE;
    zeb::TaskMem<char> name(spName);
    if (FAILED(hr) || !name) {
        ZEB_TRACE(rec, 4, "couldn't get type name");
        return IS_NAME_RULE;
    }
    entry->m_name = name.get();
    GUID& typeID = typeId; // written straight into the caller's value
    typeID = GUID_NOTYPE;
    hr = ZEB_GUARDED_CALL(rec, spIType->getTypeId(&typeID));
    if (FAILED(hr) || isNoType(typeID)) {
        ZEB_TRACE(rec, 4, "can't get type-id");
        return IS_TYPE_ID;
    }
    if (const CIsBaseInstallEntry* present = entryOf(typeId)) {
        ZEB_TRACE(rec, 4, "type-id already exist for %s", present->m_name.c_str());
        return IS_TYPE_ID;
    }
    return admitEntry(rec, typeId, std::move(entry), spIUnk, &CIsTypeCont::checkEntry);
}

// The last steps of every add: the entry takes its resident data from the
// type object, passes `check` and goes into the map.
DWORD CIsTypeCont::admitEntry(CCoTraceRecord& rec, const GUID& typeId,
                              std::unique_ptr<CIsBaseInstallEntry> entry, IUnknown* typeObject,
                              DWORD (CIsTypeCont::*check)(const CIsBaseInstallEntry*) const) {
    DWORD r =
        guardedBody<DWORD>(rec, IS_INTERNAL, [&] { return entry->onGetResidentData(typeObject); });
    if (r == IS_OK) r = (this->*check)(entry.get());
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error getting type specific data");
        return r;
    }
    if (insertEntry(typeId, std::move(entry)) != IS_OK) {
        ZEB_TRACE(rec, 4, "error inserting in map");
        return IS_INTERNAL;
    }
    m_bModified = true;
    return IS_OK;
}

DWORD CIsTypeCont::addGenericTypeByClass(TypeClass typeClass, const CLSID& clsid,
                                         const GUID& typeId, const String& name) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::addGenericTypeByClass");
    // The no-type value is what failed lookups answer: a type entered under
    // it could never be found (as addType, refused with 10).
    if (isNoType(typeId)) {
        ZEB_TRACE(rec, 4, "invalid type-id (no-type value)");
        return IS_TYPE_ID;
    }
    if (const CIsBaseInstallEntry* present = entryOf(typeId)) {
        ZEB_TRACE(rec, 4, "type-id already exist for %s", present->m_name.c_str());
        return IS_ALREADY_PRESENT;
    }
    std::unique_ptr<CIsBaseInstallEntry> entry = createEntry(typeClass);
    if (!entry) {
        ZEB_TRACE(rec, 4, "error creating install entry for type");
        return IS_INTERNAL;
    }
    entry->m_clsid = clsid;
    entry->m_name = name;
    ComPtr<IUnknown> spIUnk;
    DWORD r = createTypeObject(typeId, entry.get(), &spIUnk);
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling createTypeObject");
        return r;
    }
    return admitEntry(rec, typeId, std::move(entry), spIUnk, &CIsTypeCont::checkEntryTypeName);
}

DWORD CIsTypeCont::removeType(const GUID& typeId) {
    auto it = m_types.find(typeId);
    if (it == m_types.end()) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::removeType");
        ZEB_TRACE(rec, 4, "type-id not exist");
        return IS_TYPE_ID;
    }
    // The entry dies only once it is out of the map and the indexes: its type
    // object may die with it and call back (removeFromCache, lookups).
    EntryMap::node_type node = m_types.extract(it);
    unindex(typeId, *node.mapped());
    m_bModified = true;
    node = EntryMap::node_type();
    return IS_OK;
}

DWORD CIsTypeCont::removeType(TypeClass typeClass, const GUID& typeId) {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry || entry->m_typeClass != typeClass) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::removeType");
        ZEB_TRACE(rec, 4, "invalid type class");
        return IS_WRONG_CLASS;
    }
    return removeType(typeId);
}

void CIsTypeCont::clear() {
    // The entries die outside the map and the indexes, so that the type
    // objects dying with them call back into an empty container. Types that
    // such a call installs meanwhile go in the next round.
    while (!m_types.empty()) {
        EntryMap doomed;
        doomed.swap(m_types);
        m_idx.clear();
        m_indexStale = false;
        doomed.clear();
    }
    m_bModified = true;
}

// ---- lookups

GUID CIsTypeCont::getTypeIdByName(std::string_view name) const {
    const IdSet* bucket = bucketOf(idx().byName, fold(name));
    return bucket ? bucket->begin()->first : GUID_NOTYPE;
}

GUID CIsTypeCont::getTypeIdByNameAndClass(TypeClass typeClass, std::string_view name) const {
    GUID id = getTypeIdByName(name);
    const CIsBaseInstallEntry* entry = entryOf(id);
    return entry && entry->m_typeClass == typeClass ? id : GUID_NOTYPE;
}

GUID CIsTypeCont::vidLookup(const IdSet* bucket, std::string_view name, TypeClass typeClass,
                            bool anyClass) const {
    // The scan in GUID order over the entries whose VID name equals that of
    // the request: the given name is the lower bound, later equal versions win.
    GUID best = GUID_NOTYPE;
    std::string_view bestName = name;
    if (!bucket) return best;
    for (const auto& [id, entry] : *bucket) {
        if (!anyClass && entry->m_typeClass != typeClass) continue;
        if (compareVersion(entry->m_name.view(), bestName) >= 0) {
            best = id;
            bestName = entry->m_name.view();
        }
    }
    return best;
}

GUID CIsTypeCont::getTypeIdByVIDName(std::string_view name) const {
    const StemBucket* stem = bucketOf(idx().byStem, fold(vidName(name)));
    return vidLookup(stem ? &stem->byVidName : nullptr, name, 0, true);
}

GUID CIsTypeCont::getTypeIdByVIDNameAndClass(TypeClass typeClass, std::string_view name) const {
    const StemBucket* stem = bucketOf(idx().byStem, fold(vidName(name)));
    return vidLookup(stem ? &stem->byVidName : nullptr, name, typeClass, false);
}

String CIsTypeCont::getTypeNameByID(const GUID& typeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry ? entry->m_name : String();
}

String CIsTypeCont::getTypeNameByIDAndClass(TypeClass typeClass, const GUID& typeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry && entry->m_typeClass == typeClass ? entry->m_name : String();
}

String CIsTypeCont::getTypeVIDNameByID(const GUID& typeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry ? String(vidName(entry->m_name.view())) : String();
}

String CIsTypeCont::getTypeVIDNameByIDAndClass(TypeClass typeClass, const GUID& typeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry && entry->m_typeClass == typeClass ? String(vidName(entry->m_name.view()))
                                                    : String();
}

TypeClass CIsTypeCont::getTypeClass(const GUID& typeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry ? entry->m_typeClass : TC_NotInstalled;
}

std::vector<GUID> CIsTypeCont::getTypeIDList() const {
    std::vector<GUID> ids;
    ids.reserve(m_types.size());
    for (const auto& entry : m_types)
        ids.push_back(entry.first);
    return ids;
}

namespace {
template <class Bucket> std::vector<GUID> idsOf(const Bucket* bucket) {
    std::vector<GUID> ids;
    if (!bucket) return ids;
    ids.reserve(bucket->size());
    for (const auto& item : *bucket)
        ids.push_back(item.first);
    return ids;
}
} // namespace

std::vector<GUID> CIsTypeCont::getTypeIDListByClass(TypeClass typeClass) const {
    return idsOf(bucketOf(idx().byClass, typeClass));
}

std::vector<GUID> CIsTypeCont::getTypeIDListByVIDName(std::string_view name) const {
    const StemBucket* stem = bucketOf(idx().byStem, fold(name));
    return idsOf(stem ? &stem->byDotPrefix : nullptr);
}

std::map<GUID, String> CIsTypeCont::getTypeNameMap() const {
    std::map<GUID, String> names;
    for (const auto& [id, entry] : m_types)
        names.emplace_hint(names.end(), id, entry->m_name);
    return names;
}

std::map<GUID, String> CIsTypeCont::getTypeNameMap(TypeClass typeClass) const {
    std::map<GUID, String> names;
    if (const IdSet* bucket = bucketOf(idx().byClass, typeClass))
        for (const auto& [id, entry] : *bucket)
            names.emplace_hint(names.end(), id, entry->m_name);
    return names;
}

GUID CIsTypeCont::getTypeIDByRTID(const RTTypeID& rt) const {
    const IdSet* bucket = runtimeBucket(rt);
    if (bucket) return bucket->begin()->first;
    CCoTraceRecord rec(kFile, "CIsTypeCont::getTypeIDByRTID");
    ZEB_TRACE(rec, 4, "could not find runtime id");
    return GUID_NOTYPE;
}

GUID CIsTypeCont::getTypeIDByRTID(TypeClass typeClass, const RTTypeID& rt) const {
    const IdSet* bucket = runtimeBucket(rt);
    if (bucket && bucket->begin()->second->m_typeClass == typeClass) return bucket->begin()->first;
    CCoTraceRecord rec(kFile, "CIsTypeCont::getTypeIDByRTID");
    ZEB_TRACE(rec, 4, "could not find runtime id");
    return GUID_NOTYPE;
}

DWORD CIsTypeCont::getRTIDByTypeID(const GUID& typeId, RTTypeID& out) const {
    out = RTTYPEID_INVALID;
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getRTIDByTypeID");
        ZEB_TRACE(rec, 4, "could not find type id");
        return IS_TYPE_ID;
    }
    out = entry->m_rtTypeID;
    return IS_OK;
}

DWORD CIsTypeCont::getRTIDByTypeID(TypeClass typeClass, const GUID& typeId, RTTypeID& out) const {
    out = RTTYPEID_INVALID;
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry || entry->m_typeClass != typeClass) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getRTIDByTypeID");
        ZEB_TRACE(rec, 4, "could not find type id");
        return IS_TYPE_ID;
    }
    out = entry->m_rtTypeID;
    return IS_OK;
}

DWORD CIsTypeCont::getClsid(const GUID& typeId, CLSID& out) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getAttr");
        ZEB_TRACE(rec, 4, "invalid type id");
        return IS_TYPE_ID;
    }
    out = entry->m_clsid;
    return IS_OK;
}

// ---- forwarding

#define ZEB_FIND_ENTRY_OR_RETURN(op)                                                               \
    CIsBaseInstallEntry* entry = entryOf(typeId);                                                  \
    if (!entry) {                                                                                  \
        CCoTraceRecord rec(kFile, "CIsTypeCont::" op);                                             \
        ZEB_TRACE(rec, 4, "invalid type id");                                                      \
        return IS_TYPE_ID;                                                                         \
    }

DWORD CIsTypeCont::addSnapIn(const GUID& typeId, const CLSID& clsid) {
    ZEB_FIND_ENTRY_OR_RETURN("addSnapIn");
    DWORD r = entry->addSnapIn(clsid);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::removeSnapIn(const GUID& typeId, const CLSID& clsid) {
    ZEB_FIND_ENTRY_OR_RETURN("removeSnapIn");
    DWORD r = entry->removeSnapIn(clsid);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::setDefaultSnapIn(const GUID& typeId, const CLSID& clsid) {
    ZEB_FIND_ENTRY_OR_RETURN("setDefaultSnapIn");
    CLSID old = GUID_NOTYPE;
    DWORD hadOld = entry->getDefaultSnapIn(old);
    DWORD r = entry->setDefaultSnapIn(clsid);
    if (r == IS_OK && (hadOld != IS_OK || old != clsid)) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::getDefaultSnapIn(const GUID& typeId, CLSID& out) const {
    out = GUID_NOTYPE;
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getDefaultSnapIn");
        ZEB_TRACE(rec, 3, "invalid type id '%s'", zeb::guidToString(typeId).c_str());
        return IS_TYPE_ID;
    }
    return entry->getDefaultSnapIn(out);
}

DWORD CIsTypeCont::getSnapInList(const GUID& typeId, std::vector<CLSID>& out) const {
    out.clear();
    ZEB_FIND_ENTRY_OR_RETURN("getSnapInList");
    out = entry->m_snapIns;
    return IS_OK;
}

DWORD CIsTypeCont::getPrjHdl(ComPtr<IUnknown>& out, CCoTraceRecord& rec) {
    if (!m_spIPrHdlHolder) {
        ZEB_TRACE(rec, 4, "not correct initialized");
        return IS_INTERNAL;
    }
    ComPtr<IUnknown> spIUnk;
    DWORD ret = 0;
    HRESULT hr = guardedCallRet(
        rec, "m_spIPrHdlHolder->getPrjHdl(&spIUnk)", ret,
        [&] { return m_spIPrHdlHolder->getPrjHdl(&spIUnk); }, CatchText::Exception);
    if (FAILED(hr)) return IS_INTERNAL;
    if (!spIUnk) {
        ZEB_TRACE(rec, 4,
                  "error calling m_spIPrHdlHolder->getPrjHdl(&spIUnk) hr = 0x%X (%s), ret=0x%X",
                  unsigned(hr), CCoError(hr).errorText(), 0u);
        return IS_INTERNAL;
    }
    out = std::move(spIUnk);
    return IS_OK;
}

DWORD CIsTypeCont::addExtType(const GUID& typeId, const String& name, const CLSID& extClsid) {
    ZEB_FIND_ENTRY_OR_RETURN("addExtType");
    CCoTraceRecord rec(kFile, "CIsTypeCont::addExtType");
    ComPtr<IUnknown> spIUnk;
    DWORD r = getPrjHdl(spIUnk, rec);
    if (r != IS_OK) return r;
    // The holder, the handler and the extension object are outside
    // components that may remove, reinstall or clear types: the entry is
    // found again after each of them, and a type gone meanwhile answers as
    // one never installed (10). The extension goes to the entry that is
    // there then, checked again against what it lists by then.
    auto refind = [&]() -> DWORD {
        entry = entryOf(typeId);
        if (!entry) {
            ZEB_TRACE(rec, 4, "invalid type id");
            return IS_TYPE_ID;
        }
        return entry->checkNewExtType(name, extClsid);
    };
    r = refind();
    if (r != IS_OK) return r;
    GUID extTypeId = GUID_NULL;
    r = CIsBaseInstallEntry::createExtType(name, extClsid, spIUnk, extTypeId);
    if (r != IS_OK) return r;
    r = refind();
    if (r == IS_OK) r = entry->insertExtType(name, extClsid, extTypeId);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::delExtType(const GUID& typeId, const GUID& extTypeId) {
    ZEB_FIND_ENTRY_OR_RETURN("delExtType");
    DWORD r = entry->delExtType(extTypeId);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::getExtTypeList(const GUID& typeId, std::vector<GUID>& out) const {
    out.clear();
    ZEB_FIND_ENTRY_OR_RETURN("getExtTypeList");
    out = entry->getExtTypeList();
    return IS_OK;
}

DWORD CIsTypeCont::getExtType(const GUID& typeId, const GUID& extTypeId, IUnknown** out) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::getExtType");
    if (!out) {
        ZEB_TRACE(rec, 4, "NULL-pointer argument");
        return IS_INTERNAL;
    }
    *out = nullptr;
    CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        ZEB_TRACE(rec, 4, "invalid type id");
        return IS_TYPE_ID;
    }
    ComPtr<IUnknown> spIType;
    DWORD r = getTypeByID(typeId, &spIType);
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling getTypeByID");
        return r;
    }
    ComPtr<IUnknown> spIHdl;
    r = getPrjHdl(spIHdl, rec);
    if (r != IS_OK) return r;
    entry = entryOf(typeId); // creating the object called out: the entry may have changed
    if (!entry) {
        ZEB_TRACE(rec, 4, "invalid type id");
        return IS_TYPE_ID;
    }
    ComQIPtr<IMC_TypeIdent> spITypeIdent(spIType);
    return entry->getExtType(spITypeIdent, extTypeId, spIHdl, out);
}

DWORD CIsTypeCont::getExtTypeName(const GUID& typeId, const GUID& extTypeId, String& out) const {
    out = String();
    ZEB_FIND_ENTRY_OR_RETURN("getExtTypeName");
    return entry->getExtTypeName(extTypeId, out);
}

bool CIsTypeCont::isExtType(const GUID& typeId, const GUID& extTypeId) const {
    const CIsBaseInstallEntry* entry = entryOf(typeId);
    return entry && entry->isExtType(extTypeId);
}

DWORD CIsTypeCont::setOrAddAttr(const GUID& typeId, const std::u16string& name,
                                const std::u16string& value) {
    ZEB_FIND_ENTRY_OR_RETURN("setOrAddAttr");
    auto old = entry->m_attributes.find(name);
    if (old != entry->m_attributes.end() && old->second == value) return IS_OK;
    DWORD r = entry->setOrAddAttr(name, value);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::delAttr(const GUID& typeId, const std::u16string& name) {
    ZEB_FIND_ENTRY_OR_RETURN("delAttr");
    DWORD r = entry->delAttr(name);
    if (r == IS_OK) m_bModified = true;
    return r;
}

DWORD CIsTypeCont::getAttr(const GUID& typeId, const std::u16string& name, BSTR* out) const {
    if (!out) return IS_INTERNAL;
    *out = nullptr;
    ZEB_FIND_ENTRY_OR_RETURN("getAttr");
    return entry->getAttr(name, out);
}

DWORD CIsTypeCont::getAttr(const GUID& typeId, AttrList& out) const {
    out.clear();
    ZEB_FIND_ENTRY_OR_RETURN("getAttr");
    return entry->getAttrList(out);
}
