// Scalar types and constants of OLE Automation shared by VARIANT and
// SAFEARRAY: the variant type tags (VARTYPE), VARIANT_BOOL, currency (CY),
// DATE and DECIMAL, the conversion flags and the locale identifiers.
#pragma once

#include "platform/win/WinTypes.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using SCODE = LONG;
using DISPID = LONG;

// The variant type tags. A VARIANT holds one base type, optionally combined
// with VT_ARRAY (a SAFEARRAY of that type) or VT_BYREF (a pointer to it).
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_RECORD = 36,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_ILLEGAL = 0xFFFF,
    VT_ILLEGALMASKED = 0x0FFF,
    VT_TYPEMASK = 0x0FFF,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Flags of VariantChangeType(Ex).
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// Locale identifiers. The conversions here always use the English (United
// States) texts, whatever locale is passed.
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
constexpr WORD SORT_DEFAULT = 0x0;
constexpr WORD MAKELANGID(WORD primary, WORD sub) {
    return WORD((sub << 10) | primary);
}
constexpr LCID MAKELCID(WORD lang, WORD sort) {
    return (LCID(sort) << 16) | lang;
}
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Currency: a signed 64-bit count of ten-thousandths.
union CY {
    __extension__ struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};
static_assert(sizeof(CY) == 8);

// Days since 30 December 1899 00:00; the fraction is the time of day (for
// negative dates the fraction counts forward from midnight too).
using DATE = double;

// 96-bit unsigned integer scaled by 10^-scale, with a sign byte.
struct DECIMAL {
    USHORT wReserved;
    union {
        __extension__ struct {
            BYTE scale;
            BYTE sign;
        };
        USHORT signscale;
    };
    ULONG Hi32;
    union {
        __extension__ struct {
            ULONG Lo32;
            ULONG Mid32;
        };
        ULONGLONG Lo64;
    };
};
static_assert(sizeof(DECIMAL) == 16);
constexpr BYTE DECIMAL_NEG = 0x80;

namespace zeb {
// Bytes a value of a plain (non-owning, fixed-size) type occupies: the
// integer, real, boolean, error, currency and date types; 0 for any other.
constexpr size_t plainValueSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
        return 8;
    default:
        return 0;
    }
}
} // namespace zeb
