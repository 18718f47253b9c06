#include "co/CCoRegistrySwitches.h"

#include "platform/win/Registry.h"

#include <atomic>

namespace {

constexpr const char16_t* kBasisKey = u"SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis";

// 0 while unknown, else the MemoryStorageKind (or 1/2 for the purify flag).
constinit std::atomic<int> g_storageMode{0};
constinit std::atomic<int> g_streamMode{0};
constinit std::atomic<int> g_purifyMode{0};

MemoryStorageKind storageKindOf(std::optional<DWORD> mode) {
    if (!mode) return MemoryStorageKind::BlockStore;
    if (*mode & 1) return MemoryStorageKind::TemporaryFile;
    return (*mode & 2) ? MemoryStorageKind::BlockStore : MemoryStorageKind::GlobalMemory;
}

MemoryStorageKind streamKindOf(std::optional<DWORD> mode) {
    MemoryStorageKind kind = storageKindOf(mode);
    // Streams have no file form: the temporary-file choice means global memory.
    return kind == MemoryStorageKind::TemporaryFile ? MemoryStorageKind::GlobalMemory : kind;
}

// Reads the cache, computing and storing it first when unknown. Concurrent
// first callers compute the same value; whichever store lands is the same.
template <class Compute> int cached(std::atomic<int>& cache, Compute&& compute) {
    int value = cache.load(std::memory_order_acquire);
    if (value == 0) {
        value = compute();
        int expected = 0;
        // An explicit set made meanwhile wins over the first read.
        if (!cache.compare_exchange_strong(expected, value, std::memory_order_acq_rel))
            value = expected;
    }
    return value;
}

} // namespace

std::optional<DWORD> CCoRegistrySwitches::readSwitch(const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBasisKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = REG_NONE;
    BYTE data[sizeof(DWORD)] = {};
    DWORD size = sizeof(data);
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(DWORD)) return std::nullopt;
    return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
           static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
}

MemoryStorageKind CCoRegistrySwitches::storageModeForStorages() {
    return static_cast<MemoryStorageKind>(cached(g_storageMode, [] {
        return static_cast<int>(storageKindOf(readSwitch(u"STORAGE_MODE")));
    }));
}

MemoryStorageKind CCoRegistrySwitches::storageModeForStreams() {
    return static_cast<MemoryStorageKind>(cached(
        g_streamMode, [] { return static_cast<int>(streamKindOf(readSwitch(u"STORAGE_MODE"))); }));
}

void CCoRegistrySwitches::setStorageModeForStorages(MemoryStorageKind kind) {
    g_storageMode.store(static_cast<int>(kind), std::memory_order_release);
}

void CCoRegistrySwitches::setStorageModeForStreams(MemoryStorageKind kind) {
    g_streamMode.store(static_cast<int>(kind), std::memory_order_release);
}

bool CCoRegistrySwitches::purifyMode() {
    return cached(g_purifyMode, [] {
               std::optional<DWORD> mode = readSwitch(u"PURIFY_MODE");
               return (mode && (*mode & 1)) ? 2 : 1;
           }) == 2;
}
