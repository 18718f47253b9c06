#include "base/fs/FsMemStorage.h"

#include "base/fs/FsLockBytes.h"
#include "co/CCoRegistrySwitches.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/ComPtr.h"

namespace {
// Traced under the file manager's name and source, where this operation is
// published: log filters and readers of earlier traces know it by that name.
constexpr const char* kSource = "fs_inst";
constexpr const char* kFunction = "FsFileMan::createMemStorage";
} // namespace

bool FsMemStorage::create(IStorage** out) {
    CCoTraceRecord rec(kSource, kFunction);
    if (!out) return false;
    *out = nullptr;
    constexpr DWORD kMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    MemoryStorageKind kind = CCoRegistrySwitches::storageModeForStorages();
    if (kind == MemoryStorageKind::BlockStore) {
        ComPtr<ILockBytes> bytes;
        HRESULT hr = FsLockBytes::create(&bytes);
        if (FAILED(hr)) {
            ZEB_TRACE(rec, 4, "error creating LockedBytesObject");
        } else {
            hr = StgCreateDocfileOnILockBytes(bytes, kMode, 0, out);
            if (SUCCEEDED(hr)) return true;
            ZEB_TRACE(rec, 4, "error StgCreateDocfileOnILockBytes HR: 0x%x", unsigned(hr));
            *out = nullptr;
        }
        CCoRegistrySwitches::setStorageModeForStorages(MemoryStorageKind::GlobalMemory);
        kind = MemoryStorageKind::GlobalMemory;
    }
    if (kind == MemoryStorageKind::TemporaryFile) {
        // A nameless temporary file, removed when the storage is released.
        const HRESULT hr = StgCreateDocfile(nullptr, kMode | STGM_DELETEONRELEASE, 0, out);
        if (SUCCEEDED(hr)) return true;
        ZEB_TRACE(rec, 4, "error StgCreateDocfile HR: 0x%x", unsigned(hr));
        *out = nullptr;
        return false;
    }
    ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4, "error CreateILockBytesOnHGlobal HR: 0x%x", unsigned(hr));
        return false;
    }
    hr = StgCreateDocfileOnILockBytes(bytes, kMode, 0, out);
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4, "error StgCreateDocfileOnILockBytes HR: 0x%x", unsigned(hr));
        *out = nullptr;
        return false;
    }
    return true;
}
