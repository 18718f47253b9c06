// SAFEARRAY: the self-describing, multi-dimensional array of OLE Automation.
//
//   SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}};        // a(0..2, 1..2)
//   SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
//   LONG at[2] = {2, 1};                                 // a(2, 1)
//   LONG value = 7;
//   hr = SafeArrayPutElement(a, at, &value);
//   hr = SafeArrayDestroy(a);
//
// Dimensions. "Dimension n" (n from 1) in SafeArrayGetLBound/GetUBound and
// index i in the rgIndices arrays both count from the LEFT-most dimension,
// which is the first bound passed to SafeArrayCreate. The descriptor stores
// its bounds the other way round: psa->rgsabound[0] is the RIGHT-most
// dimension and psa->rgsabound[cDims - 1] the left-most. Elements lie in
// memory with the left-most index varying fastest (column-major): in the
// example above the order is a(0,1) a(1,1) a(2,1) a(0,2) a(1,2) a(2,2).
//
// Element ownership. Arrays of VT_BSTR, VT_VARIANT, VT_UNKNOWN and
// VT_DISPATCH own their elements: SafeArrayPutElement stores a copy (an
// AddRef for interfaces) and frees what it replaces, SafeArrayGetElement
// hands out a copy the caller owns, SafeArrayCopy copies deeply and
// SafeArrayDestroy frees them all. Other element types are plain bytes.
//
// Locks. SafeArrayLock/SafeArrayAccessData pin the data; while an array is
// locked it cannot be destroyed (DISP_E_ARRAYISLOCKED) or resized. Every
// function is safe to call with bad arguments (null pointers, indices out of
// range, bounds whose size does not fit) and returns a code; none throws.
// An array is not synchronised: one thread at a time, or external locking.
//
// Size limit: the data of one array is at most 0x7FFFFFFF bytes (what a
// 32-bit process could ever address), and lLbound + cElements - 1 must fit
// in a LONG; larger requests fail without allocating.
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/VariantTypes.h"

#include <cstddef>

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
using LPSAFEARRAYBOUND = SAFEARRAYBOUND*;

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1]; // cDims entries, right-most dimension first
};
using LPSAFEARRAY = SAFEARRAY*;
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(sizeof(SAFEARRAY) == 32 && offsetof(SAFEARRAY, pvData) == 16 &&
              offsetof(SAFEARRAY, rgsabound) == 24);

constexpr USHORT FADF_AUTO = 0x0001;      // data owned by the caller: not freed
constexpr USHORT FADF_STATIC = 0x0002;    // data not freed
constexpr USHORT FADF_EMBEDDED = 0x0004;  // data not freed
constexpr USHORT FADF_FIXEDSIZE = 0x0010; // may not be resized
constexpr USHORT FADF_RECORD = 0x0020;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;
constexpr USHORT FADF_RESERVED = 0xF008;

// Element types accepted: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_BOOL, VT_I4, VT_UI4,
// VT_INT, VT_UINT, VT_R4, VT_ERROR, VT_R8, VT_I8, VT_UI8, VT_CY, VT_DATE,
// VT_BSTR, VT_VARIANT, VT_UNKNOWN, VT_DISPATCH, VT_DECIMAL and VT_CLSID
// (16-byte GUIDs). Data is zeroed. Null for any other type, no dimensions,
// a null bound array, a size beyond the limit, or no memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Null is S_OK. DISP_E_ARRAYISLOCKED (and nothing freed) while locked.
// REQUIRES: psa came from SafeArrayCreate, SafeArrayCreateVector or SafeArrayCopy.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);

UINT SafeArrayGetDim(SAFEARRAY* psa);      // 0 for null
UINT SafeArrayGetElemsize(SAFEARRAY* psa); // 0 for null
// nDim counts from 1 at the left-most dimension; DISP_E_BADINDEX outside
// 1..cDims, E_INVALIDARG for null pointers.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// E_INVALIDARG when the array does not record its element type.
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);

// Lock counting; E_UNEXPECTED when unlocking an unlocked array or when the
// count would overflow.
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
// Lock, and *ppvData receives the data; undo with SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// *ppv receives the address of one element (no lock is taken).
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppv);

// rgIndices holds one index per dimension, left-most first. `pv` points at
// the value for plain types and VT_VARIANT (a VARIANT*); for VT_BSTR it IS
// the BSTR and for interfaces it IS the interface pointer. DISP_E_BADINDEX
// for an index out of range, E_INVALIDARG for null arguments.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// `pv` receives a copy: the bytes, a new BSTR, an AddRef'd interface, or a
// deep VariantCopy (the VARIANT at pv is treated as uninitialised).
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// A deep copy in *ppsaOut; a null psa gives a null copy and S_OK.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
// Changes the right-most dimension (psa->rgsabound[0]) to *psaboundNew: kept
// elements stay, added ones are zero, removed ones are freed.
// DISP_E_ARRAYISLOCKED while locked; E_INVALIDARG for a fixed-size array or a
// size beyond the limit; E_OUTOFMEMORY.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);
