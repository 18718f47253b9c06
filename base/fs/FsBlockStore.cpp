#include "base/fs/FsBlockStore.h"

#include "co/CCoCriticalSection.h"
#include "platform/com/TaskAllocator.h"
#include "platform/storage/Storage.h"

#include <algorithm>
#include <cstring>
#include <new>

FsBlockStore::FsBlockStore() {
    try {
        m_blocks.reserve(64);
    } catch (...) {
        // room is reserved again on first growth
    }
}

HRESULT FsBlockStore::resize(DWORD size) {
    const DWORD needed = size / kBlockSize + (size % kBlockSize ? 1 : 0);
    if (m_blocks.size() > needed) m_blocks.resize(needed); // frees the surplus blocks
    if (m_blocks.size() < needed) {
        if (m_blocks.capacity() < needed) {
            const size_t grow = std::max<size_t>(64, needed - m_blocks.capacity());
            try {
                m_blocks.reserve(m_blocks.capacity() + grow);
            } catch (...) {
                return STG_E_MEDIUMFULL;
            }
        }
        while (m_blocks.size() < needed) {
            // New blocks are not cleared.
            std::unique_ptr<BYTE[]> b(new (std::nothrow) BYTE[kBlockSize]);
            if (!b) return STG_E_MEDIUMFULL;
            m_blocks.push_back(std::move(b)); // cannot throw: capacity reserved above
        }
    }
    m_dwSize = size;
    return S_OK;
}

HRESULT FsBlockStore::read(DWORD offset, void* buffer, DWORD n, DWORD* done) const {
    if (done) *done = 0;
    if (n == 0) return S_OK;
    if (uint64_t(offset) + n > uint64_t(m_blocks.size()) * kBlockSize) return E_FAIL;
    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD left = n;
    while (left > 0) {
        const DWORD in = offset % kBlockSize;
        const DWORD chunk = std::min(left, kBlockSize - in);
        std::memcpy(out, m_blocks[offset / kBlockSize].get() + in, chunk);
        out += chunk;
        offset += chunk;
        left -= chunk;
    }
    if (done) *done = n;
    return S_OK;
}

HRESULT FsBlockStore::write(DWORD offset, const void* buffer, DWORD n) {
    if (n == 0) return S_OK;
    if (uint64_t(offset) + n > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
    if (offset + n > m_dwSize) {
        const HRESULT hr = resize(offset + n);
        if (FAILED(hr)) return hr;
    }
    const BYTE* in = static_cast<const BYTE*>(buffer);
    while (n > 0) {
        const DWORD at = offset % kBlockSize;
        const DWORD chunk = std::min(n, kBlockSize - at);
        std::memcpy(m_blocks[offset / kBlockSize].get() + at, in, chunk);
        in += chunk;
        offset += chunk;
        n -= chunk;
    }
    return S_OK;
}

HRESULT zeb::fillMemoryStat(STATSTG* status, DWORD flags, const char16_t* name, DWORD type,
                            DWORD size) {
    if (!status) return STG_E_INVALIDPOINTER;
    std::memset(status, 0, sizeof *status);
    if (!(flags & STATFLAG_NONAME)) {
        const size_t n = std::char_traits<char16_t>::length(name) + 1;
        auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc(n * sizeof(OLECHAR)));
        if (!copy) return STG_E_INSUFFICIENTMEMORY;
        std::memcpy(copy, name, n * sizeof(OLECHAR));
        status->pwcsName = copy;
    }
    status->type = type;
    status->cbSize.QuadPart = size;
    status->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    return S_OK;
}

zeb::TracedSectionLock::TracedSectionLock(CRITICAL_SECTION* section, const char* function)
    : m_section(section) {
    zeb::enterCriticalSectionTraced(m_section, function);
}

zeb::TracedSectionLock::~TracedSectionLock() {
    LeaveCriticalSection(m_section);
}
