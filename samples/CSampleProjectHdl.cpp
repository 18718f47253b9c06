#include "samples/CSampleProjectHdl.h"

#include "platform/com/Activation.h"

HRESULT CSamplePrjHdlHolder::getPrjHdl(IUnknown** ppIPrjHdl) {
    if (!ppIPrjHdl) return E_POINTER;
    *ppIPrjHdl = nullptr;
    CSampleProjectHdl* hdl = m_pHdl.load();
    if (!hdl) return E_FAIL;
    *ppIPrjHdl = static_cast<IMC_InternalProjectHdl*>(hdl);
    hdl->AddRef();
    return S_OK;
}

HRESULT CSampleProjectHdl::FinalConstruct() {
    return CSamplePrjHdlHolder::createObject(&m_spHolder, this);
}

void CSampleProjectHdl::FinalRelease() {
    if (m_spHolder) m_spHolder->detach();
}

HRESULT CSampleProjectHdl::queryOtherInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (m_pIInstallation) return m_pIInstallation->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

HRESULT CSampleProjectHdl::createInterfaceByCLSID(CLSID clsid, DWORD, IUnknown** ppIUnk,
                                                  DWORD* pdwRet) {
    if (!ppIUnk || !pdwRet) return E_POINTER;
    *ppIUnk = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void**>(ppIUnk));
    *pdwRet = SUCCEEDED(hr) ? 0 : 0xFFFF;
    if (SUCCEEDED(hr)) ++m_created;
    return hr;
}

HRESULT CSampleProjectHdl::getProjectHdlHolder(IMC_PrjHdlHolder** ppIHolder) {
    if (!ppIHolder) return E_POINTER;
    *ppIHolder = nullptr;
    if (!m_spHolder) return E_UNEXPECTED;
    *ppIHolder = m_spHolder.get();
    (*ppIHolder)->AddRef();
    return S_OK;
}
