// The global interface table: one process-wide table that maps a cookie to an
// interface pointer, so that a pointer registered on one thread can be fetched
// on any other.
//
//   ComPtr<IGlobalInterfaceTable> git;
//   git.CoCreateInstance(CLSID_StdGlobalInterfaceTable);
//   DWORD cookie = 0;
//   git->RegisterInterfaceInGlobal(obj, uuidof<IFoo>(), &cookie);   // table holds a reference
//   ...on another thread:
//   ComPtr<IFoo> foo;
//   git->GetInterfaceFromGlobal(cookie, uuidof<IFoo>(), reinterpret_cast<void**>(&foo));
//   ...when done:
//   git->RevokeInterfaceFromGlobal(cookie);                          // drops that reference
//
// Objects are used directly across threads in this runtime, so the pointer
// handed out is the registered object itself (queried for the asked
// interface), never a proxy.
//
// Two classes create objects over the same table, so a cookie registered
// through one is found through the other:
//   CLSID_StdGlobalInterfaceTable    answers IGlobalInterfaceTable;
//   CLSID_ZEBGlobalInterfaceTableMTA answers IZEBGlobalInterfaceTable (the
//     same three methods in the same slots) and IGlobalInterfaceTable.
// Both are built into the runtime (no registry entry needed), cannot be
// aggregated, and every creation returns the same long-lived object.
//
// Thread safety: every method may be called from any thread at any time.
// Results: RegisterInterfaceInGlobal gives E_INVALIDARG for a null object or
// cookie pointer and the object's QueryInterface result when it does not
// answer riid; Revoke/Get give E_INVALIDARG for a cookie that is not
// registered (0 never is); Get gives E_POINTER for a null out-pointer and
// E_NOINTERFACE (with *ppv null) when the object does not answer riid.
#pragma once

#include "platform/com/Unknown.h"

struct IGlobalInterfaceTable : IUnknown {
    static constexpr IID iid = makeGuid("00000146-0000-0000-C000-000000000046");
    virtual HRESULT RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) = 0;
    virtual HRESULT RevokeInterfaceFromGlobal(DWORD dwCookie) = 0;
    virtual HRESULT GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) = 0;
};

// The product's free-threaded table: the same method layout under its own IID.
struct IZEBGlobalInterfaceTable : IGlobalInterfaceTable {
    static constexpr IID iid = makeGuid("ECA421B1-0284-4163-A18D-47E45FED4E25");
};

constexpr IID IID_IGlobalInterfaceTable = IGlobalInterfaceTable::iid;
constexpr IID IID_IZEBGlobalInterfaceTable = IZEBGlobalInterfaceTable::iid;
constexpr CLSID CLSID_StdGlobalInterfaceTable = makeGuid("00000323-0000-0000-C000-000000000046");
constexpr CLSID CLSID_ZEBGlobalInterfaceTableMTA = makeGuid("F7A48574-8EC8-4221-875F-18CD2F64F516");
