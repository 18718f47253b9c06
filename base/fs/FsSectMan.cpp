#include "base/fs/FsSectMan.h"

#include "base/fs/FsMemStorage.h"
#include "base/fs/FsSecClMem.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/TextConvert.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {
constexpr const char* kSource = "fs_seman";
constexpr DWORD kShareExclusive = STGM_SHARE_EXCLUSIVE;
} // namespace

FsSectMan::FsSectMan(IStorage* storage) {
    if (!storage) return;
    CCoTraceRecord rec(kSource, "FsSectMan::FsSectMan");
    storage->AddRef();
    m_pStorage = storage;
    STATSTG st{};
    if (FAILED(m_pStorage->Stat(&st, STATFLAG_NONAME))) {
        ZEB_TRACE(rec, 4, "error calling Stat");
        m_bLocked = 1;
        adoptStorage(nullptr);
        return;
    }
    if (st.pwcsName) CoTaskMemFree(st.pwcsName);
    if (st.grfMode & STGM_READWRITE) m_dwMode |= kModeWritable;
    if (ListAll() != 0) {
        ZEB_TRACE(rec, 4, "error calling ListAll");
        m_bLocked = 1;
        adoptStorage(nullptr);
    }
}

FsSectMan::~FsSectMan() {
    CCoTraceRecord rec(kSource, "FsSectMan::~FsSectMan");
    guardedDestructor(rec, [&] {
        if (m_pStorage) {
            if (CloseAll() != 0) ZEB_TRACE(rec, 4, "error calling CloseAll");
            if (isWritable() && FAILED(m_pStorage->Commit(STGC_DEFAULT)))
                ZEB_TRACE(rec, 4, "error calling Commit");
        }
        dropAll();
        adoptStorage(nullptr);
    });
}

void FsSectMan::adoptStorage(IStorage* storage) noexcept {
    IStorage* old = m_pStorage;
    m_pStorage = storage;
    if (old) old->Release();
}

void FsSectMan::dropAll() noexcept {
    for (auto& [name, dir] : m_mapDirs)
        dir.reset();
    for (auto& [name, sec] : m_mapSects)
        sec.reset();
}

DWORD FsSectMan::ListAll() {
    if (!m_pStorage) return kNoStorage;
    if (!m_mapDirs.empty() || !m_mapSects.empty()) return kExists;
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(m_pStorage->EnumElements(0, nullptr, 0, &elements)) || !elements) return kFailed;
    DWORD result = 0;
    for (;;) {
        STATSTG st{};
        ULONG fetched = 0;
        const HRESULT hr = elements->Next(1, &st, &fetched);
        if (FAILED(hr)) {
            result = 1;
            break;
        }
        if (fetched == 0) break;
        std::string name;
        try {
            name = zeb::toNarrow(st.pwcsName ? std::u16string_view(st.pwcsName) : u"");
        } catch (...) {
            result = 1;
        }
        CoTaskMemFree(st.pwcsName);
        if (result != 0) break;
        bool inserted = false;
        if (st.type == STGTY_STORAGE)
            inserted = m_mapDirs.emplace(name, nullptr).second;
        else if (st.type == STGTY_STREAM)
            inserted = m_mapSects.emplace(name, nullptr).second;
        if (!inserted) {
            result = 1;
            break;
        }
    }
    if (result != 0) {
        m_mapDirs.clear();
        m_mapSects.clear();
    }
    return result;
}

// The checks OpenSect and OpenDir share; 0 with the wide name when the
// element may be opened in `mode`.
DWORD FsSectMan::checkOpen(const char* name, DWORD mode, std::u16string& wide) const {
    if (m_bLocked) return kRefused;
    if (!m_pStorage) return kNoStorage;
    if (!name) return kNotFound;
    if (!isWritable() && (mode & (kWrite | kCreate))) return kRefused;
    try {
        wide = zeb::toWide(name);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return kFailed;
    }
    return kOk;
}

DWORD FsSectMan::OpenSect(const char* name, FsSecCl** out, DWORD mode) {
    if (out) *out = nullptr;
    std::u16string wide;
    if (const DWORD r = checkOpen(name, mode, wide); r != 0) return r;
    auto it = m_mapSects.find(name);
    ComPtr<IStream> stream;
    if (mode & kCreate) {
        if (it != m_mapSects.end()) return kExists;
        if (FAILED(m_pStorage->CreateStream(
                wide.c_str(), STGM_CREATE | STGM_READWRITE | kShareExclusive, 0, 0, &stream)))
            return kCreateFailed;
        try {
            it = m_mapSects.emplace(name, nullptr).first;
        } catch (...) {
            return kNoMemory;
        }
        mode |= kWrite;
    } else if (it == m_mapSects.end()) {
        return kNotFound;
    }
    if (FsSecCl* open = it->second.get()) {
        if (open->isWritable() != ((mode & kWrite) != 0)) return kRefused;
        open->seek(0, 0);
        if (out) *out = open;
        return kOk;
    }
    std::unique_ptr<FsSecCl> created(new (std::nothrow) FsSecCl());
    if (!created) return kNoMemory;
    if (!stream) {
        const DWORD access = (mode & kWrite) ? STGM_READWRITE : STGM_READ;
        const HRESULT hr =
            m_pStorage->OpenStream(wide.c_str(), nullptr, access | kShareExclusive, 0, &stream);
        if (hr == E_OUTOFMEMORY || hr == STG_E_INSUFFICIENTMEMORY) return kNoMemory;
        if (FAILED(hr)) return kOpenFailed;
    }
    if (created->attach(stream, mode & kWrite) != 0) return kOpenFailed;
    FsSecCl* section = created.get();
    it->second = std::move(created);
    if (out) *out = section;
    if (section->size() != 0) return section->afterOpen();
    return kOk;
}

DWORD FsSectMan::CloseSect(const char* name) {
    if (m_bLocked) return kRefused;
    if (!name) return kNotFound;
    auto it = m_mapSects.find(name);
    if (it == m_mapSects.end()) return kNotFound;
    FsSecCl* section = it->second.get();
    if (!section) return kOk;
    if (section->isHandedOut()) return kRefused;
    if (const DWORD r = section->beforeClose(); r != 0) return r;
    // The entry is cleared before the section flushes and commits.
    std::unique_ptr<FsSecCl> closing = std::move(it->second);
    closing.reset();
    return kOk;
}

DWORD FsSectMan::CloseSect(FsSecCl* section) {
    if (m_bLocked) return kRefused;
    if (!section) return kForeignObject;
    for (auto& [name, open] : m_mapSects)
        if (open.get() == section) return CloseSect(name.c_str());
    return kForeignObject;
}

DWORD FsSectMan::OpenDir(const char* name, FsSectMan** out, DWORD mode) {
    if (out) *out = nullptr;
    std::u16string wide;
    if (const DWORD r = checkOpen(name, mode, wide); r != 0) return r;
    auto it = m_mapDirs.find(name);
    ComPtr<IStorage> storage;
    if (mode & kCreate) {
        if (it != m_mapDirs.end()) return kExists;
        if (FAILED(m_pStorage->CreateStorage(
                wide.c_str(), STGM_CREATE | STGM_READWRITE | kShareExclusive, 0, 0, &storage)))
            return kCreateFailed;
        try {
            it = m_mapDirs.emplace(name, nullptr).first;
        } catch (...) {
            return kFailed;
        }
        mode |= kWrite;
    } else if (it == m_mapDirs.end()) {
        return kNotFound;
    }
    if (FsSectMan* open = it->second.get()) {
        if (open->isWritable() != ((mode & kWrite) != 0)) return kRefused;
        if (out) *out = open;
        return kOk;
    }
    if (!storage) {
        const DWORD access = (mode & kWrite) ? STGM_READWRITE : STGM_READ;
        if (FAILED(m_pStorage->OpenStorage(wide.c_str(), nullptr, access | kShareExclusive, nullptr,
                                           0, &storage)))
            return kOpenFailed;
    }
    std::unique_ptr<FsSectMan> child(new (std::nothrow) FsSectMan());
    if (!child) return kFailed;
    child->adoptStorage(storage.Detach());
    child->m_dwMode = mode & kWrite;
    if (child->ListAll() != 0) {
        child->m_dwMode = 0; // nothing to commit
        return kFailed;
    }
    if (out) *out = child.get();
    it->second = std::move(child);
    return kOk;
}

DWORD FsSectMan::CloseDir(const char* name) {
    if (m_bLocked) return kRefused;
    if (!m_pStorage) return kNoStorage;
    if (!name) return kNotFound;
    auto it = m_mapDirs.find(name);
    if (it == m_mapDirs.end()) return kNotFound;
    FsSectMan* child = it->second.get();
    if (!child) return kOk;
    if (child->CloseAll() != 0) return kCloseFailed;
    // The entry is cleared before the child commits and lets its storage go.
    std::unique_ptr<FsSectMan> closing = std::move(it->second);
    closing.reset();
    return kOk;
}

DWORD FsSectMan::CloseDir(FsSectMan* directory) {
    if (m_bLocked) return kRefused;
    if (!directory) return kForeignObject;
    for (auto& [name, open] : m_mapDirs)
        if (open.get() == directory) return CloseDir(name.c_str());
    return kForeignObject;
}

DWORD FsSectMan::CloseAll() {
    for (auto& [name, open] : m_mapDirs)
        if (open && CloseDir(name.c_str()) != 0) return kCloseFailed;
    for (auto& [name, open] : m_mapSects)
        if (open && CloseSect(name.c_str()) != 0) return kCloseFailed;
    return kOk;
}

FsSecCl* FsSectMan::GetSect(const char* name, DWORD mode) {
    FsSecCl* section = nullptr;
    DWORD r = OpenSect(name, &section, mode);
    if (r == kNotFound && isWritable() && (mode & kWrite))
        r = OpenSect(name, &section, mode | kCreate);
    return r == 0 ? section : nullptr;
}

FsSectMan* FsSectMan::GetDir(const char* name, DWORD mode) {
    FsSectMan* directory = nullptr;
    DWORD r = OpenDir(name, &directory, mode);
    if (r == kNotFound && isWritable() && (mode & kWrite))
        r = OpenDir(name, &directory, mode | kCreate);
    return r == 0 ? directory : nullptr;
}

DWORD FsSectMan::GetSize(const char* name) {
    if (!name) return 0;
    auto it = m_mapSects.find(name);
    if (it == m_mapSects.end()) return 0;
    if (it->second) return it->second->size();
    FsSecCl* section = nullptr;
    if (OpenSect(name, &section, 0) != 0 || !section) return 0;
    const DWORD size = section->size();
    if (CloseSect(name) != 0) {
        CCoTraceRecord rec(kSource, "FsSectMan::GetSize");
        ZEB_TRACE(rec, 4, "internal error closing section");
    }
    return size;
}

bool FsSectMan::Lock(IStorage** out) {
    if (!out) return false;
    *out = nullptr;
    if (m_bLocked || !m_pStorage) return false;
    if (CloseAll() != 0) return false;
    m_pStorage->AddRef();
    *out = m_pStorage;
    m_bLocked = 1;
    m_mapDirs.clear();
    m_mapSects.clear();
    return true;
}

DWORD FsSectMan::Unlock() {
    if (!m_bLocked) return kOk;
    if (const DWORD r = ListAll(); r != 0) return r;
    m_bLocked = 0;
    return kOk;
}

IStorage* FsSectMan::getCopyOfDir(const char* name, IStorage* destination) {
    CCoTraceRecord rec(kSource, "FsSectMan::getCopyOfDir");
    if (!name) return nullptr;
    // A directory the caller holds stays as it is, with everything open in
    // it: it is neither locked (which would close its sections under the
    // caller) nor closed. GetDir hands it out only when it is open read-only,
    // so nothing in it waits to be written and its storage is copied as it
    // stands.
    const auto entry = m_mapDirs.find(name);
    const bool callersOwn = entry != m_mapDirs.end() && entry->second != nullptr;
    FsSectMan* directory = GetDir(name, 0);
    if (!directory) return nullptr;
    ComPtr<IStorage> source;
    if (callersOwn) {
        if (directory->isLocked()) return nullptr; // handed out by the caller
        source = directory->storage();
    } else if (!directory->Lock(&source)) {
        if (CloseDir(directory) != 0) ZEB_TRACE(rec, 4, "error calling CloseDir");
        return nullptr;
    }
    ComPtr<IStorage> target = destination;
    bool ok = source != nullptr;
    if (ok && !target) ok = FsMemStorage::create(&target);
    if (ok) ok = SUCCEEDED(source->CopyTo(0, nullptr, nullptr, target));
    source.Release();
    if (!callersOwn) {
        if (directory->Unlock() != 0) ZEB_TRACE(rec, 4, "error calling Unlock");
        if (CloseDir(directory) != 0) ZEB_TRACE(rec, 4, "error calling CloseDir");
    }
    return ok ? target.Detach() : nullptr;
}

IStream* FsSectMan::getCopyOfSect(const char* name, IStream* destination) {
    CCoTraceRecord rec(kSource, "FsSectMan::getCopyOfSect");
    if (!name) return nullptr;
    // A section the caller holds stays open, and goes back to the caller's
    // position afterwards (opening it again and ending the hand-out both move
    // it to 0). A hand-out of the caller's own is left alone.
    const auto entry = m_mapSects.find(name);
    const FsSecCl* held = entry != m_mapSects.end() ? entry->second.get() : nullptr;
    const DWORD callersPosition = held ? held->position() : 0;
    FsSecCl* section = GetSect(name, 0);
    if (!section) return nullptr;
    ComPtr<IStream> source;
    source.Attach(section->getIStreamPtr());
    const bool handedOut = source != nullptr;
    ComPtr<IStream> target = destination;
    bool ok = handedOut;
    if (ok && !target) {
        target.Attach(FsSecClMem::createMemoryStream());
        ok = target != nullptr;
    }
    if (ok) {
        const LARGE_INTEGER zero{};
        STATSTG st{};
        ok = SUCCEEDED(source->Seek(zero, STREAM_SEEK_SET, nullptr)) &&
             SUCCEEDED(source->Stat(&st, STATFLAG_NONAME));
        if (st.pwcsName) CoTaskMemFree(st.pwcsName);
        ULARGE_INTEGER none{};
        ULARGE_INTEGER read{}, written{};
        ok = ok && SUCCEEDED(target->SetSize(none)) && SUCCEEDED(target->SetSize(st.cbSize)) &&
             SUCCEEDED(target->Seek(zero, STREAM_SEEK_SET, nullptr)) &&
             SUCCEEDED(source->CopyTo(target, st.cbSize, &read, &written)) &&
             read.QuadPart == written.QuadPart && read.QuadPart == st.cbSize.QuadPart &&
             SUCCEEDED(target->Seek(zero, STREAM_SEEK_SET, nullptr));
    }
    source.Release();
    if (handedOut && section->unlockStream() != 0) ZEB_TRACE(rec, 4, "error calling Unlock");
    if (held) {
        // A section position may exceed what one signed seek reaches.
        constexpr DWORD kMaxStep = 0x7FFFFFFF;
        section->seek(LONG(std::min(callersPosition, kMaxStep)), 0);
        if (callersPosition > kMaxStep) section->seek(LONG(callersPosition - kMaxStep), 1);
    } else if (CloseSect(name) != 0) {
        ZEB_TRACE(rec, 4, "error calling CloseSect");
    }
    return ok ? target.Detach() : nullptr;
}
