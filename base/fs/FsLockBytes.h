// FsLockBytes: a byte array in process memory behind a compound storage
// (ILockBytes over an FsBlockStore). Free-threaded: it aggregates the
// free-threaded marshaler, counts references atomically, and runs every data
// operation under its critical section (a blocked wait is traced).
//
//   ComPtr<ILockBytes> bytes;
//   HRESULT hr = FsLockBytes::create(&bytes);
//   hr = StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE |
//                                     STGM_SHARE_EXCLUSIVE, 0, &storage);
//
// Offsets and sizes are 32-bit: ReadAt/WriteAt beyond 4 GiB give
// STG_E_READFAULT/STG_E_WRITEFAULT, SetSize of 4 GiB or more STG_E_MEDIUMFULL.
// Stat reports the name "FsILockedBytesImpl_Root" (task memory, unless
// STATFLAG_NONAME), type STGTY_LOCKBYTES, mode read-write + share-exclusive.
#pragma once

#include "base/fs/FsBlockStore.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/storage/Storage.h"
#include "platform/win/Threading.h"

class FsLockBytes final : public zeb::ComObject<FsLockBytes, ILockBytes> {
public:
    FsLockBytes();
    ~FsLockBytes();
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT queryOtherInterface(REFIID riid, void** ppv);

    // A new object with one reference; E_OUTOFMEMORY or the error of its
    // construction.
    static HRESULT create(ILockBytes** out);

    HRESULT ReadAt(ULARGE_INTEGER off, void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT WriteAt(ULARGE_INTEGER off, const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Flush() override;
    HRESULT SetSize(ULARGE_INTEGER cb) override;
    HRESULT LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

private:
    const char* m_szName = "FsLockBytes";
    ComPtr<IUnknown> m_spUnkMarshaler;
    FsBlockStore m_store;
    CRITICAL_SECTION m_csData;
};
