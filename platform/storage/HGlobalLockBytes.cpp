#include "platform/storage/HGlobalLockBytes.h"

#include <cstring>

namespace zeb {

HGlobalLockBytes::HGlobalLockBytes(std::shared_ptr<HGlobalBuffer> buffer) noexcept
    : m_buffer(std::move(buffer)) {}

HRESULT HGlobalLockBytes::queryOtherInterface(REFIID riid, void** ppv) {
    if (riid != selfIid) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = this;
    return S_OK;
}

HRESULT HGlobalLockBytes::ReadAt(ULARGE_INTEGER off, void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    ULONG n = m_buffer->readAt(off.QuadPart, pv, cb);
    if (pcbRead) *pcbRead = n;
    return S_OK;
}

HRESULT HGlobalLockBytes::WriteAt(ULARGE_INTEGER off, const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    HRESULT hr = m_buffer->writeAt(off.QuadPart, pv, cb);
    if (SUCCEEDED(hr) && pcbWritten) *pcbWritten = cb;
    return hr;
}

HRESULT HGlobalLockBytes::Flush() {
    return S_OK;
}

HRESULT HGlobalLockBytes::SetSize(ULARGE_INTEGER cb) {
    return m_buffer->setSize(cb.QuadPart);
}

HRESULT HGlobalLockBytes::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT HGlobalLockBytes::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT HGlobalLockBytes::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    if (grfStatFlag > (STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
    // A memory block has no name: pwcsName stays null.
    std::memset(pstatstg, 0, sizeof(*pstatstg));
    pstatstg->type = STGTY_LOCKBYTES;
    pstatstg->cbSize.QuadPart = m_buffer->size();
    pstatstg->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    return S_OK;
}

} // namespace zeb
