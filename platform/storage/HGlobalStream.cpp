#include "platform/storage/HGlobalStream.h"

#include "platform/storage/StreamSeek.h"

#include <cstring>
#include <vector>

namespace zeb {

HGlobalStream::HGlobalStream(std::shared_ptr<HGlobalBuffer> buffer) noexcept
    : m_buffer(std::move(buffer)) {}

HRESULT HGlobalStream::queryOtherInterface(REFIID riid, void** ppv) {
    if (riid != selfIid) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = this;
    return S_OK;
}

HRESULT HGlobalStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    ULONG n = m_buffer->readAt(m_position, pv, cb);
    m_position += n;
    if (pcbRead) *pcbRead = n;
    return S_OK;
}

HRESULT HGlobalStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    if (m_position + cb > HGlobalBuffer::kMaxSize) return STG_E_MEDIUMFULL;
    HRESULT hr = m_buffer->writeAt(m_position, pv, cb);
    if (FAILED(hr)) return hr;
    m_position += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
}

HRESULT HGlobalStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                            ULARGE_INTEGER* plibNewPosition) {
    // The block cannot grow past HGlobalBuffer::kMaxSize, so no position
    // beyond it could ever be read or written.
    uint64_t target = 0;
    HRESULT hr = computeSeekPosition(m_position.load(), m_buffer->size(), dlibMove.QuadPart,
                                     dwOrigin, HGlobalBuffer::kMaxSize, &target);
    if (FAILED(hr)) return hr;
    m_position = target;
    if (plibNewPosition) plibNewPosition->QuadPart = target;
    return S_OK;
}

HRESULT HGlobalStream::SetSize(ULARGE_INTEGER libNewSize) {
    return m_buffer->setSize(libNewSize.QuadPart);
}

HRESULT HGlobalStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                              ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!pstm) return STG_E_INVALIDPOINTER;
    try {
        uint64_t size = m_buffer->size();
        uint64_t pos = m_position;
        uint64_t n = pos < size ? std::min<uint64_t>(cb.QuadPart, size - pos) : 0;
        std::vector<BYTE> bytes(static_cast<size_t>(n));
        ULONG got = m_buffer->readAt(pos, bytes.data(), static_cast<ULONG>(n));
        m_position = pos + got;
        if (pcbRead) pcbRead->QuadPart = got;
        ULONG put = 0;
        HRESULT hr = pstm->Write(bytes.data(), got, &put);
        if (pcbWritten) pcbWritten->QuadPart = put;
        return hr;
    } catch (...) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT HGlobalStream::Commit(DWORD) {
    return S_OK;
}

HRESULT HGlobalStream::Revert() {
    return S_OK;
}

HRESULT HGlobalStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT HGlobalStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT HGlobalStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    if (grfStatFlag > (STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
    // A memory stream has no name: pwcsName stays null.
    std::memset(pstatstg, 0, sizeof(*pstatstg));
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = m_buffer->size();
    pstatstg->grfMode = STGM_READWRITE;
    return S_OK;
}

HRESULT HGlobalStream::Clone(IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    HGlobalStream* s = nullptr;
    HRESULT hr = createObject(&s, m_buffer);
    if (FAILED(hr)) return hr;
    s->m_position = m_position.load();
    *ppstm = s;
    return S_OK;
}

} // namespace zeb
