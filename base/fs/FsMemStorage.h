// FsMemStorage: new compound storages that live in process memory, for the
// section manager's directory copies and the file manager's in-memory files.
//
//   ComPtr<IStorage> storage;
//   if (FsMemStorage::create(&storage)) { ... FsSectMan man(storage); ... }
//
// Where the bytes live is decided once per process from "STORAGE_MODE"
// (CCoRegistrySwitches::storageModeForStorages): on an FsLockBytes block
// store by default, else on a global-memory lock-bytes object, or in a
// nameless temporary file deleted on release. When the block store cannot be
// used the process falls back to global memory for good.
#pragma once

#include "platform/storage/Storage.h"

class FsMemStorage {
public:
    FsMemStorage() = delete;

    // A new, empty storage (read-write, share-exclusive) with one reference
    // in *out; true on success, false (and null) on failure or a null out.
    static bool create(IStorage** out);
};
