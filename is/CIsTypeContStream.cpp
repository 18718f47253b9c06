// The type container in section streams: the type section of the
// installation file and the type-data exchange block.
//
// Layout (stored files and other programs hold these bytes): the number of
// items, one space; per item the type identifier (a GUID brings a space of
// its own), one space, the class as an unsigned number, one space, the entry
// (CIsBaseInstallEntry::write).
#include "base/fs/FsSecCl.h"
#include "co/CCoGuardedCall.h"
#include "is/CIsTypeCont.h"

#include <new>

namespace {

constexpr const char* kFile = "is_data";

void writeItem(FsSecCl& sec, const GUID& typeId, const CIsBaseInstallEntry& entry) {
    sec << typeId;
    sec.separator();
    sec << DWORD(entry.m_typeClass);
    sec.separator();
    sec << entry;
}

// Reads the identifier and the class of one item and, when the class has an
// entry class, the entry. Null when the class has none: its data stay
// unread, so the items behind it read out of place and the caller's count
// check reports it (stored files rely on that reading, not on a skip).
std::unique_ptr<CIsBaseInstallEntry> readItem(FsSecCl& sec, GUID& typeId) {
    typeId = GUID_NOTYPE;
    DWORD typeClass = TC_NotInstalled;
    sec >> typeId >> typeClass;
    if (sec.state() != 0) return nullptr;
    std::unique_ptr<CIsBaseInstallEntry> entry = createEntry(TypeClass(typeClass));
    // Classes 0..8 have an entry class: no entry means no memory, which is
    // no reason to skip the item as one of an unknown class.
    if (!entry && typeClass <= 8) throw std::bad_alloc();
    if (entry) sec >> *entry;
    return entry;
}

} // namespace

FsSecCl& operator<<(FsSecCl& sec, const CIsTypeCont& cont) {
    sec << DWORD(cont.size());
    sec.separator();
    for (const auto& [typeId, entry] : cont.entries())
        writeItem(sec, typeId, *entry);
    return sec;
}

// Only entries read whole enter the container: an entry cut off by a bad
// state holds parts of the following data and is dropped. The loop ends at
// the first bad state, so a count without data costs nothing.
FsSecCl& operator>>(FsSecCl& sec, CIsTypeCont& cont) {
    CCoTraceRecord rec(kFile, "operator >> (CIsTypeCont)");
    bool noMemory = false;
    HRESULT hr = guardedMethod(rec, [&]() -> HRESULT {
        try {
            cont.clear();
            DWORD count = 0;
            sec >> count;
            for (DWORD i = 0; i < count && sec.state() == 0; ++i) {
                GUID typeId;
                std::unique_ptr<CIsBaseInstallEntry> entry = readItem(sec, typeId);
                if (!entry || sec.state() != 0) continue;
                if (cont.isType(typeId)) {
                    ZEB_TRACE(rec, 4, "error inserting type entry for \"%s\"",
                              entry->m_name.c_str());
                    continue;
                }
                cont.insertEntryUnindexed(typeId, std::move(entry));
            }
            if (cont.size() != count || sec.state() != 0)
                ZEB_TRACE(rec, 4, "error reading installation data");
            return S_OK;
        } catch (const std::bad_alloc&) {
            noMemory = true;
            throw;
        }
    });
    // No memory for what was read: the reader must not take that for damage.
    if (FAILED(hr)) sec.setError(noMemory ? FsSecCl::kNoMemory : FsSecCl::kBadLength);
    return sec;
}

DWORD CIsTypeCont::exportTypeData(const std::vector<GUID>& typeIds, FsSecCl& sec) const {
    for (const GUID& typeId : typeIds) {
        if (!isType(typeId)) {
            CCoTraceRecord rec(kFile, "CIsTypeCont::exportTypeData");
            ZEB_TRACE(rec, 4, "invalid type id '%s'", zeb::guidToString(typeId).c_str());
            return IS_TYPE_ID;
        }
    }
    sec << DWORD(typeIds.size());
    sec.separator();
    for (const GUID& typeId : typeIds)
        writeItem(sec, typeId, *entryOf(typeId));
    return sec.state() == 0 ? IS_OK : IS_INTERNAL;
}

// An installed type is replaced only by an entry read whole: a block cut off
// in the middle of an entry leaves the installed type as it was.
DWORD CIsTypeCont::importTypeData(FsSecCl& sec) {
    CCoTraceRecord rec(kFile, "CIsTypeCont::importTypeData");
    DWORD code = IS_OK;
    HRESULT hr = guardedMethod(rec, [&]() -> HRESULT {
        DWORD count = 0;
        sec >> count;
        for (DWORD i = 0; i < count; ++i) {
            if (sec.state() != 0) break;
            GUID typeId;
            std::unique_ptr<CIsBaseInstallEntry> entry = readItem(sec, typeId);
            if (sec.state() != 0) break;
            if (!entry) {
                ZEB_TRACE(rec, 4, "failed to create");
                code = IS_INTERNAL;
                return S_OK;
            }
            if (isType(typeId) && removeType(typeId) != IS_OK)
                ZEB_TRACE(rec, 4, "failed to remove type");
            // Taken as read: no name, CLSID or runtime-identity rule.
            String name = entry->m_name;
            if (insertEntry(typeId, std::move(entry)) != IS_OK) {
                ZEB_TRACE(rec, 4, "error inserting type entry for \"%s\"", name.c_str());
                code = IS_INTERNAL;
                return S_OK;
            }
        }
        if (sec.state() != 0) {
            ZEB_TRACE(rec, 4, "error reading installation data");
            code = IS_IMPORT_READ;
        }
        return S_OK;
    });
    return FAILED(hr) ? IS_INTERNAL : code;
}
