// BSTR: the length-prefixed wide string of OLE Automation, and zeb::Bstr,
// the owner that frees one.
//
// Layout: a BSTR points at its first UTF-16 unit; the 4 bytes before it hold
// the length in BYTES (unsigned 32-bit), and two zero bytes follow the data,
// so a BSTR is also a zero-terminated wide string. A BSTR may contain zero
// units inside; SysStringLen, not the terminator, gives its length. The null
// BSTR is a valid empty string for every function here.
//
//   BSTR s = SysAllocString(u"Motor");   // SysStringLen(s) == 5
//   SysReAllocString(&s, u"Axis");      // old string freed
//   SysFreeString(s);                   // null is fine
//
//   zeb::Bstr name("Motor");             // from UTF-8
//   hr = obj->getName(&name);            // out-parameter; name must be empty
//   std::string text = name.toUtf8();
//
// Ownership: every BSTR returned by these functions belongs to the caller and
// is freed with SysFreeString, never with free() or CoTaskMemFree. All
// functions are thread-safe; a single BSTR is not.
#pragma once

#include "platform/win/WinTypes.h"

#include <cassert>
#include <string>
#include <string_view>
#include <utility>

using BSTR = OLECHAR*;
using LPBSTR = BSTR*;

// A new string with the characters of `psz` up to its terminator; null for a
// null `psz` or when memory runs out.
BSTR SysAllocString(const OLECHAR* psz);
// A new string of `ui` units copied from `pch`; with a null `pch` the units
// are zero. Null when memory runs out or the length does not fit.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui);
// A new string of `len` bytes copied from `psz` (zeroed when `psz` is null),
// followed by two zero bytes. SysStringByteLen gives back `len` exactly,
// also when it is odd.
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
// Replace *pbstr by a new copy of `psz` (which may point into *pbstr) and
// free the old string. TRUE on success; on failure *pbstr is unchanged.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
// As SysReAllocString with `len` units from `psz`. With a null `psz` the old
// content is kept as far as it reaches and the rest is zero.
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
UINT SysStringLen(BSTR bstr);     // units; 0 for null
UINT SysStringByteLen(BSTR bstr); // bytes; 0 for null
void SysFreeString(BSTR bstr);    // null is ignored

namespace zeb {

// Owns one BSTR (or null, which reads as the empty string). Copying copies the
// string; failures to allocate leave the owner null, never throw.
class Bstr {
public:
    Bstr() noexcept = default;
    Bstr(std::nullptr_t) noexcept {}
    Bstr(const OLECHAR* s) noexcept : m_str(SysAllocString(s)) {}
    Bstr(std::u16string_view s) noexcept;
    explicit Bstr(std::string_view utf8) noexcept;
    Bstr(const char* utf8) noexcept : Bstr(std::string_view(utf8 ? utf8 : "")) {}
    Bstr(const Bstr& o) noexcept : m_str(o.Copy()) {}
    Bstr(Bstr&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
    ~Bstr() { SysFreeString(m_str); }

    Bstr& operator=(const Bstr& o) noexcept {
        if (this != &o) Bstr(o).swap(*this);
        return *this;
    }
    Bstr& operator=(Bstr&& o) noexcept {
        Bstr(std::move(o)).swap(*this);
        return *this;
    }

    operator BSTR() const noexcept { return m_str; }
    // For out-parameters: requires an empty owner (asserted), so that a
    // string is never silently leaked.
    BSTR* operator&() noexcept {
        assert(!m_str && "taking the address of a Bstr that holds a string");
        return &m_str;
    }

    UINT Length() const noexcept { return SysStringLen(m_str); }
    UINT ByteLength() const noexcept { return SysStringByteLen(m_str); }
    bool empty() const noexcept { return Length() == 0; }
    std::u16string_view view() const noexcept { return {m_str ? m_str : u"", Length()}; }
    std::string toUtf8() const;

    // Takes ownership of `s`, freeing the string held before.
    void Attach(BSTR s) noexcept {
        if (s != m_str) SysFreeString(m_str);
        m_str = s;
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    void Empty() noexcept { SysFreeString(std::exchange(m_str, nullptr)); }
    // A new copy that the caller owns (null for a null owner).
    BSTR Copy() const noexcept;
    // *out receives a new copy; E_POINTER for null out, E_OUTOFMEMORY.
    HRESULT CopyTo(BSTR* out) const noexcept;
    void swap(Bstr& o) noexcept { std::swap(m_str, o.m_str); }

    friend bool operator==(const Bstr& a, const Bstr& b) noexcept { return a.view() == b.view(); }

    BSTR m_str = nullptr;
};

} // namespace zeb
