#include "co/CCoError.h"

#include "platform/win/SystemMessage.h"

#include <cstdio>
#include <cstring>

namespace {

char* textOf(HRESULT hr) noexcept {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length > 0 && text) {
        // One trailing line feed and, before it, one carriage return.
        if (length > 0 && text[length - 1] == '\n') text[--length] = 0;
        if (length > 0 && text[length - 1] == '\r') text[--length] = 0;
        return text;
    }
    constexpr size_t kFallbackSize = 32;
    text = static_cast<char*>(LocalAlloc(LMEM_FIXED, kFallbackSize));
    if (!text) return nullptr;
    const uint32_t code = static_cast<uint32_t>(hr);
    if (code >= 0x80040200u && code <= 0x8004FFFFu)
        std::snprintf(text, kFallbackSize, "IDispatch error #%d", int(code & 0xFFFF) - 0x200);
    else
        std::snprintf(text, kFallbackSize, "Unknown error 0x%X", code);
    return text;
}

char* copyOf(const char* text) noexcept {
    if (!text) return nullptr;
    size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

} // namespace

CCoError::CCoError(HRESULT hr) noexcept : m_hr(hr), m_pszText(textOf(hr)) {}

CCoError::~CCoError() {
    LocalFree(m_pszText);
}

CCoError::CCoError(const CCoError& other) noexcept
    : m_hr(other.m_hr), m_pszText(copyOf(other.m_pszText)) {}

CCoError& CCoError::operator=(const CCoError& other) noexcept {
    if (this != &other) {
        char* copy = copyOf(other.m_pszText);
        LocalFree(m_pszText);
        m_pszText = copy;
        m_hr = other.m_hr;
    }
    return *this;
}
