// CIsTypeCont: type-object creation, the type-object cache and the refresh
// of resident type data.
#include "is/CIsTypeCont.h"
#include "is/CProcessProgressDummy.h"

#include "co/CCoCriticalSection.h"
#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "platform/com/Activation.h"
#include "platform/win/MemoryStatus.h"

#include <atomic>
#include <vector>

namespace {
constexpr const char* kFile = "is_data";
std::atomic<CIsTypeCont::MemoryProbe> g_memoryProbe{nullptr};

// Leaves a re-entrant lock, every level this thread holds, for its lifetime.
class LockLeft {
public:
    explicit LockLeft(LPCRITICAL_SECTION pLock) : m_pLock(pLock) {
        if (!m_pLock || m_pLock->OwningThread.load() != GetCurrentThreadId()) return;
        m_levels = m_pLock->RecursionCount; // the owner's own field
        for (LONG i = 0; i < m_levels; ++i)
            LeaveCriticalSection(m_pLock);
    }
    ~LockLeft() {
        for (LONG i = 0; i < m_levels; ++i)
            zeb::enterCriticalSectionTraced(m_pLock, "CIsTypeCont::refreshTypeData");
    }
    LockLeft(const LockLeft&) = delete;
    LockLeft& operator=(const LockLeft&) = delete;

private:
    LPCRITICAL_SECTION m_pLock;
    LONG m_levels = 0;
};
} // namespace

CIsTypeCont::MemoryProbe CIsTypeCont::setMemoryProbe(MemoryProbe probe) noexcept {
    return g_memoryProbe.exchange(probe);
}

DWORD CIsTypeCont::createTypeObject(const GUID& typeId, CIsBaseInstallEntry* entry,
                                    IUnknown** out) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::createTypeObject");
    if (!out) {
        ZEB_TRACE(rec, 4, "internal error null pointer argument");
        return IS_INTERNAL;
    }
    *out = nullptr;
    if (!entry) {
        if (!isType(typeId)) {
            ZEB_TRACE(rec, 4, "can't find entry in type container");
            return IS_TYPE_ID;
        }
        entry = entryOf(typeId);
    } else if (isType(typeId)) {
        ZEB_TRACE(rec, 4, "internal error creating type object: invalid params");
        return IS_INTERNAL;
    }
    if (!entry) {
        ZEB_TRACE(rec, 4, "internal error creating type object: no entry data");
        return IS_INTERNAL;
    }
    IUnknown* object = nullptr;
    internalCreateTypeObject(&object, typeId, entry);
    if (!object) {
        ZEB_TRACE(rec, 4, "error creating type object");
        return IS_NOT_CREATED;
    }
    *out = object;
    idleSweep();
    return IS_OK;
}

void CIsTypeCont::internalCreateTypeObject(IUnknown** out, const GUID& typeId,
                                           CIsBaseInstallEntry* entry) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::internalCreateTypeObject");
    *out = nullptr;
    // Copies: the factory may call back and remove the type, entry and all.
    const CLSID clsid = entry->m_clsid;
    const String name = entry->m_name;
    ComPtr<IUnknown> spIUnkCF;
    HRESULT hr = ZEB_GUARDED_CALL(rec, CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_IUnknown,
                                                        reinterpret_cast<void**>(&spIUnkCF)));
    if (hr != S_OK || !spIUnkCF) {
        ZEB_TRACE(rec, 4, "couldn't create class factory hr=%i", int(hr));
        return;
    }
    ComQIPtr<IClassFactory> spICF(spIUnkCF);
    ComQIPtr<IMC_TypeClassFactory> spITypeCF(spIUnkCF);
    ComPtr<IUnknown> spIUnk;
    if (spICF) {
        hr = ZEB_GUARDED_CALL(rec, spICF->CreateInstance(nullptr, uuidof<IMC_TypeIdent>(),
                                                         reinterpret_cast<void**>(&spIUnk)));
        if (hr == S_OK && spIUnk) {
            ComQIPtr<IMC_InitPrjHdl> spIInit(spIUnk);
            if (spIInit)
                ZEB_GUARDED_CALL(rec, spIInit->initPrjHdl(m_spIPrHdlHolder)); // result ignored
        }
    } else if (spITypeCF) {
        hr = ZEB_GUARDED_CALL(rec, spITypeCF->create(nullptr, uuidof<IMC_TypeIdent>(), name.c_str(),
                                                     typeId, m_spIPrHdlHolder,
                                                     reinterpret_cast<void**>(&spIUnk)));
    } else {
        ZEB_TRACE(rec, 4, "error: no valid class factory interface");
        return;
    }
    if (hr != S_OK || !spIUnk) {
        ZEB_TRACE(rec, 4, "couldn't create type object '%s'", name.c_str());
        return;
    }
    *out = spIUnk.Detach();
}

void CIsTypeCont::idleSweep() {
    DWORD now = CIsBaseInstallEntry::currentTick();
    if (DWORD(m_dwLastSweep + kSweepInterval) > now) return;
    m_dwLastSweep = now;
    // The references taken on the way are dropped after the walk: an object
    // that dies then calls back and may change the map.
    std::vector<ComPtr<IUnknown>> touched;
    for (auto& [id, entry] : m_types) {
        if (DWORD(entry->m_lastUse + kIdleTime) > now) continue;
        ComPtr<IUnknown> object;
        entry->getTypeObject(&object);
        if (!object) continue;
        bool held = !entry->m_weakRef;
        if (held) entry->makeWeak();
        touched.push_back(std::move(object));
        if (held) {
            m_dwLastSweep = 0; // sweep again at the next creation
            break;
        }
    }
}

DWORD CIsTypeCont::getTypeByID(const GUID& typeId, IUnknown** out) {
    if (!out) return IS_INTERNAL;
    *out = nullptr;
    CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) return IS_TYPE_ID;
    entry->getTypeObject(out);
    if (*out) return IS_OK;
    if (entry->m_needsRefresh) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getTypeByID");
        ZEB_TRACE(rec, 4, "type '%s' needs refresh (installation running?)", entry->m_name.c_str());
    }
    DWORD r = createTypeObject(typeId, nullptr, out);
    // The creation called out (class factory, idle sweep): the type may be
    // gone now, or a nested call may have cached an object already.
    entry = entryOf(typeId);
    if (!entry || entry->m_spTypeObject) {
        if (*out) (*out)->Release();
        *out = nullptr;
        if (!entry) return r == IS_OK ? IS_TYPE_ID : r;
        entry->getTypeObject(out);
        return IS_OK;
    }
    entry->setTypeObject(*out);
    return r;
}

DWORD CIsTypeCont::getTypeByID(TypeClass typeClass, const GUID& typeId, IUnknown** out) {
    if (out) *out = nullptr;
    if (getTypeClass(typeId) != typeClass) {
        CCoTraceRecord rec(kFile, "CIsTypeCont::getTypeByID");
        ZEB_TRACE(rec, 4, "invalid type class");
        return IS_WRONG_CLASS;
    }
    return getTypeByID(typeId, out);
}

DWORD CIsTypeCont::createNativeTypeObject(const GUID& typeId, IUnknown** out) {
    if (!out) return IS_INTERNAL;
    *out = nullptr;
    CCoTraceRecord rec(kFile, "CIsTypeCont::createNativeTypeObject");
    CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        ZEB_TRACE(rec, 4, "type for type id not found");
        return IS_TYPE_ID;
    }
    {
        // A cached object that nobody else holds dies when this reference
        // goes, after makeWeak, and takes itself out of the cache.
        ComPtr<IUnknown> cached;
        entry->getTypeObject(&cached);
        entry->makeWeak();
    }
    entry = entryOf(typeId); // the dying object may have changed the map
    if (!entry) {
        ZEB_TRACE(rec, 4, "type for type id not found");
        return IS_TYPE_ID;
    }
    if (entry->m_spTypeObject || entry->m_weakRef) {
        ZEB_TRACE(rec, 4, "can't create native type object because it's in use");
        return IS_NO_INTERFACE;
    }
    if (entry->m_needsRefresh) {
        const String name = entry->m_name; // the refresh pumps messages: entry may go
        if (!refreshTypeData(typeId))
            ZEB_TRACE(rec, 4, "error calling refreshTypeData for type '%s'", name.c_str());
    }
    return createTypeObject(typeId, nullptr, out);
}

bool CIsTypeCont::removeFromCache(const GUID& typeId, IUnknown* object) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::removeFromCache");
    CIsBaseInstallEntry* entry = entryOf(typeId);
    if (!entry) {
        ZEB_TRACE(rec, 4, "type for type id not found");
        return false;
    }
    if (entry->m_spTypeObject != object) {
        ZEB_TRACE(rec, 3, "type object not in cache");
        return true;
    }
    if (!entry->m_weakRef) {
        ZEB_TRACE(rec, 4, "type has no weak reference");
        return false;
    }
    entry->setTypeObject(nullptr);
    return true;
}

DWORD CIsTypeCont::clearTypeCache() {
    MemoryProbe probe = g_memoryProbe.load();
    if (!probe) probe = &CIsTypeCont::memoryLow;
    while (probe(kMemoryThreshold, 0)) {
        CIsBaseInstallEntry* best = nullptr;
        DWORD bestTick = 0;
        // The references taken in a pass keep every object alive until the
        // pass is over: one that dies calls back and may change the map.
        std::vector<ComPtr<IUnknown>> touched;
        for (auto& [id, entry] : m_types) {
            if (entry->m_lastUse < bestTick) continue;
            ComPtr<IUnknown> object;
            entry->getTypeObject(&object);
            if (!object) continue;
            if (!entry->m_weakRef) {
                best = entry.get();
                bestTick = entry->m_lastUse;
            }
            touched.push_back(std::move(object));
        }
        if (!best) return IS_MEMORY_LOW;
        best->makeWeak();
    }
    return IS_OK;
}

bool CIsTypeCont::memoryLow(DWORDLONG threshold, DWORD loadLimit) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return false; // unknown: not low
    // A 64-bit process owns its whole address space: no correction applies.
    bool virtualLow = status.ullAvailVirtual < threshold;
    bool pageFileLow = status.ullAvailPageFile < threshold;
    if (loadLimit != 0 && loadLimit >= status.dwMemoryLoad) virtualLow = pageFileLow = false;
    return virtualLow || pageFileLow;
}

bool CIsTypeCont::refreshTypeData(const GUID& typeId) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::refreshTypeData");
    auto it = m_types.find(typeId);
    if (it == m_types.end()) {
        ZEB_TRACE(rec, 4, "typeID not found");
        return false;
    }
    CIsBaseInstallEntry* entry = it->second.get();
    if (!entry) {
        ZEB_TRACE(rec, 4, "internal error: no entry pointer");
        return false;
    }
    if (!entry->m_needsRefresh) return true;
    if (entry->m_spTypeObject) {
        ZEB_TRACE(rec, 4, "can't refresh type data (type already instantiated)");
        return false;
    }
    ComPtr<IUnknown> spIUnk;
    if (createTypeObject(typeId, nullptr, &spIUnk) != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling createTypeObject");
        return false;
    }
    if (ComQIPtr<IMC_InternalType> spIIntType(spIUnk); spIIntType) {
        ComPtr<CProcessProgressDummy> spCB;
        HRESULT hr = guardedCall(rec, "CComObject<CProcessProgressDummy>::CreateInstance(&pCBtmp)",
                                 [&] { return CProcessProgressDummy::createObject(&spCB); });
        ComPtr<IMC_ProcessProgress> spICB(spCB.get());
        DWORD dwRet = 0;
        hr = guardedCallRet(rec, "spIIntType->OnInstallationComplete(spICB, &dwRet)", dwRet,
                            [&] { return spIIntType->OnInstallationComplete(spICB, &dwRet); });
        if (SUCCEEDED(hr) && dwRet == 0 && spCB) {
            // While waiting the owner's thread serves calls from other threads,
            // such as a worker of this very type object that drops the last
            // reference to a weak type object before it reports.
            LockLeft unlocked(m_pCallLock);
            dwRet = DWORD(spCB->waitForFinish());
        }
        if (hr != S_OK || dwRet != 0) {
            ZEB_TRACE(rec, 4, "error calling OnInstallationComplete %8.8X", dwRet);
            return false;
        }
        spIIntType.Release(); // the old object goes before the new one is made
        spIUnk.Release();
        if (createTypeObject(typeId, nullptr, &spIUnk) != IS_OK) {
            ZEB_TRACE(rec, 4, "error calling createTypeObject(reload)");
            return false;
        }
    }
    // Creating the objects and waiting for the installation step called out
    // (class factories, message handlers dispatched by the wait), which may
    // have removed or reinstalled the type: find its entry again.
    entry = entryOf(typeId);
    if (!entry) {
        ZEB_TRACE(rec, 4, "typeID not found");
        return false;
    }
    // Reading the resident data asks the type object again, which may remove,
    // reinstall or clear types from inside: the data is read into a scratch
    // entry of the same class, and carried over to the entry found after the
    // call. A type gone meanwhile has nothing left to refresh ("typeID not
    // found", as above).
    std::unique_ptr<CIsBaseInstallEntry> scratch = createEntry(entry->m_typeClass);
    if (!scratch) {
        ZEB_TRACE(rec, 4, "error calling onGetResidentData");
        return false;
    }
    scratch->m_rtTypeID = entry->m_rtTypeID;
    DWORD r =
        guardedBody<DWORD>(rec, IS_INTERNAL, [&] { return scratch->onGetResidentData(spIUnk); });
    entry = entryOf(typeId);
    if (!entry) {
        ZEB_TRACE(rec, 4, "typeID not found");
        return false;
    }
    // The runtime identifier may change: keep the indexes in step.
    const RTTypeID before = entry->m_rtTypeID;
    entry->m_rtTypeID = scratch->m_rtTypeID;
    for (auto& [name, value] : scratch->m_attributes)
        entry->m_attributes.insert_or_assign(name, std::move(value));
    reindexRuntime(typeId, *entry, before);
    if (r != IS_OK) {
        ZEB_TRACE(rec, 4, "error calling onGetResidentData");
        return false;
    }
    if (checkEntryRtTypeID(entry) != IS_OK) {
        ZEB_TRACE(rec, 4, "error checking type specific data");
        return false;
    }
    entry->m_needsRefresh = false;
    return true;
}

bool CIsTypeCont::refreshTypeData() {
    // Over a list made first: a refresh waits for type objects and dispatches
    // messages, whose handlers may install and remove types. A type that is
    // no longer installed when its turn comes, or that went during its own
    // refresh, has nothing left to refresh and is no failure.
    std::vector<GUID> due;
    for (const auto& [id, entry] : m_types)
        if (entry->m_needsRefresh) due.push_back(id);
    for (const GUID& id : due) {
        if (!isType(id)) continue;
        if (!refreshTypeData(id) && isType(id)) {
            CCoTraceRecord rec(kFile, "CIsTypeCont::refreshTypeData");
            ZEB_TRACE(rec, 4, "error calling refreshTypeData for single type");
            return false;
        }
    }
    return true;
}
