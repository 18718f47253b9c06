#include "base/fs/FsSecClMem.h"

#include "base/fs/FsStream.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoRegistrySwitches.h"
#include "co/CCoTraceRecord.h"

namespace {
constexpr const char* kSource = "fs_mem_sec";

ComPtr<IStream> adoptNewStream() {
    ComPtr<IStream> s;
    s.Attach(FsSecClMem::createMemoryStream());
    return s;
}
} // namespace

FsSecClMem::FsSecClMem() : FsSecClMem(adoptNewStream()) {}

FsSecClMem::FsSecClMem(ComPtr<IStream> stream) : FsSecCl(stream.get()) {}

FsSecClMem::~FsSecClMem() = default;

HRESULT FsSecClMem::CreateStream(IStream** out) {
    CCoTraceRecord rec(kSource, "FsSecClMem::CreateStream");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (CCoRegistrySwitches::storageModeForStreams() == MemoryStorageKind::BlockStore) {
        const HRESULT hr = FsStream::create(out);
        if (SUCCEEDED(hr)) return hr;
        ZEB_TRACE(rec, 4, "error creating StreamObject");
        CCoRegistrySwitches::setStorageModeForStreams(MemoryStorageKind::GlobalMemory);
    }
    return CreateStreamOnHGlobal(nullptr, TRUE, out);
}

IStream* FsSecClMem::createMemoryStream() {
    CCoTraceRecord rec(kSource, "FsSecClMem::createMemoryStream");
    IStream* stream = nullptr;
    guardedCall(rec, "CreateStream", [&] { return CreateStream(&stream); });
    return stream;
}
