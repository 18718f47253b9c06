#include "platform/com/SafeArray.h"

#include "platform/com/Variant.h"

#include <cstdlib>
#include <cstring>
#include <limits>

// Memory layout of an array made here: one block holding a 16-byte hidden
// header and then the descriptor with cDims bounds. The header carries the
// element type in its last 4 bytes (FADF_HAVEVARTYPE) or the interface IID
// (FADF_HAVEIID), as the descriptor cannot. The data is a second block.
//
// Invariants of such an array, relied on by every index computation:
//   1. cbElements * (product of all cElements) <= kMaxDataBytes, and the data
//      block holds at least that many bytes (and is never null);
//   2. lLbound + cElements - 1 fits in a LONG for every dimension.

namespace {

constexpr size_t kHidden = 16;
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFF;
constexpr USHORT kOwnsElements = FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH;
constexpr USHORT kForeignData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

ULONG elementSize(VARTYPE vt) {
    if (const size_t n = zeb::plainValueSize(vt)) return ULONG(n);
    switch (vt) {
    case VT_BSTR:
        return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return sizeof(IUnknown*);
    case VT_VARIANT:
        return sizeof(VARIANT);
    case VT_DECIMAL:
        return sizeof(DECIMAL);
    case VT_CLSID:
        return sizeof(GUID);
    default:
        return 0;
    }
}

USHORT featuresOf(VARTYPE vt) {
    switch (vt) {
    case VT_BSTR:
        return FADF_BSTR | FADF_HAVEVARTYPE;
    case VT_VARIANT:
        return FADF_VARIANT | FADF_HAVEVARTYPE;
    case VT_UNKNOWN:
        return FADF_UNKNOWN | FADF_HAVEIID;
    case VT_DISPATCH:
        return FADF_DISPATCH | FADF_HAVEIID;
    default:
        return FADF_HAVEVARTYPE;
    }
}

// The bounds in descriptor order (right-most dimension first). Indexing a
// pointer rather than the declared one-element array keeps the access
// well-defined for every dimension.
SAFEARRAYBOUND* boundsOf(SAFEARRAY* psa) {
    return psa->rgsabound;
}

char* hiddenOf(SAFEARRAY* psa) {
    return reinterpret_cast<char*>(psa) - kHidden;
}

bool boundFits(const SAFEARRAYBOUND& b) {
    return b.cElements == 0 ||
           int64_t(b.lLbound) + int64_t(b.cElements) - 1 <= std::numeric_limits<LONG>::max();
}

// Number of elements, or false when a bound or the data size is beyond the
// limits. No product here can overflow: every partial product is checked
// against kMaxDataBytes (< 2^31) before the next factor (< 2^32) joins it.
bool cellCount(const SAFEARRAYBOUND* bounds, UINT cDims, ULONG cbElements, uint64_t& cells) {
    cells = 1;
    for (UINT i = 0; i < cDims; ++i) {
        if (!boundFits(bounds[i])) return false;
        if (bounds[i].cElements == 0) cells = 0;
    }
    for (UINT i = 0; i < cDims && cells; ++i) {
        cells *= bounds[i].cElements;
        if (cells > kMaxDataBytes) return false;
    }
    return cells * cbElements <= kMaxDataBytes;
}

uint64_t cellsOf(SAFEARRAY* psa) {
    uint64_t cells = 1;
    for (UINT i = 0; i < psa->cDims; ++i)
        cells *= boundsOf(psa)[i].cElements;
    return cells;
}

SAFEARRAY* allocDescriptor(UINT cDims) {
    const size_t size = kHidden + offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND);
    char* block = static_cast<char*>(std::calloc(1, size));
    return block ? reinterpret_cast<SAFEARRAY*>(block + kHidden) : nullptr;
}

void setVartype(SAFEARRAY* psa, VARTYPE vt) {
    char* hidden = hiddenOf(psa);
    if (psa->fFeatures & FADF_HAVEIID) {
        const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
        std::memcpy(hidden, &iid, sizeof iid);
    } else {
        const DWORD value = vt;
        std::memcpy(hidden + kHidden - sizeof value, &value, sizeof value);
    }
}

// Element offset (in cells) of the indices, left-most dimension first and
// varying fastest.
HRESULT cellOf(SAFEARRAY* psa, const LONG* rgIndices, uint64_t& cell) {
    cell = 0;
    uint64_t stride = 1;
    for (UINT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = boundsOf(psa)[psa->cDims - 1 - d];
        const int64_t i = int64_t(rgIndices[d]) - b.lLbound;
        if (i < 0 || i >= int64_t(b.cElements)) return DISP_E_BADINDEX;
        cell += uint64_t(i) * stride;
        stride *= b.cElements;
    }
    return S_OK;
}

void* addressOf(SAFEARRAY* psa, uint64_t cell) {
    return static_cast<char*>(psa->pvData) + cell * psa->cbElements;
}

// Frees the owned elements in cells [from, to) and zeroes them.
void releaseElements(SAFEARRAY* psa, uint64_t from, uint64_t to) {
    if (!psa->pvData || !(psa->fFeatures & kOwnsElements)) return;
    for (uint64_t c = from; c < to; ++c) {
        void* p = addressOf(psa, c);
        if (psa->fFeatures & FADF_BSTR) {
            BSTR s;
            std::memcpy(&s, p, sizeof s);
            SysFreeString(s);
        } else if (psa->fFeatures & FADF_VARIANT) {
            VariantClear(static_cast<VARIANT*>(p));
        } else {
            IUnknown* u;
            std::memcpy(&u, p, sizeof u);
            if (u) u->Release();
        }
        std::memset(p, 0, psa->cbElements);
    }
}

// Copies one element from `src` into the zeroed cell `dst`.
HRESULT copyElement(USHORT features, ULONG cb, const void* src, void* dst) {
    if (features & FADF_BSTR) {
        BSTR s;
        std::memcpy(&s, src, sizeof s);
        if (!s) return S_OK;
        BSTR copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
        if (!copy) return E_OUTOFMEMORY;
        std::memcpy(dst, &copy, sizeof copy);
        return S_OK;
    }
    if (features & FADF_VARIANT)
        return VariantCopy(static_cast<VARIANT*>(dst), static_cast<const VARIANT*>(src));
    if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* u;
        std::memcpy(&u, src, sizeof u);
        if (u) u->AddRef();
        std::memcpy(dst, &u, sizeof u);
        return S_OK;
    }
    std::memcpy(dst, src, cb);
    return S_OK;
}

} // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    const ULONG cb = elementSize(vt);
    if (!cb || cDims == 0 || cDims > std::numeric_limits<USHORT>::max() || !rgsabound)
        return nullptr;
    uint64_t cells = 0;
    if (!cellCount(rgsabound, cDims, cb, cells)) return nullptr;
    SAFEARRAY* psa = allocDescriptor(cDims);
    if (!psa) return nullptr;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = featuresOf(vt);
    psa->cbElements = cb;
    setVartype(psa, vt);
    // The caller lists dimensions left-most first; the descriptor keeps them
    // right-most first.
    for (UINT i = 0; i < cDims; ++i)
        boundsOf(psa)[i] = rgsabound[cDims - 1 - i];
    psa->pvData = std::calloc(cells ? cells * cb : 1, 1);
    if (!psa->pvData) {
        std::free(hiddenOf(psa));
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    releaseElements(psa, 0, cellsOf(psa));
    if (!(psa->fFeatures & kForeignData)) std::free(psa->pvData);
    std::free(hiddenOf(psa));
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = boundsOf(psa)[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = boundsOf(psa)[psa->cDims - nDim];
    // An empty dimension has its upper bound below its lower bound.
    *plUbound = static_cast<LONG>(int64_t(b.lLbound) + int64_t(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    if ((psa->fFeatures & (FADF_HAVEIID | FADF_DISPATCH)) == (FADF_HAVEIID | FADF_DISPATCH)) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_HAVEIID) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_HAVEVARTYPE) {
        DWORD value;
        std::memcpy(&value, hiddenOf(psa) + kHidden - sizeof value, sizeof value);
        *pvt = static_cast<VARTYPE>(value);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (__atomic_add_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL) > 0xFFFF) {
        __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    ULONG locks = __atomic_load_n(&psa->cLocks, __ATOMIC_ACQUIRE);
    do {
        if (locks == 0) return E_UNEXPECTED;
    } while (!__atomic_compare_exchange_n(&psa->cLocks, &locks, locks - 1, false, __ATOMIC_ACQ_REL,
                                          __ATOMIC_ACQUIRE));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    const HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppv) {
    if (!psa || !rgIndices || !ppv || !psa->pvData) return E_INVALIDARG;
    uint64_t cell = 0;
    const HRESULT hr = cellOf(psa, rgIndices, cell);
    if (FAILED(hr)) return hr;
    *ppv = addressOf(psa, cell);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    void* elem = nullptr;
    HRESULT hr = pv ? SafeArrayPtrOfIndex(psa, rgIndices, &elem) : E_INVALIDARG;
    if (FAILED(hr)) return hr;
    hr = SafeArrayLock(psa);
    if (FAILED(hr)) return hr;
    if (psa->fFeatures & FADF_BSTR) {
        BSTR s = static_cast<BSTR>(pv);
        BSTR copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
        if (copy) {
            BSTR old;
            std::memcpy(&old, elem, sizeof old);
            SysFreeString(old);
            std::memcpy(elem, &copy, sizeof copy);
        } else {
            hr = E_OUTOFMEMORY;
        }
    } else if (psa->fFeatures & FADF_VARIANT) {
        hr = VariantCopy(static_cast<VARIANT*>(elem), static_cast<const VARIANT*>(pv));
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* fresh = static_cast<IUnknown*>(pv);
        IUnknown* old;
        std::memcpy(&old, elem, sizeof old);
        fresh->AddRef(); // before the Release: both may be the same object
        if (old) old->Release();
        std::memcpy(elem, &fresh, sizeof fresh);
    } else {
        std::memmove(elem, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    void* elem = nullptr;
    HRESULT hr = pv ? SafeArrayPtrOfIndex(psa, rgIndices, &elem) : E_INVALIDARG;
    if (FAILED(hr)) return hr;
    hr = SafeArrayLock(psa);
    if (FAILED(hr)) return hr;
    if (psa->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(pv)); // whatever pv held is not ours
        hr = VariantCopy(static_cast<VARIANT*>(pv), static_cast<const VARIANT*>(elem));
    } else if (psa->fFeatures & kOwnsElements) {
        std::memset(pv, 0, psa->cbElements);
        hr = copyElement(psa->fFeatures, psa->cbElements, elem, pv);
    } else {
        std::memmove(pv, elem, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    if (psa->cDims == 0) return E_INVALIDARG;
    uint64_t cells = 0;
    if (!cellCount(boundsOf(psa), psa->cDims, psa->cbElements, cells)) return E_INVALIDARG;
    SAFEARRAY* copy = allocDescriptor(psa->cDims);
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(hiddenOf(copy), hiddenOf(psa), kHidden);
    copy->cDims = psa->cDims;
    copy->fFeatures = psa->fFeatures & ~kForeignData;
    copy->cbElements = psa->cbElements;
    for (UINT i = 0; i < psa->cDims; ++i)
        boundsOf(copy)[i] = boundsOf(psa)[i];
    if (!psa->pvData) {
        *ppsaOut = copy;
        return S_OK;
    }
    copy->pvData = std::calloc(cells ? cells * psa->cbElements : 1, 1);
    if (!copy->pvData) {
        std::free(hiddenOf(copy));
        return E_OUTOFMEMORY;
    }
    for (uint64_t c = 0; c < cells; ++c) {
        const HRESULT hr =
            copyElement(psa->fFeatures, psa->cbElements, addressOf(psa, c), addressOf(copy, c));
        if (FAILED(hr)) {
            SafeArrayDestroy(copy); // releases what was copied so far
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (!psa || !psaboundNew || psa->cDims == 0) return E_INVALIDARG;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    if (psa->fFeatures & FADF_FIXEDSIZE) return E_INVALIDARG;
    const uint64_t oldCells = cellsOf(psa);
    SAFEARRAYBOUND* bounds = boundsOf(psa);
    const SAFEARRAYBOUND saved = bounds[0];
    bounds[0] = *psaboundNew;
    uint64_t newCells = 0;
    const bool fits = cellCount(bounds, psa->cDims, psa->cbElements, newCells);
    bounds[0] = saved;
    if (!fits) return E_INVALIDARG;
    if (newCells != oldCells) {
        // The right-most dimension varies slowest, so the kept elements are
        // a prefix of the data.
        if (newCells > oldCells && (psa->fFeatures & kForeignData)) return E_INVALIDARG;
        void* data = nullptr;
        if (!(psa->fFeatures & kForeignData)) {
            data = std::calloc(newCells ? newCells * psa->cbElements : 1, 1);
            if (!data) return E_OUTOFMEMORY;
        }
        releaseElements(psa, newCells, oldCells);
        if (data) {
            std::memcpy(data, psa->pvData,
                        (newCells < oldCells ? newCells : oldCells) * psa->cbElements);
            std::free(psa->pvData);
            psa->pvData = data;
        }
    }
    bounds[0] = *psaboundNew;
    return S_OK;
}
