// The text of a COM result code.
//
//   trace(rec, "hr = 0x%X (%s)", unsigned(hr), CCoError(hr).errorText());
//
// The text is the system message table's ("Unspecified error" for E_FAIL),
// without its trailing line break. A code without a message gets
// "IDispatch error #<n>" when it lies in the dispatch range
// 0x80040200..0x8004FFFF (n = (hr & 0xFFFF) - 0x200), else
// "Unknown error 0x<hr in upper-case hexadecimal>".
//
// The text is computed once, when the object is made, and belongs to it: the
// pointer errorText() returns stays valid as long as the object. Never fails:
// without memory the text is empty.
#pragma once

#include "platform/win/WinTypes.h"

class CCoError {
public:
    explicit CCoError(HRESULT hr) noexcept;
    ~CCoError();
    CCoError(const CCoError& other) noexcept;
    CCoError& operator=(const CCoError& other) noexcept;

    HRESULT hr() const noexcept { return m_hr; }
    const char* errorText() const noexcept { return m_pszText ? m_pszText : ""; }

private:
    HRESULT m_hr;
    char* m_pszText = nullptr; // LocalAlloc'ed
};
