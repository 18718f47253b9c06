// CSampleTypeObject: the common part of the sample type objects.
//
//   class CSampleDriveType final
//       : public CSampleTypeObject<CSampleDriveType, IMC_RTTypeIdent> { ... };
//
// Answers IMC_TypeIdent (name and identifier given at construction) and
// IMC_InitPrjHdl (keeps the holder). When it dies it keeps the obligation of
// type objects toward the type cache: it asks the project handler for the
// installation's IMC_InternalInstallation and calls removeTypeObjectFromCache
// with its identifier and itself (as its IMC_TypeIdent pointer, the pointer
// the cache holds).
#pragma once

#include "h/IMC_Installation.h"
#include "h/IMC_TypeObject.h"
#include "h/ResultCodes.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "samples/SampleTaskMem.h"

#include <string>

template <class Derived, class... Extra>
class CSampleTypeObject : public zeb::ComObject<Derived, IMC_TypeIdent, IMC_InitPrjHdl, Extra...> {
public:
    CSampleTypeObject(std::string name, const GUID& typeId)
        : m_name(std::move(name)), m_typeId(typeId) {}

    HRESULT getName(char** ppName) override {
        if (!ppName) return E_POINTER;
        *ppName = zeb::samples::taskStrDup(m_name);
        return *ppName ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* pTypeId) override {
        if (!pTypeId) return E_POINTER;
        *pTypeId = m_typeId;
        return S_OK;
    }
    HRESULT initPrjHdl(IMC_PrjHdlHolder* pIHolder) override {
        m_spIHolder = pIHolder;
        return S_OK;
    }

    void FinalRelease() {
        if (!m_spIHolder) return;
        ComPtr<IUnknown> spIHdl;
        if (m_spIHolder->getPrjHdl(&spIHdl) != S_OK || !spIHdl) return;
        ComQIPtr<IMC_InternalInstallation> spIInst(spIHdl);
        DWORD ret = 0;
        if (spIInst)
            spIInst->removeTypeObjectFromCache(m_typeId, ACCESS_TYPE_STORAGE,
                                               static_cast<IMC_TypeIdent*>(this), &ret);
    }

    IMC_PrjHdlHolder* holder() const { return m_spIHolder.get(); }

protected:
    std::string m_name;
    GUID m_typeId;
    ComPtr<IMC_PrjHdlHolder> m_spIHolder;
};
