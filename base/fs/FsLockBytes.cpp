#include "base/fs/FsLockBytes.h"

#include "co/CCoTraceRecord.h"
#include "platform/com/Marshal.h"

namespace {
constexpr const char* kSource = "fs_lockbytes";
}

FsLockBytes::FsLockBytes() {
    InitializeCriticalSection(&m_csData);
}
FsLockBytes::~FsLockBytes() {
    DeleteCriticalSection(&m_csData);
}

HRESULT FsLockBytes::FinalConstruct() {
    if (m_spUnkMarshaler) {
        CCoTraceRecord rec(kSource, "FsLockBytes::FinalConstruct");
        ZEB_TRACE(rec, 4, "internal error aggregated FreeThreadedMarshaler already exists");
        m_spUnkMarshaler.Release();
    }
    return CoCreateFreeThreadedMarshaler(controllingUnknown(), &m_spUnkMarshaler);
}

void FsLockBytes::FinalRelease() {
    m_spUnkMarshaler.Release();
}

HRESULT FsLockBytes::queryOtherInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMarshal && m_spUnkMarshaler)
        return m_spUnkMarshaler->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT FsLockBytes::create(ILockBytes** out) {
    return createInstance(nullptr, IID_ILockBytes, reinterpret_cast<void**>(out));
}

HRESULT FsLockBytes::ReadAt(ULARGE_INTEGER off, void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (off.QuadPart > 0xFFFFFFFFull || off.QuadPart + cb > 0xFFFFFFFFull) return STG_E_READFAULT;
    if (!pv) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsLockBytes::ReadAt");
    DWORD done = 0;
    const HRESULT hr = m_store.read(DWORD(off.QuadPart), pv, cb, &done);
    if (pcbRead) *pcbRead = done;
    return hr;
}

HRESULT FsLockBytes::WriteAt(ULARGE_INTEGER off, const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (off.QuadPart > 0xFFFFFFFFull || off.QuadPart + cb > 0xFFFFFFFFull) return STG_E_WRITEFAULT;
    if (!pv) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsLockBytes::WriteAt");
    const HRESULT hr = m_store.write(DWORD(off.QuadPart), pv, cb);
    if (SUCCEEDED(hr) && pcbWritten) *pcbWritten = cb;
    return hr;
}

HRESULT FsLockBytes::Flush() {
    return S_OK;
}

HRESULT FsLockBytes::SetSize(ULARGE_INTEGER cb) {
    if (cb.QuadPart > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
    zeb::TracedSectionLock lock(&m_csData, "FsLockBytes::SetSize");
    return m_store.resize(DWORD(cb.QuadPart));
}

HRESULT FsLockBytes::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT FsLockBytes::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT FsLockBytes::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    zeb::TracedSectionLock lock(&m_csData, "FsLockBytes::Stat");
    return zeb::fillMemoryStat(pstatstg, grfStatFlag, u"FsILockedBytesImpl_Root", STGTY_LOCKBYTES,
                               m_store.size());
}
