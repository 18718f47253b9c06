#include "platform/com/Bstr.h"

#include "platform/win/TextConvert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Every BSTR block: 8 header bytes (4 unused, so that the string itself is
// 8-byte aligned, then the byte length), the data, then zero padding to an
// even size and a zero unit. The padding means that scanning an odd-length
// string for its terminator by whole units never leaves the block.
constexpr size_t kHeader = 8;

// Largest byte length a BSTR can record; also keeps the block size far from
// size_t overflow.
constexpr uint64_t kMaxBytes = 0xFFFFFFF0u;

char* blockOf(BSTR s) {
    return reinterpret_cast<char*>(s) - kHeader;
}

BSTR allocate(const void* src, uint64_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    const size_t padded = (static_cast<size_t>(bytes) + 1) & ~size_t(1);
    char* block = static_cast<char*>(std::malloc(kHeader + padded + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const uint32_t len = static_cast<uint32_t>(bytes);
    std::memset(block, 0, kHeader - sizeof len);
    std::memcpy(block + kHeader - sizeof len, &len, sizeof len);
    char* data = block + kHeader;
    if (src)
        std::memcpy(data, src, bytes);
    else
        std::memset(data, 0, bytes);
    std::memset(data + bytes, 0, padded - bytes + sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(data);
}

} // namespace

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return allocate(psz, uint64_t(zeb::wideLength(psz)) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui) {
    return allocate(pch, uint64_t(ui) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return allocate(psz, len);
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    return SysReAllocStringLen(pbstr, psz ? psz : u"", static_cast<UINT>(zeb::wideLength(psz)));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr) return FALSE;
    // The new string is built before the old one is freed, because `psz`
    // may point into it.
    BSTR fresh;
    if (psz) {
        fresh = SysAllocStringLen(psz, len);
    } else {
        fresh = SysAllocStringLen(nullptr, len);
        if (fresh && *pbstr)
            std::memcpy(fresh, *pbstr, std::min(len, SysStringLen(*pbstr)) * sizeof(OLECHAR));
    }
    if (!fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t len;
    std::memcpy(&len, reinterpret_cast<const char*>(bstr) - sizeof len, sizeof len);
    return len;
}

UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(blockOf(bstr));
}

namespace zeb {

Bstr::Bstr(std::u16string_view s) noexcept {
    if (s.size() <= UINT(-1) / sizeof(OLECHAR))
        m_str = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

Bstr::Bstr(std::string_view utf8) noexcept {
    try {
        const std::u16string wide = toWide(utf8);
        if (wide.size() <= UINT(-1) / sizeof(OLECHAR))
            m_str = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } catch (...) {
        m_str = nullptr;
    }
}

std::string Bstr::toUtf8() const {
    return toNarrow(view());
}

BSTR Bstr::Copy() const noexcept {
    if (!m_str) return nullptr;
    return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_str), ByteLength());
}

HRESULT Bstr::CopyTo(BSTR* out) const noexcept {
    if (!out) return E_POINTER;
    *out = Copy();
    return (*out || !m_str) ? S_OK : E_OUTOFMEMORY;
}

} // namespace zeb
