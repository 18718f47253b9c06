// CSampleReverseObject: the reverse object that wraps an OEM extension
// (class CLSID_OemReverseObject). It answers IMC_ExtensionType itself and
// IMC_TypeIdent by asking the wrapped extension.
#pragma once

#include "samples/CSampleTypeObject.h"

class CSampleReverseObject final
    : public zeb::ComObject<CSampleReverseObject, IMC_InternalOemRevObjAdmin, IMC_ExtensionType,
                            IMC_TypeIdent> {
public:
    HRESULT setOuterInterface(IUnknown* pIUnkOuter) override {
        if (!pIUnkOuter) return E_POINTER;
        m_spIOuter = ComQIPtr<IMC_TypeIdent>(pIUnkOuter);
        return m_spIOuter ? S_OK : E_NOINTERFACE;
    }
    HRESULT setObjTypeAccess(IMC_TypeIdent* pITypeIdent, DWORD accessFlags,
                             DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        *pdwRet = (pITypeIdent && accessFlags == ESProtectExtHndl && m_spIOuter) ? 0 : 0x10;
        return S_OK;
    }
    HRESULT getName(char** ppName) override {
        return m_spIOuter ? m_spIOuter->getName(ppName) : E_UNEXPECTED;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* pTypeId) override {
        return m_spIOuter ? m_spIOuter->getTypeId(pTypeId) : E_UNEXPECTED;
    }

private:
    ComPtr<IMC_TypeIdent> m_spIOuter;
};
