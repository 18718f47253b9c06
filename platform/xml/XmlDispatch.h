// XmlDispatch<I>: the IDispatch slots of a DOM interface I. There is no type
// information and no late binding here, so all four answer E_NOTIMPL (with
// out-parameters cleared). The DOM objects derive from it.
#pragma once

#include "platform/com/Variant.h"

namespace zeb {

template <class I> class XmlDispatch : public I {
public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo) *pctinfo = 0;
        return E_NOTIMPL;
    }
    HRESULT GetTypeInfo(UINT, LCID, void** ppTInfo) override {
        if (ppTInfo) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, void*, VARIANT*, void*, UINT*) override {
        return E_NOTIMPL;
    }

protected:
    XmlDispatch() = default;
    ~XmlDispatch() = default;
};

} // namespace zeb
