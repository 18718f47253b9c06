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

// An automation object with a value property, as a script object or a DOM
// node offers one: Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET) with no
// arguments copies `value` out. Counts the reads; anything else is refused as
// a real object refuses an unknown member.
class ValueDispatch : public CountedDispatch {
public:
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD kind, void* params, VARIANT* result, void*,
                   UINT*) override {
        ++reads;
        const auto* arguments = static_cast<const DISPPARAMS*>(params);
        if (member != DISPID_VALUE || !(kind & DISPATCH_PROPERTYGET) || !arguments ||
            arguments->cArgs != 0)
            return MAKE_HRESULT_(0x80020003); // DISP_E_MEMBERNOTFOUND
        if (!result) return E_POINTER;
        return VariantCopy(result, &value);
    }

    VARIANT value{}; // VT_EMPTY; owned by the test
    int reads = 0;
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
