// FsStream: a stream in process memory (IStream over an FsBlockStore) with
// a 32-bit seek position. Free-threaded like FsLockBytes: aggregated
// free-threaded marshaler, atomic references, every data operation under its
// critical section.
//
// Positions beyond the end are allowed: a read there gives 0 bytes and S_OK,
// a write extends the stream. Positions and sizes stay below 4 GiB
// (STG_E_INVALIDFUNCTION for a seek outside, STG_E_MEDIUMFULL for a size or
// write beyond). Commit and Revert do nothing; Clone is E_NOTIMPL. Stat:
// name "FsStreamImpl_Root", type STGTY_STREAM, all times zero (this is how a
// section stream recognises a memory stream).
#pragma once

#include "base/fs/FsBlockStore.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/storage/Storage.h"
#include "platform/win/Threading.h"

class FsStream final : public zeb::ComObject<FsStream, zeb::Chain<IStream, ISequentialStream>> {
public:
    FsStream();
    ~FsStream();
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT queryOtherInterface(REFIID riid, void** ppv);

    // A new object with one reference; E_OUTOFMEMORY or the error of its
    // construction.
    static HRESULT create(IStream** out);

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Revert() override;
    HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream** ppstm) override;

private:
    const char* m_szName = "FsStream";
    ComPtr<IUnknown> m_spUnkMarshaler;
    FsBlockStore m_store;
    DWORD m_dwPos = 0;
    CRITICAL_SECTION m_csData;
};
