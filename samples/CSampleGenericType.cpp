#include "samples/CSampleGenericType.h"

CSampleGenericTypeFactory& CSampleGenericTypeFactory::instance() {
    static CSampleGenericTypeFactory factory;
    return factory;
}

HRESULT CSampleGenericTypeFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != uuidof<IMC_TypeClassFactory>()) return E_NOINTERFACE;
    *ppv = static_cast<IMC_TypeClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG CSampleGenericTypeFactory::AddRef() {
    zeb::thisModule().lock();
    return 2;
}

ULONG CSampleGenericTypeFactory::Release() {
    zeb::thisModule().unlock();
    return 1;
}

HRESULT CSampleGenericTypeFactory::create(IUnknown* pOuter, REFIID riid, LPCSTR typeName,
                                          GUID typeId, IMC_PrjHdlHolder* pIHolder, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!typeName) return E_INVALIDARG;
    return CSampleGenericType::createInstance(pOuter, riid, ppv, std::string(typeName), typeId,
                                              pIHolder);
}
