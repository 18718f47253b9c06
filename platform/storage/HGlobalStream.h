// IStream on a global memory block (CreateStreamOnHGlobal). Clones share
// the bytes and keep their own position. Seek follows computeSeekPosition
// (StreamSeek.h) with HGlobalBuffer::kMaxSize (4 GiB - 1) as the last
// position, the largest size SetSize can give the block.
#pragma once

#include "platform/com/ComObject.h"
#include "platform/storage/HGlobalBuffer.h"

#include <atomic>
#include <memory>

namespace zeb {

class HGlobalStream final : public ComObject<HGlobalStream, Chain<IStream, ISequentialStream>> {
public:
    static constexpr bool aggregatable = false;
    explicit HGlobalStream(std::shared_ptr<HGlobalBuffer> buffer) noexcept;

    HGLOBAL block() const noexcept { return m_buffer->block(); }

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

    // See HGlobalLockBytes::selfIid.
    static constexpr IID selfIid = makeGuid("5B1E5A1C-7F0B-4C43-9A4B-2E1B7E6F0A02");
    HRESULT queryOtherInterface(REFIID riid, void** ppv);

private:
    std::shared_ptr<HGlobalBuffer> m_buffer;
    std::atomic<uint64_t> m_position{0};
};

} // namespace zeb
