#include "platform/storage/HGlobalBuffer.h"

#include <cstring>

namespace zeb {

HGlobalBuffer::HGlobalBuffer(HGLOBAL block, bool deleteOnRelease) noexcept
    : m_block(block), m_deleteOnRelease(deleteOnRelease) {
    if (!m_block) {
        m_block = GlobalAlloc(GMEM_MOVEABLE, 0);
        m_deleteOnRelease = deleteOnRelease;
    }
    m_size = GlobalSize(m_block);
}

HGlobalBuffer::~HGlobalBuffer() {
    if (m_deleteOnRelease && m_block) GlobalFree(m_block);
}

uint64_t HGlobalBuffer::size() noexcept {
    std::lock_guard lock(m_mutex);
    return m_size;
}

HRESULT HGlobalBuffer::reserve(uint64_t size) noexcept {
    if (size > kMaxSize) return STG_E_MEDIUMFULL;
    SIZE_T have = GlobalSize(m_block);
    if (size <= have) return S_OK;
    // Geometric growth keeps many small appends linear.
    SIZE_T want = std::max<SIZE_T>(static_cast<SIZE_T>(size), std::min<SIZE_T>(have * 2, kMaxSize));
    if (!GlobalReAlloc(m_block, want, GMEM_MOVEABLE) &&
        !GlobalReAlloc(m_block, static_cast<SIZE_T>(size), GMEM_MOVEABLE))
        return STG_E_MEDIUMFULL;
    return S_OK;
}

ULONG HGlobalBuffer::readAt(uint64_t off, void* pv, ULONG cb) noexcept {
    std::lock_guard lock(m_mutex);
    if (off >= m_size) return 0;
    ULONG n = static_cast<ULONG>(std::min<uint64_t>(cb, m_size - off));
    auto* p = static_cast<BYTE*>(GlobalLock(m_block));
    std::memcpy(pv, p + off, n);
    GlobalUnlock(m_block);
    return n;
}

HRESULT HGlobalBuffer::writeAt(uint64_t off, const void* pv, ULONG cb) noexcept {
    std::lock_guard lock(m_mutex);
    if (cb == 0) return S_OK;
    uint64_t end = off + cb;
    if (HRESULT hr = reserve(end); FAILED(hr)) return hr;
    auto* p = static_cast<BYTE*>(GlobalLock(m_block));
    if (off > m_size) std::memset(p + m_size, 0, off - m_size);
    std::memcpy(p + off, pv, cb);
    GlobalUnlock(m_block);
    if (end > m_size) m_size = end;
    return S_OK;
}

HRESULT HGlobalBuffer::setSize(uint64_t size) noexcept {
    std::lock_guard lock(m_mutex);
    if (HRESULT hr = reserve(size); FAILED(hr)) return hr;
    if (size > m_size) {
        auto* p = static_cast<BYTE*>(GlobalLock(m_block));
        std::memset(p + m_size, 0, size - m_size);
        GlobalUnlock(m_block);
    }
    m_size = size;
    return S_OK;
}

} // namespace zeb
