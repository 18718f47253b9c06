// VARIANT: the tagged value of OLE Automation, its functions, and
// zeb::Variant, the owner that clears one.
//
//   VARIANT v;
//   VariantInit(&v);                       // VT_EMPTY
//   v.vt = VT_BOOL; v.boolVal = VARIANT_TRUE;
//   hr = VariantChangeTypeEx(&v, &v, 1033, 0, VT_BSTR);   // v.bstrVal == "-1"
//   VariantClear(&v);                      // frees the string
//
//   zeb::Variant n(42);                    // VT_I4
//   n.ChangeType(VT_BSTR);                 // "42"
//
// Ownership: a VARIANT owns its BSTR, its array (VT_ARRAY) and one reference
// of its interface; VariantClear frees them. A VT_BYREF variant owns nothing.
// Every function returns a code and never throws.
//
// Conversions (VariantChangeType, VariantChangeTypeEx) cover VT_EMPTY,
// VT_NULL, all integer types, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_BSTR,
// VT_UNKNOWN and VT_DISPATCH, with the English (United States) texts whatever
// the locale:
//   - booleans become text through their number, "-1" and "0"; with
//     VARIANT_ALPHABOOL or VARIANT_LOCALBOOL they become "True" and "False".
//     Text converts to VT_BOOL from the whole text "True"/"False" (any case,
//     no blanks around), "#TRUE#"/"#FALSE#" (as written), or a number
//     (non-zero is true), whatever the flags.
//   - objects (VT_DISPATCH) convert to values through their value property
//     (IDispatch::Invoke of DISPID_VALUE with DISPATCH_PROPERTYGET and no
//     arguments); VARIANT_NOVALUEPROP forbids that, and a failing Invoke gives
//     DISP_E_TYPEMISMATCH. VARIANT_NOUSEROVERRIDE changes nothing: there are
//     no user overrides of the English texts.
//   - integers print plainly; VT_R8 prints with up to 15 significant digits
//     and VT_R4 with up to 7 (0.1 -> "0.1", 1e20 -> "1E+20", 1e-5 -> "1E-05");
//     currency prints exactly without trailing zeros.
//   - dates print as "12/31/1999 11:59:59 PM" (date only at midnight, time
//     only on 12/30/1899) and parse back from that form.
//   - text converts to numbers with leading/trailing blanks, a sign in front
//     or behind, parentheses for negative, "," thousands separators, a
//     decimal point, an exponent and a "$" sign.
//   - real numbers round to integers half to even (2.5 -> 2, 3.5 -> 4).
// Results: DISP_E_OVERFLOW when the value does not fit the target,
// DISP_E_TYPEMISMATCH when text does not parse or the types do not convert
// (VT_NULL to anything but VT_NULL/VT_EMPTY, interfaces to values, arrays to
// other types), DISP_E_BADVARTYPE for an invalid or unsupported type
// (VT_DECIMAL, VT_RECORD, VT_BYREF targets). The source may be VT_BYREF; the
// destination may be the source. On failure the destination is unchanged.
#pragma once

#include "platform/com/Bstr.h"
#include "platform/com/SafeArray.h"
#include "platform/com/Unknown.h"
#include "platform/com/VariantTypes.h"

#include <string_view>

struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;
using LPVARIANT = VARIANT*;
using LPVARIANTARG = VARIANT*;

// Late-bound automation interface. Only its shape is provided here (objects
// may implement it); type information and exception information are opaque
// pointers, and the parameter block is a DISPPARAMS (below).
struct IDispatch : IUnknown {
    static constexpr IID iid = makeGuid("00020400-0000-0000-C000-000000000046");
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, void** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           void* pDispParams, VARIANT* pVarResult, void* pExcepInfo,
                           UINT* puArgErr) = 0;
};
using LPDISPATCH = IDispatch*;
constexpr IID IID_IDispatch = IDispatch::iid;

// The argument block that IDispatch::Invoke receives as `pDispParams`.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};
constexpr DISPID DISPID_VALUE = 0; // an object's value (default) property
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;

struct tagVARIANT {
    union {
        __extension__ struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                float fltVal;
                double dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                SAFEARRAY* parray;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                LONGLONG* pllVal;
                float* pfltVal;
                double* pdblVal;
                VARIANT_BOOL* pboolVal;
                SCODE* pscode;
                CY* pcyVal;
                DATE* pdate;
                BSTR* pbstrVal;
                IUnknown** ppunkVal;
                IDispatch** ppdispVal;
                SAFEARRAY** pparray;
                VARIANT* pvarVal;
                void* byref;
                char cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                DECIMAL* pdecVal;
                char* pcVal;
                USHORT* puiVal;
                ULONG* pulVal;
                ULONGLONG* pullVal;
                INT* pintVal;
                UINT* puintVal;
                struct {
                    void* pvRecord;
                    void* pRecInfo;
                } brecVal;
            };
        };
        DECIMAL decVal; // overlays vt with its wReserved field
    };
};
static_assert(sizeof(VARIANT) == 24);

void VariantInit(VARIANTARG* pvarg);
// Frees the content and sets VT_EMPTY. E_INVALIDARG for null,
// DISP_E_BADVARTYPE for an invalid type. When the variant holds an array that
// is locked the result is DISP_E_ARRAYISLOCKED and the variant is left as it
// was, so the array is neither freed under its user nor lost.
HRESULT VariantClear(VARIANTARG* pvarg);
// Deep copy of pvargSrc into pvargDest (cleared first unless it is the same
// variant). A VT_BYREF source copies the reference only.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// As VariantCopy, but a VT_BYREF source is copied as the value it refers to.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt);

namespace zeb {

// A VARIANT that clears itself. It IS a VARIANT (same size, no virtuals), so
// &v passes where a VARIANT* is expected and arrays of Variant are arrays of
// VARIANT. Construction that runs out of memory leaves VT_ERROR with
// E_OUTOFMEMORY in scode, as ATL's wrapper does.
class Variant : public tagVARIANT {
public:
    Variant() noexcept { VariantInit(this); }
    Variant(const VARIANT& v) noexcept;
    Variant(const Variant& v) noexcept : Variant(static_cast<const VARIANT&>(v)) {}
    Variant(Variant&& v) noexcept;
    Variant(bool b) noexcept;
    Variant(BYTE v) noexcept;
    Variant(SHORT v) noexcept;
    Variant(USHORT v) noexcept;
    Variant(INT v) noexcept;  // VT_I4
    Variant(UINT v) noexcept; // VT_UI4
    Variant(LONGLONG v) noexcept;
    Variant(ULONGLONG v) noexcept;
    Variant(float v) noexcept;
    Variant(double v) noexcept;
    Variant(const OLECHAR* s) noexcept; // VT_BSTR (null gives a null BSTR)
    Variant(std::u16string_view s) noexcept;
    Variant(const char* utf8) noexcept;
    Variant(IUnknown* p) noexcept;  // AddRef'd
    Variant(IDispatch* p) noexcept; // AddRef'd
    // A copy of the array, typed VT_ARRAY | its element type.
    explicit Variant(const SAFEARRAY* a) noexcept;
    ~Variant() { VariantClear(this); }

    Variant& operator=(const Variant& v) noexcept;
    Variant& operator=(Variant&& v) noexcept;

    HRESULT Clear() noexcept { return VariantClear(this); }
    HRESULT Copy(const VARIANT* src) noexcept { return VariantCopy(this, src); }
    // Converts src (or this variant) in place with the default flags.
    HRESULT ChangeType(VARTYPE vtNew, const VARIANT* src = nullptr) noexcept;
    // Takes over *src (which becomes VT_EMPTY), clearing this first.
    HRESULT Attach(VARIANT* src) noexcept;
    // Moves this value into *dest (cleared first); this becomes VT_EMPTY.
    HRESULT Detach(VARIANT* dest) noexcept;
    void swap(Variant& o) noexcept;
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

} // namespace zeb
