// IUnknown and the class factory, and how an interface names its IID.
//
// An interface is a struct of pure virtual methods in the original slot
// order, with a `static constexpr IID iid` member (which adds no vtable
// slot) and no virtual destructor. `uuidof<IFoo>()` gives its IID:
//
//   struct IFoo : IUnknown {
//       static constexpr IID iid = makeGuid("...");
//       virtual HRESULT bar(DWORD* out) = 0;
//   };
//   ComPtr<IFoo> foo;
//   hr = unk->QueryInterface(uuidof<IFoo>(), reinterpret_cast<void**>(&foo));
#pragma once

#include "platform/com/Guid.h"

template <class T> constexpr const IID& uuidof() { return T::iid; }

struct IUnknown {
    static constexpr IID iid = makeGuid("00000000-0000-0000-C000-000000000046");
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
    static constexpr IID iid = makeGuid("00000001-0000-0000-C000-000000000046");
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};

constexpr IID IID_IUnknown = IUnknown::iid;
constexpr IID IID_IClassFactory = IClassFactory::iid;
