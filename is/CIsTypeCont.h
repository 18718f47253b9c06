// CIsTypeCont: the registry of installed types.
//
// An ordered map from type identifier (GUID order) to owned install entry.
// It decides whether a type may be installed (name rule, unique type
// identifier, type-object CLSID and runtime identity), answers lookups by
// identifier, name, version-independent (VID) name, runtime identifier and
// class, forwards snap-in, extension-type and attribute operations to the
// entries, creates and caches the type objects, and keeps a modified flag
// for the owner's save logic.
//
//   CIsTypeCont cont;                       // empty, modified
//   cont.initTypeCont();                    // the internal type PmGlobCommon.1.1
//   GUID id;
//   DWORD r = cont.addType(TC_Device, clsidDriveType, id);   // 0 or a code
//   GUID same = cont.getTypeIdByName("DRIVE.1.0");          // names fold A-Z only
//   GUID newest = cont.getTypeIdByVIDName("Drive");          // newest Drive.x.y
//
// Results: codes of ResultCodes.h (0 success); failed identifier lookups give
// GUID_NOTYPE; name lookups give an empty String. Every failure is traced
// (source "is_data", "CIsTypeCont::<operation>"). A failed registration
// leaves the map and the modified flag unchanged.
//
// Speed: besides the map, the container keeps indexes (folded name, folded
// VID name, folded name part before the first dot, CLSID, runtime identity,
// runtime family and class), each bucket an ordered set of identifiers, so
// that adding and every lookup cost O(log n) plus the size of the matching
// bucket, while answering exactly what a scan in GUID order would: the first
// match is the first identifier of the bucket. Invariant: an entry is in the
// indexes under the keys its current fields give (a type without a runtime
// identity, see hasRuntimeIdentity, is in no runtime family); code that
// changes m_name, m_clsid, m_rtTypeID or m_typeClass of an installed entry
// re-indexes it.
//
// Not thread-safe: the owner serialises all calls (apartment rule). The one
// exception is a weak type object dying on another thread, which reaches
// removeFromCache only through the owner, under the owner's call lock
// (setCallLock). The container leaves that lock while it waits for a type
// object, pumping messages (refreshTypeData), so that such a call is served.
#pragma once

#include "is/CIsBaseInstallEntry.h"
#include "platform/com/ComPtr.h"
#include "platform/win/Threading.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class FsSecCl;

class CIsTypeCont {
public:
    // The internal type inserted by initTypeCont.
    static constexpr GUID kInternalTypeId = makeGuid("A562FDF0-F9DE-11D3-A6DD-00500439C839");
    static constexpr CLSID kInternalTypeClsid = makeGuid("8FE10C30-FB51-11D3-85A8-0050046A30DE");

    // Type-object cache timing (milliseconds) and the memory threshold.
    static constexpr DWORD kSweepInterval = 300000;
    static constexpr DWORD kIdleTime = 60000;
    static constexpr DWORDLONG kMemoryThreshold = 0x20000000;

    CIsTypeCont();
    ~CIsTypeCont();
    CIsTypeCont(const CIsTypeCont&) = delete;
    CIsTypeCont& operator=(const CIsTypeCont&) = delete;

    // The project-handler holder (one reference kept; null allowed).
    void setPrjHdlHolder(IMC_PrjHdlHolder* pIHolder) { m_spIPrHdlHolder = pIHolder; }
    IMC_PrjHdlHolder* getPrjHdlHolder() const { return m_spIPrHdlHolder.get(); }

    // The lock under which the owner calls the container (null: none). Not
    // owned; it must outlive the container's use of it.
    void setCallLock(LPCRITICAL_SECTION pLock) { m_pCallLock = pLock; }

    bool isModified() const { return m_bModified; }
    void setModified(bool modified) { m_bModified = modified; }

    // Registration.
    void initTypeCont();
    DWORD addType(TypeClass typeClass, const CLSID& clsid, GUID& typeId);
    DWORD addGenericTypeByClass(TypeClass typeClass, const CLSID& clsid, const GUID& typeId,
                                const String& name);
    DWORD removeType(const GUID& typeId);
    DWORD removeType(TypeClass typeClass, const GUID& typeId);
    void clear();
    DWORD checkEntryTypeName(const CIsBaseInstallEntry* entry) const;
    DWORD checkEntryRtTypeID(const CIsBaseInstallEntry* entry) const;
    DWORD checkEntry(const CIsBaseInstallEntry* entry) const;

    // Inserts an entry built elsewhere (the stream reader); no rule is
    // checked. 10 when the identifier is present, 0xFFFF for a null entry.
    DWORD insertEntry(const GUID& typeId, std::unique_ptr<CIsBaseInstallEntry> entry);
    // As insertEntry, leaving the indexes to be built at the next lookup:
    // for reading many entries at once.
    DWORD insertEntryUnindexed(const GUID& typeId, std::unique_ptr<CIsBaseInstallEntry> entry);

    // Type-data exchange: the entries of single types in the type-section
    // format, with the number of identifiers in front and the items in the
    // order of the list. exportTypeData: 10 (nothing written) when an
    // identifier is not installed, 0xFFFF when the stream state is bad
    // afterwards, else 0. importTypeData adds the entries, replacing types
    // with the same identifier (removeType), and checks no rule: 27 on a
    // read error, 0xFFFF when an entry cannot be made or inserted, else 0.
    // Entries imported before a failure stay.
    DWORD exportTypeData(const std::vector<GUID>& typeIds, FsSecCl& sec) const;
    DWORD importTypeData(FsSecCl& sec);

    // Lookups; none changes the container.
    bool isType(const GUID& typeId) const { return m_types.count(typeId) != 0; }
    size_t size() const { return m_types.size(); }
    const CIsBaseInstallEntry* findEntry(const GUID& typeId) const;
    GUID getTypeIdByName(std::string_view name) const;
    GUID getTypeIdByNameAndClass(TypeClass typeClass, std::string_view name) const;
    GUID getTypeIdByVIDName(std::string_view name) const;
    GUID getTypeIdByVIDNameAndClass(TypeClass typeClass, std::string_view name) const;
    String getTypeNameByID(const GUID& typeId) const;
    String getTypeNameByIDAndClass(TypeClass typeClass, const GUID& typeId) const;
    String getTypeVIDNameByID(const GUID& typeId) const;
    String getTypeVIDNameByIDAndClass(TypeClass typeClass, const GUID& typeId) const;
    TypeClass getTypeClass(const GUID& typeId) const; // 32767 when not installed
    std::vector<GUID> getTypeIDList() const;
    std::vector<GUID> getTypeIDListByClass(TypeClass typeClass) const;
    std::vector<GUID> getTypeIDListByVIDName(std::string_view name) const;
    std::map<GUID, String> getTypeNameMap() const;
    std::map<GUID, String> getTypeNameMap(TypeClass typeClass) const;
    GUID getTypeIDByRTID(const RTTypeID& rt) const;
    GUID getTypeIDByRTID(TypeClass typeClass, const RTTypeID& rt) const;
    DWORD getRTIDByTypeID(const GUID& typeId, RTTypeID& out) const;
    DWORD getRTIDByTypeID(TypeClass typeClass, const GUID& typeId, RTTypeID& out) const;
    DWORD getClsid(const GUID& typeId, CLSID& out) const;

    // Forwarding to the entry of typeId (10 when it is not installed).
    DWORD addSnapIn(const GUID& typeId, const CLSID& clsid);
    DWORD removeSnapIn(const GUID& typeId, const CLSID& clsid);
    DWORD setDefaultSnapIn(const GUID& typeId, const CLSID& clsid);
    DWORD getDefaultSnapIn(const GUID& typeId, CLSID& out) const;
    DWORD getSnapInList(const GUID& typeId, std::vector<CLSID>& out) const;
    DWORD addExtType(const GUID& typeId, const String& name, const CLSID& extClsid);
    DWORD delExtType(const GUID& typeId, const GUID& extTypeId);
    DWORD getExtTypeList(const GUID& typeId, std::vector<GUID>& out) const;
    DWORD getExtType(const GUID& typeId, const GUID& extTypeId, IUnknown** out);
    DWORD getExtTypeName(const GUID& typeId, const GUID& extTypeId, String& out) const;
    bool isExtType(const GUID& typeId, const GUID& extTypeId) const;
    DWORD setOrAddAttr(const GUID& typeId, const std::u16string& name, const std::u16string& value);
    DWORD delAttr(const GUID& typeId, const std::u16string& name);
    DWORD getAttr(const GUID& typeId, const std::u16string& name, BSTR* out) const;
    DWORD getAttr(const GUID& typeId, AttrList& out) const;

    // Type objects: creation and cache.
    DWORD createTypeObject(const GUID& typeId, CIsBaseInstallEntry* entry, IUnknown** out);
    void internalCreateTypeObject(IUnknown** out, const GUID& typeId, CIsBaseInstallEntry* entry);
    DWORD getTypeByID(const GUID& typeId, IUnknown** out);
    DWORD getTypeByID(TypeClass typeClass, const GUID& typeId, IUnknown** out);
    DWORD createNativeTypeObject(const GUID& typeId, IUnknown** out);
    bool removeFromCache(const GUID& typeId, IUnknown* object);
    DWORD clearTypeCache(); // 0, or 99 while memory stays low with nothing left to release
    bool refreshTypeData();
    bool refreshTypeData(const GUID& typeId);

    // Whether available virtual space or page file is below threshold (a
    // side below it still counts as sufficient when loadLimit is non-zero
    // and at least the memory load). Not low when the status is unavailable.
    static bool memoryLow(DWORDLONG threshold, DWORD loadLimit);
    // The memory test of clearTypeCache (memoryLow by default); tests replace it.
    using MemoryProbe = bool (*)(DWORDLONG threshold, DWORD loadLimit);
    static MemoryProbe setMemoryProbe(MemoryProbe probe) noexcept;

    // Version order of type names: negative, 0 or positive ("Drive.1.10" > "Drive.1.9").
    static int compareVersion(std::string_view a, std::string_view b);
    // The first run matching [A-Za-z_][A-Za-z0-9_]* (empty when none).
    static std::string_view vidName(std::string_view name);

    DWORD lastSweepTick() const { return m_dwLastSweep; }

    // Every entry in GUID order (for the stream writer and for inspection).
    using EntryMap = std::map<GUID, std::unique_ptr<CIsBaseInstallEntry>>;
    const EntryMap& entries() const { return m_types; }

private:
    // A bucket: identifiers in GUID order with their entries.
    using IdSet = std::map<GUID, CIsBaseInstallEntry*>;

    CIsBaseInstallEntry* entryOf(const GUID& typeId) const;
    // index, unindex and reindexRuntime bring the indexes up to date first.
    void index(const GUID& typeId, CIsBaseInstallEntry& entry) const;
    void unindex(const GUID& typeId, const CIsBaseInstallEntry& entry) const;
    // The runtime-identity part of the indexes; reindexRuntime moves an entry
    // whose runtime identifier changed from `before`.
    void indexRuntime(const GUID& typeId, CIsBaseInstallEntry& entry) const;
    void unindexRuntime(const GUID& typeId, const RTTypeID& rt) const;
    void reindexRuntime(const GUID& typeId, CIsBaseInstallEntry& entry,
                        const RTTypeID& before) const;
    void idleSweep();
    const IdSet* runtimeBucket(const RTTypeID& rt) const; // (guidVersion, nMajor) members, or null
    DWORD getPrjHdl(ComPtr<IUnknown>& out, CCoTraceRecord& rec);
    DWORD admitEntry(CCoTraceRecord& rec, const GUID& typeId,
                     std::unique_ptr<CIsBaseInstallEntry> entry, IUnknown* typeObject,
                     DWORD (CIsTypeCont::*check)(const CIsBaseInstallEntry*) const);
    GUID vidLookup(const IdSet* bucket, std::string_view name, TypeClass typeClass,
                   bool anyClass) const;

    EntryMap m_types;
    bool m_bModified = true;
    DWORD m_dwLastSweep = 0;
    ComPtr<IMC_PrjHdlHolder> m_spIPrHdlHolder;
    LPCRITICAL_SECTION m_pCallLock = nullptr;

    // Indexes (see the header comment); keys of names are folded A-Z.
    // Names fold to one stem for both notions of a version-independent name
    // whenever the name keeps the naming rule, so the two share a bucket.
    struct StemBucket {
        IdSet byVidName;   // folded VID name equals the stem
        IdSet byDotPrefix; // folded part before the first dot equals the stem
    };
    // A runtime family: all its members, and its members by major version.
    struct FamilyBucket {
        IdSet all;
        std::map<uint16_t, IdSet> byMajor;
    };
    struct Indexes {
        std::unordered_map<std::string, IdSet> byName;
        std::unordered_map<std::string, StemBucket> byStem;
        std::map<CLSID, IdSet> byClsid;
        std::map<GUID, FamilyBucket> byFamily;
        std::map<TypeClass, IdSet> byClass;
        void clear() noexcept;
    };
    // The indexes, built first when entries went in without them (a section
    // read): reading a whole installation does not pay for indexes entry by
    // entry, the first lookup builds them at once.
    const Indexes& idx() const {
        ensureIndexes();
        return m_idx;
    }
    void ensureIndexes() const {
        if (m_indexStale) rebuildIndexes();
    }
    void rebuildIndexes() const;
    mutable Indexes m_idx;
    mutable bool m_indexStale = false;
};

// The type section: the number of types, then per type in GUID order its
// identifier, its class and the entry. Reading clears the container first
// (which leaves the modified flag set) and keeps the entries read whole up
// to the first bad state; success shows only in the stream state.
FsSecCl& operator<<(FsSecCl& sec, const CIsTypeCont& cont);
FsSecCl& operator>>(FsSecCl& sec, CIsTypeCont& cont);
