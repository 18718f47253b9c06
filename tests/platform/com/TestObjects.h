// COM classes shared by the runtime tests.
#pragma once

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

#include <atomic>

struct IProbe : IUnknown {
    static constexpr IID iid = makeGuid("6B1D3F0A-2C4E-4F5A-8B9C-0D1E2F3A4B5C");
    virtual HRESULT value(DWORD* out) = 0;
};

struct IProbeEx : IProbe {
    static constexpr IID iid = makeGuid("6B1D3F0A-2C4E-4F5A-8B9C-0D1E2F3A4B5D");
    virtual HRESULT twice(DWORD* out) = 0;
};

struct IOther : IUnknown {
    static constexpr IID iid = makeGuid("6B1D3F0A-2C4E-4F5A-8B9C-0D1E2F3A4B5E");
    virtual HRESULT other() = 0;
};

constexpr CLSID CLSID_Probe = makeGuid("0A7C5E3B-1D2F-4A6B-9C8D-7E6F5A4B3C2D");

// Counts live instances so tests can see that every reference was dropped.
class CProbe final : public zeb::ComObject<CProbe, zeb::Chain<IProbeEx, IProbe>> {
public:
    static inline std::atomic<int> live{0};
    CProbe() { ++live; }
    ~CProbe() { --live; }
    HRESULT value(DWORD* out) override {
        *out = 7;
        return S_OK;
    }
    HRESULT twice(DWORD* out) override {
        *out = 14;
        return S_OK;
    }
};

// `&ptr` as the void** out-parameter of QueryInterface-like calls.
template <class T> void** out(ComPtr<T>& p) {
    return reinterpret_cast<void**>(&p);
}

// The reference count an object reports after a balanced AddRef/Release.
inline ULONG refCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}
