// IStream on a stream node of an open compound file (CfbDocument). Reads
// and writes go to the node's bytes; the root storage saves them.
// Streams are limited to 4 GiB - 1 bytes (the format's version 3 limit):
// growing past it gives STG_E_MEDIUMFULL. Seek follows computeSeekPosition
// (StreamSeek.h) with that limit as the last position (or the stream's
// size, for a larger stream read from a version 4 file).
#pragma once

#include "platform/com/ComObject.h"
#include "platform/storage/CfbDocument.h"

#include <memory>

namespace zeb {

class CfbStream final : public ComObject<CfbStream, Chain<IStream, ISequentialStream>> {
public:
    static constexpr bool aggregatable = false;

    CfbStream(std::shared_ptr<CfbDocument> doc, std::shared_ptr<CfbNode> node, DWORD mode) noexcept;
    void FinalRelease();

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
    // REQUIRES: the document's mutex held.
    HRESULT usable() const noexcept;

    std::shared_ptr<CfbDocument> m_doc;
    std::shared_ptr<CfbNode> m_node;
    DWORD m_mode;
    uint64_t m_position = 0;
};

} // namespace zeb
