#include "base/fs/FsStream.h"

#include "co/CCoTraceRecord.h"
#include "platform/com/Marshal.h"
#include "platform/storage/StreamSeek.h"

#include <algorithm>

namespace {
constexpr const char* kSource = "fs_lockbytes";
}

FsStream::FsStream() {
    InitializeCriticalSection(&m_csData);
}
FsStream::~FsStream() {
    DeleteCriticalSection(&m_csData);
}

HRESULT FsStream::FinalConstruct() {
    if (m_spUnkMarshaler) {
        CCoTraceRecord rec(kSource, "FsStream::FinalConstruct");
        ZEB_TRACE(rec, 4, "internal error aggregated FreeThreadedMarshaler already exists");
        m_spUnkMarshaler.Release();
    }
    return CoCreateFreeThreadedMarshaler(controllingUnknown(), &m_spUnkMarshaler);
}

void FsStream::FinalRelease() {
    m_spUnkMarshaler.Release();
}

HRESULT FsStream::queryOtherInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMarshal && m_spUnkMarshaler)
        return m_spUnkMarshaler->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT FsStream::create(IStream** out) {
    return createInstance(nullptr, IID_IStream, reinterpret_cast<void**>(out));
}

HRESULT FsStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsStream::Read");
    const DWORD size = m_store.size();
    if (m_dwPos >= size || cb == 0) return S_OK;
    const DWORD n = std::min<DWORD>(cb, size - m_dwPos);
    DWORD done = 0;
    if (FAILED(m_store.read(m_dwPos, pv, n, &done))) return S_FALSE;
    m_dwPos += done;
    if (pcbRead) *pcbRead = done;
    return S_OK;
}

HRESULT FsStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    if (cb == 0) return S_OK;
    zeb::TracedSectionLock lock(&m_csData, "FsStream::Write");
    if (uint64_t(m_dwPos) + cb > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
    if (FAILED(m_store.write(m_dwPos, pv, cb))) return STG_E_MEDIUMFULL;
    m_dwPos += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
}

HRESULT FsStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    zeb::TracedSectionLock lock(&m_csData, "FsStream::Seek");
    // The position is 32 bits wide, as are the block store's sizes.
    uint64_t target = 0;
    const HRESULT hr = zeb::computeSeekPosition(m_dwPos, m_store.size(), dlibMove.QuadPart,
                                                dwOrigin, 0xFFFFFFFFull, &target);
    if (FAILED(hr)) return hr;
    m_dwPos = DWORD(target);
    if (plibNewPosition) plibNewPosition->QuadPart = m_dwPos;
    return S_OK;
}

HRESULT FsStream::SetSize(ULARGE_INTEGER libNewSize) {
    if (libNewSize.QuadPart > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
    zeb::TracedSectionLock lock(&m_csData, "FsStream::SetSize");
    return m_store.resize(DWORD(libNewSize.QuadPart));
}

HRESULT FsStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                         ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!pstm) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsStream::CopyTo");
    const DWORD size = m_store.size();
    const DWORD left = m_dwPos < size ? size - m_dwPos : 0;
    const DWORD n =
        cb.QuadPart > 0xFFFFFFFFull ? left : DWORD(std::min<uint64_t>(cb.QuadPart, left));
    ULARGE_INTEGER at{};
    LARGE_INTEGER zero{};
    if (FAILED(pstm->Seek(zero, STREAM_SEEK_CUR, &at))) return STG_E_MEDIUMFULL;
    ULARGE_INTEGER newSize{};
    newSize.QuadPart = at.QuadPart + n;
    HRESULT hr = pstm->SetSize(newSize);
    if (FAILED(hr)) return hr;
    DWORD pos = m_dwPos;
    DWORD left2 = n;
    while (left2 > 0) {
        const BYTE* block = m_store.block(pos / FsBlockStore::kBlockSize);
        if (!block) return E_FAIL;
        const DWORD in = pos % FsBlockStore::kBlockSize;
        const DWORD chunk = std::min(left2, FsBlockStore::kBlockSize - in);
        ULONG written = 0;
        hr = pstm->Write(block + in, chunk, &written);
        if (FAILED(hr)) return hr;
        if (written != chunk) return STG_E_MEDIUMFULL;
        pos += chunk;
        left2 -= chunk;
    }
    m_dwPos += n;
    if (pcbRead) pcbRead->QuadPart = n;
    if (pcbWritten) pcbWritten->QuadPart = n;
    return S_OK;
}

HRESULT FsStream::Commit(DWORD) {
    return S_OK;
}
HRESULT FsStream::Revert() {
    return S_OK;
}

HRESULT FsStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT FsStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT FsStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsStream::Stat");
    return zeb::fillMemoryStat(pstatstg, grfStatFlag, u"FsStreamImpl_Root", STGTY_STREAM,
                               m_store.size());
}

HRESULT FsStream::Clone(IStream** ppstm) {
    if (ppstm) *ppstm = nullptr;
    return E_NOTIMPL;
}
