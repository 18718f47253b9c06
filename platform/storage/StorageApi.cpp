// The structured-storage functions: open and create compound files on files
// and lock-bytes, and the memory lock-bytes and streams.
#include "platform/storage/CfbDocument.h"
#include "platform/storage/CfbReader.h"
#include "platform/storage/CfbStorage.h"
#include "platform/storage/HGlobalLockBytes.h"
#include "platform/storage/HGlobalStream.h"
#include "platform/win/TextConvert.h"

#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

using namespace zeb;

namespace {

template <class F> HRESULT guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        return STG_E_UNKNOWN;
    }
}

HRESULT pathOf(const OLECHAR* name, std::string& path) {
    if (!name) return STG_E_INVALIDNAME;
    path = toNarrow(name);
    return path.empty() ? STG_E_INVALIDNAME : S_OK;
}

HRESULT openDocument(const OLECHAR* name, ILockBytes* lockBytes, DWORD mode, bool create,
                     IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (HRESULT hr = stgmCheck(mode); FAILED(hr)) return hr;
    return guarded([&]() -> HRESULT {
        auto doc = std::make_shared<CfbDocument>();
        HRESULT hr;
        if (lockBytes) {
            hr = doc->openLockBytes(lockBytes, mode, create);
        } else if (!name && create) {
            // A new file of a unique name in the temporary directory,
            // created exclusively, then replaced by the compound file.
            const char* tmp = std::getenv("TMPDIR");
            std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zeb-docfile-XXXXXX";
            std::vector<char> path(tmpl.begin(), tmpl.end());
            path.push_back('\0');
            int fd = mkostemp(path.data(), O_CLOEXEC);
            if (fd < 0) return STG_E_PATHNOTFOUND;
            ::close(fd);
            hr = doc->openFile(path.data(), mode | STGM_CREATE, true);
            if (FAILED(hr)) ::unlink(path.data());
        } else {
            std::string path;
            hr = pathOf(name, path);
            if (SUCCEEDED(hr)) hr = doc->openFile(path, mode, create);
        }
        if (FAILED(hr)) return hr;
        return CfbStorage::openRoot(std::move(doc), mode, out);
    });
}

} // namespace

HRESULT StgCreateDocfile(const OLECHAR* pwcsName, DWORD grfMode, DWORD, IStorage** ppstgOpen) {
    return openDocument(pwcsName, nullptr, grfMode, true, ppstgOpen);
}

HRESULT StgOpenStorage(const OLECHAR* pwcsName, IStorage*, DWORD grfMode, SNB, DWORD,
                       IStorage** ppstgOpen) {
    if (grfMode & STGM_CREATE) return STG_E_INVALIDFLAG;
    return openDocument(pwcsName, nullptr, grfMode, false, ppstgOpen);
}

HRESULT StgIsStorageFile(const OLECHAR* pwcsName) {
    return guarded([&]() -> HRESULT {
        std::string path;
        if (HRESULT hr = pathOf(pwcsName, path); FAILED(hr)) return hr;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return STG_E_FILENOTFOUND;
        BYTE head[512];
        ssize_t n = ::pread(fd, head, sizeof head, 0);
        ::close(fd);
        return (n == sizeof head && CfbReader::hasSignature(head, sizeof head)) ? S_OK : S_FALSE;
    });
}

HRESULT StgIsStorageILockBytes(ILockBytes* plkbyt) {
    if (!plkbyt) return STG_E_INVALIDPOINTER;
    BYTE head[512];
    ULONG n = 0;
    ULARGE_INTEGER zero;
    zero.QuadPart = 0;
    HRESULT hr = plkbyt->ReadAt(zero, head, sizeof head, &n);
    if (FAILED(hr)) return hr;
    return CfbReader::hasSignature(head, n) ? S_OK : S_FALSE;
}

HRESULT StgCreateDocfileOnILockBytes(ILockBytes* plkbyt, DWORD grfMode, DWORD,
                                     IStorage** ppstgOpen) {
    if (!plkbyt) return STG_E_INVALIDPOINTER;
    return openDocument(nullptr, plkbyt, grfMode, true, ppstgOpen);
}

HRESULT StgOpenStorageOnILockBytes(ILockBytes* plkbyt, IStorage*, DWORD grfMode, SNB, DWORD,
                                   IStorage** ppstgOpen) {
    if (!plkbyt) return STG_E_INVALIDPOINTER;
    if (grfMode & STGM_CREATE) return STG_E_INVALIDFLAG;
    return openDocument(nullptr, plkbyt, grfMode, false, ppstgOpen);
}

HRESULT CreateILockBytesOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, ILockBytes** pplkbyt) {
    if (!pplkbyt) return E_INVALIDARG;
    *pplkbyt = nullptr;
    return guarded([&]() -> HRESULT {
        // A caller's block is taken only when the object exists: on
        // failure it stays the caller's (a new block goes with the buffer).
        auto buffer = std::make_shared<HGlobalBuffer>(hGlobal, fDeleteOnRelease && !hGlobal);
        if (!buffer->valid()) return E_OUTOFMEMORY;
        HGlobalLockBytes* object = nullptr;
        HRESULT hr = HGlobalLockBytes::createObject(&object, buffer);
        if (FAILED(hr)) return hr;
        buffer->setDeleteOnRelease(fDeleteOnRelease != FALSE);
        *pplkbyt = object;
        return hr;
    });
}

HRESULT GetHGlobalFromILockBytes(ILockBytes* plkbyt, HGLOBAL* phglobal) {
    if (!phglobal) return E_INVALIDARG;
    *phglobal = nullptr;
    if (!plkbyt) return E_INVALIDARG;
    HGlobalLockBytes* self = nullptr;
    if (FAILED(plkbyt->QueryInterface(HGlobalLockBytes::selfIid, reinterpret_cast<void**>(&self))))
        return E_INVALIDARG;
    *phglobal = self->block();
    self->Release();
    return S_OK;
}

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    return guarded([&]() -> HRESULT {
        // A caller's block is taken only when the object exists: on
        // failure it stays the caller's (a new block goes with the buffer).
        auto buffer = std::make_shared<HGlobalBuffer>(hGlobal, fDeleteOnRelease && !hGlobal);
        if (!buffer->valid()) return E_OUTOFMEMORY;
        HGlobalStream* object = nullptr;
        HRESULT hr = HGlobalStream::createObject(&object, buffer);
        if (FAILED(hr)) return hr;
        buffer->setDeleteOnRelease(fDeleteOnRelease != FALSE);
        *ppstm = object;
        return hr;
    });
}

HRESULT GetHGlobalFromStream(IStream* pstm, HGLOBAL* phglobal) {
    if (!phglobal) return E_INVALIDARG;
    *phglobal = nullptr;
    if (!pstm) return E_INVALIDARG;
    HGlobalStream* self = nullptr;
    if (FAILED(pstm->QueryInterface(HGlobalStream::selfIid, reinterpret_cast<void**>(&self))))
        return E_INVALIDARG;
    *phglobal = self->block();
    self->Release();
    return S_OK;
}
