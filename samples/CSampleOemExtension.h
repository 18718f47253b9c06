// CSampleOemExtension: an OEM extension object ("SampleOemExt"). It offers
// no IMC_ExtensionType of its own: the registry wraps it in a reverse object
// (CSampleReverseObject).
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleOemExtension final
    : public zeb::ComObject<CSampleOemExtension, IMC_OEMExtensionType, IMC_TypeIdent> {
public:
    HRESULT getName(char** ppName) override {
        if (!ppName) return E_POINTER;
        *ppName = zeb::samples::taskStrDup(kSampleOemExtensionName);
        return *ppName ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* pTypeId) override {
        if (!pTypeId) return E_POINTER;
        *pTypeId = EXTTYPEID_SampleOemExtension;
        return S_OK;
    }
};
