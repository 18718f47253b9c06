// CSampleExtension: a plain extension object ("SampleExt").
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleExtension final
    : public zeb::ComObject<CSampleExtension, IMC_ExtensionType, IMC_TypeIdent> {
public:
    HRESULT setObjTypeAccess(IMC_TypeIdent* pITypeIdent, DWORD accessFlags,
                             DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        // Only the registry's access flags and a real type object are accepted.
        *pdwRet = (pITypeIdent && accessFlags == ESProtectExtHndl) ? 0 : 0x10;
        return S_OK;
    }
    HRESULT getName(char** ppName) override {
        if (!ppName) return E_POINTER;
        *ppName = zeb::samples::taskStrDup(kSampleExtensionName);
        return *ppName ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* pTypeId) override {
        if (!pTypeId) return E_POINTER;
        *pTypeId = EXTTYPEID_SampleExtension;
        return S_OK;
    }
};
