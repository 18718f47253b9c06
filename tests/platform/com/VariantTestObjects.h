// Reference-counted objects for the VARIANT and SAFEARRAY tests: they count
// their references and never delete themselves, so a test can check that
// every AddRef was matched.
#pragma once

#include "platform/com/Variant.h"

namespace zeb::test {

// Answers IUnknown and IDispatch.
class CountedDispatch : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, void*, VARIANT*, void*, UINT*) override {
        return E_NOTIMPL;
    }

    ULONG refs = 1; // the test's own reference
};

// Answers IUnknown only.
class CountedUnknown : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    ULONG refs = 1;
};

} // namespace zeb::test
