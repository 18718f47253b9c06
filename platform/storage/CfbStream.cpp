#include "platform/storage/CfbStream.h"

#include "platform/storage/CfbStorage.h"
#include "platform/storage/StreamSeek.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace zeb {

namespace {

constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFull;

template <class F> HRESULT guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return STG_E_MEDIUMFULL;
    } catch (...) {
        return STG_E_UNKNOWN;
    }
}

} // namespace

CfbStream::CfbStream(std::shared_ptr<CfbDocument> doc, std::shared_ptr<CfbNode> node,
                     DWORD mode) noexcept
    : m_doc(std::move(doc)), m_node(std::move(node)), m_mode(mode) {
    ++m_node->openCount;
}

void CfbStream::FinalRelease() {
    std::lock_guard lock(m_doc->mutex);
    --m_node->openCount;
}

HRESULT CfbStream::usable() const noexcept {
    return (m_doc->closed() || m_node->removed) ? STG_E_REVERTED : S_OK;
}

HRESULT CfbStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    size_t size = m_node->size();
    size_t n = m_position < size ? std::min<uint64_t>(cb, size - m_position) : 0;
    if (n) std::memcpy(pv, m_node->bytes() + m_position, n);
    m_position += n;
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT CfbStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = usable(); FAILED(hr)) return hr;
        if (!stgmWrites(m_mode) || !m_doc->writable()) return STG_E_ACCESSDENIED;
        if (cb == 0) return S_OK;
        if (m_position + cb > kMaxStreamSize) return STG_E_MEDIUMFULL;
        auto& data = m_node->ownBytes();
        size_t end = static_cast<size_t>(m_position + cb);
        if (end > data.size()) {
            // Grow geometrically: appending in small pieces stays linear.
            if (end > data.capacity()) data.reserve(std::max(end, data.capacity() * 2));
            data.resize(end);
        }
        std::memcpy(data.data() + m_position, pv, cb);
        m_position = end;
        m_doc->touch();
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    });
}

HRESULT CfbStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    // Past the size limit nothing can be read or written; a stream read
    // from a version 4 file may be larger, and its whole length stays
    // reachable.
    uint64_t size = m_node->size();
    uint64_t target = 0;
    HRESULT hr = computeSeekPosition(m_position, size, dlibMove.QuadPart, dwOrigin,
                                     std::max(kMaxStreamSize, size), &target);
    if (FAILED(hr)) return hr;
    m_position = target;
    if (plibNewPosition) plibNewPosition->QuadPart = m_position;
    return S_OK;
}

HRESULT CfbStream::SetSize(ULARGE_INTEGER libNewSize) {
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = usable(); FAILED(hr)) return hr;
        if (!stgmWrites(m_mode) || !m_doc->writable()) return STG_E_ACCESSDENIED;
        if (libNewSize.QuadPart > kMaxStreamSize) return STG_E_MEDIUMFULL;
        m_node->ownBytes().resize(static_cast<size_t>(libNewSize.QuadPart));
        m_doc->touch();
        return S_OK;
    });
}

HRESULT CfbStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                          ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!pstm) return STG_E_INVALIDPOINTER;
    return guarded([&]() -> HRESULT {
        // Take the bytes under the lock, write them without it (the
        // destination may belong to another document).
        std::vector<BYTE> bytes;
        {
            std::lock_guard lock(m_doc->mutex);
            if (HRESULT hr = usable(); FAILED(hr)) return hr;
            size_t size = m_node->size();
            uint64_t n = m_position < size ? std::min<uint64_t>(cb.QuadPart, size - m_position) : 0;
            if (n) {
                // Only a position inside the bytes may be added to their
                // pointer (which is null while the stream has none).
                const BYTE* from = m_node->bytes() + m_position;
                bytes.assign(from, from + n);
                m_position += n;
            }
        }
        if (pcbRead) pcbRead->QuadPart = bytes.size();
        size_t done = 0;
        while (done < bytes.size()) {
            ULONG put = 0;
            HRESULT hr =
                pstm->Write(bytes.data() + done, static_cast<ULONG>(bytes.size() - done), &put);
            done += put;
            if (pcbWritten) pcbWritten->QuadPart = done;
            if (FAILED(hr)) return hr;
            if (put == 0) return STG_E_WRITEFAULT;
        }
        return S_OK;
    });
}

HRESULT CfbStream::Commit(DWORD grfCommitFlags) {
    if (grfCommitFlags & ~0xFu) return STG_E_INVALIDFLAG;
    std::lock_guard lock(m_doc->mutex);
    return usable();
}

HRESULT CfbStream::Revert() {
    std::lock_guard lock(m_doc->mutex);
    return usable();
}

HRESULT CfbStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT CfbStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT CfbStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    try {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = usable(); FAILED(hr)) return hr;
        return cfbStat(*m_node, m_node->name, m_mode, grfStatFlag, pstatstg);
    } catch (...) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT CfbStream::Clone(IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    CfbStream* s = nullptr;
    HRESULT hr = createObject(&s, m_doc, m_node, m_mode);
    if (FAILED(hr)) return hr;
    s->m_position = m_position;
    *ppstm = s;
    return S_OK;
}

} // namespace zeb
