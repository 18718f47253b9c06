// ComPtr<T>: owns one reference to an interface and releases it on scope exit.
//
//   ComPtr<IFoo> foo;
//   HRESULT hr = foo.CoCreateInstance(CLSID_Foo);      // or: unk.QueryInterface(&foo)
//   if (SUCCEEDED(hr)) foo->bar(&x);
//
// `&ptr` yields T** for out-parameters; it requires the pointer to be empty
// (asserted), so a reference is never silently leaked.
#pragma once

#include "platform/com/Unknown.h"

#include <cassert>
#include <utility>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

// Activation (implemented by the runtime, see Activation.h).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

template <class T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(T* p) noexcept : p(p) {
        if (p) p->AddRef();
    }
    ComPtr(const ComPtr& o) noexcept : ComPtr(o.p) {}
    ComPtr(ComPtr&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    ~ComPtr() { Release(); }

    ComPtr& operator=(const ComPtr& o) noexcept {
        ComPtr(o).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).swap(*this);
        return *this;
    }
    ComPtr& operator=(T* q) noexcept {
        ComPtr(q).swap(*this);
        return *this;
    }

    T* operator->() const noexcept {
        assert(p);
        return p;
    }
    T& operator*() const noexcept { return *p; }
    operator T*() const noexcept { return p; }
    T** operator&() noexcept {
        assert(!p && "taking the address of a ComPtr that holds a reference");
        return &p;
    }
    explicit operator bool() const noexcept { return p != nullptr; }

    T* get() const noexcept { return p; }
    void Release() noexcept {
        if (T* q = std::exchange(p, nullptr)) q->Release();
    }
    void Attach(T* q) noexcept {
        Release();
        p = q;
    }
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    void swap(ComPtr& o) noexcept { std::swap(p, o.p); }

    template <class Q> HRESULT QueryInterface(Q** out) const noexcept {
        if (!out) return E_POINTER;
        if (!p) return E_POINTER;
        return p->QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(out));
    }
    HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr,
                             DWORD context = CLSCTX_ALL) noexcept {
        assert(!p);
        return ::CoCreateInstance(clsid, outer, context, uuidof<T>(), reinterpret_cast<void**>(&p));
    }
    // Copies the reference to *out with an AddRef (out must not be null).
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p;
        if (p) p->AddRef();
        return S_OK;
    }

    T* p = nullptr;
};

// Queries `from` for Q on construction: ComQIPtr<IFoo> foo(unknown);
template <class Q> class ComQIPtr : public ComPtr<Q> {
public:
    ComQIPtr() noexcept = default;
    explicit ComQIPtr(IUnknown* from) noexcept {
        if (from) from->QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(&this->p));
    }
};
