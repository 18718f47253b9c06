// CSampleGenericType: a generic type served only through the type class
// factory (CSampleGenericTypeFactory), which hands it the type's name, its
// identifier and the project-handler holder at creation.
#pragma once

#include "samples/CSampleTypeObject.h"

class CSampleGenericType final : public CSampleTypeObject<CSampleGenericType> {
public:
    CSampleGenericType(std::string name, const GUID& typeId, IMC_PrjHdlHolder* pIHolder)
        : CSampleTypeObject(std::move(name), typeId) {
        m_spIHolder = pIHolder;
    }
};

// The class object: answers IMC_TypeClassFactory, not IClassFactory.
class CSampleGenericTypeFactory final : public IMC_TypeClassFactory {
public:
    static CSampleGenericTypeFactory& instance();
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT create(IUnknown* pOuter, REFIID riid, LPCSTR typeName, GUID typeId,
                   IMC_PrjHdlHolder* pIHolder, void** ppv) override;
};
