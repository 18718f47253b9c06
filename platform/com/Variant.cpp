#include "platform/com/Variant.h"

#include <cstring>
#include <utility>

namespace {

// A type tag a VARIANT may carry: a base type up to VT_UINT (15 is unused),
// optionally as an array or by reference; VT_EMPTY and VT_NULL only plain.
// VT_RECORD is refused because records need type information that this
// runtime does not provide.
HRESULT validateType(VARTYPE vt) {
    const VARTYPE extra = vt & ~VT_TYPEMASK;
    const VARTYPE base = vt & VT_TYPEMASK;
    if (extra & ~(VT_ARRAY | VT_BYREF)) return DISP_E_BADVARTYPE;
    if (base > VT_UINT || base == 15) return DISP_E_BADVARTYPE;
    if (extra && base <= VT_NULL) return DISP_E_BADVARTYPE;
    return S_OK;
}

HRESULT copyBstr(BSTR src, BSTR* dst) {
    *dst = nullptr;
    if (!src) return S_OK;
    *dst = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src), SysStringByteLen(src));
    return *dst ? S_OK : E_OUTOFMEMORY;
}

// Deep copy of a validated variant into uninitialised *dst. On failure *dst
// is VT_EMPTY.
HRESULT deepCopy(VARIANT* dst, const VARIANT* src) {
    std::memcpy(static_cast<void*>(dst), src, sizeof(VARIANT));
    if (src->vt & VT_BYREF) return S_OK;
    HRESULT hr = S_OK;
    if (src->vt & VT_ARRAY)
        hr = SafeArrayCopy(src->parray, &dst->parray);
    else if (src->vt == VT_BSTR)
        hr = copyBstr(src->bstrVal, &dst->bstrVal);
    else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal)
        src->punkVal->AddRef();
    if (FAILED(hr)) VariantInit(dst);
    return hr;
}

// Copy of the value a by-reference variant points at, into uninitialised
// *dst (VT_EMPTY on failure).
HRESULT derefCopy(VARIANT* dst, const VARIANT* src) {
    VariantInit(dst);
    const VARTYPE vt = src->vt & ~VT_BYREF;
    if (!src->byref) return E_INVALIDARG;
    if (vt == VT_VARIANT) {
        // A reference to a reference is not a value.
        if (src->pvarVal->vt & VT_BYREF) return E_INVALIDARG;
        const HRESULT hr = validateType(src->pvarVal->vt);
        return FAILED(hr) ? hr : deepCopy(dst, src->pvarVal);
    }
    if (vt & VT_ARRAY) {
        const HRESULT hr = SafeArrayCopy(*src->pparray, &dst->parray);
        if (SUCCEEDED(hr)) dst->vt = vt;
        return hr;
    }
    switch (vt) {
    case VT_BSTR: {
        const HRESULT hr = copyBstr(*src->pbstrVal, &dst->bstrVal);
        if (SUCCEEDED(hr)) dst->vt = VT_BSTR;
        return hr;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
        dst->punkVal = *src->ppunkVal;
        if (dst->punkVal) dst->punkVal->AddRef();
        dst->vt = vt;
        return S_OK;
    case VT_DECIMAL:
        dst->decVal = *src->pdecVal;
        dst->vt = VT_DECIMAL; // decVal overlays the tag
        return S_OK;
    default:
        if (const size_t n = zeb::plainValueSize(vt)) {
            std::memcpy(&dst->llVal, src->byref, n);
            dst->vt = vt;
            return S_OK;
        }
        return DISP_E_BADVARTYPE;
    }
}

// Replaces *dest by the (already copied) *value, clearing dest first. On
// failure *value is cleared and dest untouched.
HRESULT replace(VARIANT* dest, VARIANT* value) {
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(value);
        return hr;
    }
    std::memcpy(static_cast<void*>(dest), value, sizeof(VARIANT));
    return S_OK;
}

} // namespace

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const HRESULT hr = validateType(pvarg->vt);
    if (FAILED(hr)) return hr;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            // A locked array stays with the variant: destroying it would pull
            // it from under its user, forgetting it would leak it.
            const HRESULT destroyed = SafeArrayDestroy(pvarg->parray);
            if (FAILED(destroyed)) return destroyed;
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal) pvarg->punkVal->Release();
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    HRESULT hr = validateType(pvargSrc->vt);
    if (FAILED(hr)) return hr;
    if (pvargDest == pvargSrc) return S_OK;
    // Copy before clearing: the source may live inside the destination
    // (an element of its array, say).
    VARIANT copy;
    hr = deepCopy(&copy, pvargSrc);
    if (FAILED(hr)) return hr;
    return replace(pvargDest, &copy);
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    HRESULT hr = validateType(pvargSrc->vt);
    if (FAILED(hr)) return hr;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    VARIANT copy;
    hr = derefCopy(&copy, pvargSrc);
    if (FAILED(hr)) return hr;
    if (pvarDest == pvargSrc) {
        // A reference owns nothing: overwrite it.
        std::memcpy(static_cast<void*>(pvarDest), &copy, sizeof(VARIANT));
        return S_OK;
    }
    return replace(pvarDest, &copy);
}

namespace zeb {

namespace {
void setOutOfMemory(VARIANT* v) {
    v->vt = VT_ERROR;
    v->scode = E_OUTOFMEMORY;
}
} // namespace

Variant::Variant(const VARIANT& v) noexcept {
    VariantInit(this);
    const HRESULT hr = VariantCopy(this, &v);
    if (FAILED(hr)) {
        vt = VT_ERROR;
        scode = hr;
    }
}

Variant::Variant(Variant&& v) noexcept {
    std::memcpy(static_cast<void*>(static_cast<VARIANT*>(this)), static_cast<VARIANT*>(&v),
                sizeof(VARIANT));
    v.vt = VT_EMPTY;
}

Variant::Variant(bool b) noexcept {
    vt = VT_BOOL;
    boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}
Variant::Variant(BYTE v) noexcept {
    vt = VT_UI1;
    bVal = v;
}
Variant::Variant(SHORT v) noexcept {
    vt = VT_I2;
    iVal = v;
}
Variant::Variant(USHORT v) noexcept {
    vt = VT_UI2;
    uiVal = v;
}
Variant::Variant(INT v) noexcept {
    vt = VT_I4;
    lVal = v;
}
Variant::Variant(UINT v) noexcept {
    vt = VT_UI4;
    ulVal = v;
}
Variant::Variant(LONGLONG v) noexcept {
    vt = VT_I8;
    llVal = v;
}
Variant::Variant(ULONGLONG v) noexcept {
    vt = VT_UI8;
    ullVal = v;
}
Variant::Variant(float v) noexcept {
    vt = VT_R4;
    fltVal = v;
}
Variant::Variant(double v) noexcept {
    vt = VT_R8;
    dblVal = v;
}

Variant::Variant(const OLECHAR* s) noexcept {
    vt = VT_BSTR;
    bstrVal = SysAllocString(s);
    if (s && !bstrVal) setOutOfMemory(this);
}

Variant::Variant(std::u16string_view s) noexcept {
    vt = VT_BSTR;
    bstrVal = Bstr(s).Detach();
    if (!bstrVal) setOutOfMemory(this);
}

Variant::Variant(const char* utf8) noexcept {
    vt = VT_BSTR;
    bstrVal = Bstr(utf8).Detach();
    if (!bstrVal) setOutOfMemory(this);
}

Variant::Variant(IUnknown* p) noexcept {
    vt = VT_UNKNOWN;
    punkVal = p;
    if (p) p->AddRef();
}

Variant::Variant(IDispatch* p) noexcept {
    vt = VT_DISPATCH;
    pdispVal = p;
    if (p) p->AddRef();
}

Variant::Variant(const SAFEARRAY* a) noexcept {
    VariantInit(this);
    VARTYPE elem = VT_EMPTY;
    SAFEARRAY* arr = const_cast<SAFEARRAY*>(a);
    HRESULT hr = SafeArrayGetVartype(arr, &elem);
    SAFEARRAY* copy = nullptr;
    if (SUCCEEDED(hr)) hr = SafeArrayCopy(arr, &copy);
    if (FAILED(hr)) {
        vt = VT_ERROR;
        scode = hr;
        return;
    }
    vt = VT_ARRAY | elem;
    parray = copy;
}

Variant& Variant::operator=(const Variant& v) noexcept {
    const HRESULT hr = VariantCopy(this, &v);
    if (FAILED(hr) && VariantClear(this) == S_OK) {
        vt = VT_ERROR;
        scode = hr;
    }
    return *this;
}

Variant& Variant::operator=(Variant&& v) noexcept {
    if (this != &v) {
        Variant old(std::move(*this));
        std::memcpy(static_cast<void*>(static_cast<VARIANT*>(this)), static_cast<VARIANT*>(&v),
                    sizeof(VARIANT));
        v.vt = VT_EMPTY;
    }
    return *this;
}

HRESULT Variant::ChangeType(VARTYPE vtNew, const VARIANT* src) noexcept {
    return VariantChangeType(this, src ? src : this, 0, vtNew);
}

HRESULT Variant::Attach(VARIANT* src) noexcept {
    if (!src) return E_INVALIDARG;
    if (src == this) return S_OK;
    const HRESULT hr = Clear();
    if (FAILED(hr)) return hr;
    std::memcpy(static_cast<void*>(static_cast<VARIANT*>(this)), src, sizeof(VARIANT));
    src->vt = VT_EMPTY;
    return S_OK;
}

HRESULT Variant::Detach(VARIANT* dest) noexcept {
    if (!dest) return E_INVALIDARG;
    if (dest == this) return S_OK;
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) return hr;
    std::memcpy(static_cast<void*>(dest), static_cast<VARIANT*>(this), sizeof(VARIANT));
    vt = VT_EMPTY;
    return S_OK;
}

void Variant::swap(Variant& o) noexcept {
    VARIANT t;
    std::memcpy(static_cast<void*>(&t), static_cast<VARIANT*>(this), sizeof(VARIANT));
    std::memcpy(static_cast<void*>(static_cast<VARIANT*>(this)), static_cast<VARIANT*>(&o),
                sizeof(VARIANT));
    std::memcpy(static_cast<void*>(static_cast<VARIANT*>(&o)), &t, sizeof(VARIANT));
}

} // namespace zeb
