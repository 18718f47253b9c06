// GUID, the 16-byte identifier of interfaces, classes and types.
//
//   constexpr GUID kId = makeGuid("F7A48574-8EC8-4221-875F-18CD2F64F516");
//   std::string text = guidToString(kId);   // "{F7A48574-8EC8-4221-875F-18CD2F64F516}"
//
// Order: Data1 as unsigned 32-bit, then Data2, then Data3, then the eight
// Data4 bytes as unsigned bytes; the first difference decides. Every
// GUID-keyed map of the system uses this order (operator< below).
#pragma once

#include "platform/win/WinTypes.h"

#include <compare>
#include <string>

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 <=> b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 <=> b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 <=> b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return a.Data4[i] <=> b.Data4[i];
    return std::strong_ordering::equal;
}

namespace zeb::detail {
constexpr uint32_t hexDigit(char c) {
    return (c >= '0' && c <= '9')   ? uint32_t(c - '0')
           : (c >= 'a' && c <= 'f') ? uint32_t(c - 'a' + 10)
           : (c >= 'A' && c <= 'F') ? uint32_t(c - 'A' + 10)
                                    : throw "invalid hexadecimal digit in GUID literal";
}
constexpr uint32_t hexValue(const char* s, int digits) {
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i)
        v = (v << 4) | hexDigit(s[i]);
    return v;
}
} // namespace zeb::detail

// Compile-time GUID from "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (no braces).
// A malformed literal fails to compile when used in a constant expression.
template <size_t N> consteval GUID makeGuid(const char (&s)[N]) {
    static_assert(N == 37, "GUID literal must be XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
    using zeb::detail::hexValue;
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "misplaced hyphen";
    GUID g{hexValue(s, 8), uint16_t(hexValue(s + 9, 4)), uint16_t(hexValue(s + 14, 4)), {}};
    g.Data4[0] = uint8_t(hexValue(s + 19, 2));
    g.Data4[1] = uint8_t(hexValue(s + 21, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = uint8_t(hexValue(s + 24 + 2 * i, 2));
    return g;
}

constexpr GUID GUID_NULL{};

// Registry form: 38 characters, braces, upper-case hexadecimal digits.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text); // task-allocated, caller frees with CoTaskMemFree
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax); // characters written incl. the zero; 0 if too small
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);         // CO_E_CLASSSTRING on malformed text
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
HRESULT CoCreateGuid(GUID* guid);

namespace zeb {
std::string guidToString(const GUID& g);                 // "{XXXXXXXX-...}"
bool guidFromString(std::string_view text, GUID& out);  // braces required, case-insensitive digits
} // namespace zeb
