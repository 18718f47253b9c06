// Low-level switches read straight from the registry store, not through the
// settings module: the 32-bit values "STORAGE_MODE" and "PURIFY_MODE" of
// HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis.
//
// Each use reads its value once per process, on first call, and keeps its own
// copy: the storage kind for memory storages, the one for memory streams and
// the purify switch are three independent caches. A value that is missing,
// or is not a REG_DWORD, counts as absent. Safe from any thread; concurrent
// first callers read the same value and agree.
//
// "STORAGE_MODE"   storages          streams
//   absent         BlockStore        BlockStore
//   bit 0 set      TemporaryFile     GlobalMemory
//   bit 0 clear,
//     bit 1 clear  GlobalMemory      GlobalMemory
//     bit 1 set    BlockStore        BlockStore
//
// "PURIFY_MODE" bit 0 set: the allocation pools are bypassed and every block
// comes from and returns to the general heap.
#pragma once

#include "platform/win/WinTypes.h"

#include <optional>

// Where memory storages and streams keep their data. The numbers are the
// process-wide mode numbers of the memory lock-bytes code.
enum class MemoryStorageKind : int {
    GlobalMemory = 1,  // one growing global-memory block
    TemporaryFile = 2, // a compound file without name, deleted on release
    BlockStore = 3,    // the block-store lock-bytes and stream objects
};

class CCoRegistrySwitches {
public:
    virtual ~CCoRegistrySwitches() = default;

    static MemoryStorageKind storageModeForStorages();
    static MemoryStorageKind storageModeForStreams();

    // Replace the process-wide kind, e.g. fall back to GlobalMemory when a
    // block-store object cannot be made. Later calls return `kind`.
    static void setStorageModeForStorages(MemoryStorageKind kind);
    static void setStorageModeForStreams(MemoryStorageKind kind);

    // True when "PURIFY_MODE" has bit 0 set.
    static bool purifyMode();

    // The value as it is in the store now (uncached); nullopt when absent.
    static std::optional<DWORD> readSwitch(const char16_t* name);
};
