// ILockBytes on a global memory block (CreateILockBytesOnHGlobal).
#pragma once

#include "platform/com/ComObject.h"
#include "platform/storage/HGlobalBuffer.h"

#include <memory>

namespace zeb {

class HGlobalLockBytes final : public ComObject<HGlobalLockBytes, ILockBytes> {
public:
    static constexpr bool aggregatable = false;
    explicit HGlobalLockBytes(std::shared_ptr<HGlobalBuffer> buffer) noexcept;

    HGLOBAL block() const noexcept { return m_buffer->block(); }

    HRESULT ReadAt(ULARGE_INTEGER off, void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT WriteAt(ULARGE_INTEGER off, const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Flush() override;
    HRESULT SetSize(ULARGE_INTEGER cb) override;
    HRESULT LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

    // The IID under which a lock-bytes object answers with itself, so
    // GetHGlobalFromILockBytes can recognise ours.
    static constexpr IID selfIid = makeGuid("5B1E5A1C-7F0B-4C43-9A4B-2E1B7E6F0A01");
    HRESULT queryOtherInterface(REFIID riid, void** ppv);

private:
    std::shared_ptr<HGlobalBuffer> m_buffer;
};

} // namespace zeb
