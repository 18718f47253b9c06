// CSampleProjectHdl: a sample project handler with its holder.
//
//   ComPtr<CSampleProjectHdl> hdl;
//   CSampleProjectHdl::createObject(&hdl);
//   ComPtr<IMC_PrjHdlHolder> holder;
//   hdl->getProjectHdlHolder(&holder);
//   cont.setPrjHdlHolder(holder);                  // extensions are now created through it
//   hdl->setInstallation(installationUnknown);     // answers the installation's interfaces
//
// createInterfaceByCLSID creates any class through CoCreateInstance. The
// holder points back at the handler without a reference (the handler owns
// the holder); once the handler is gone getPrjHdl answers E_FAIL.
#pragma once

#include "h/IMC_ProjectHdl.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

#include <atomic>

class CSampleProjectHdl;

class CSamplePrjHdlHolder final : public zeb::ComObject<CSamplePrjHdlHolder, IMC_PrjHdlHolder> {
public:
    explicit CSamplePrjHdlHolder(CSampleProjectHdl* pHdl) : m_pHdl(pHdl) {}
    HRESULT getPrjHdl(IUnknown** ppIPrjHdl) override;
    void detach() { m_pHdl = nullptr; }

private:
    std::atomic<CSampleProjectHdl*> m_pHdl;
};

class CSampleProjectHdl final : public zeb::ComObject<CSampleProjectHdl, IMC_InternalProjectHdl> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT queryOtherInterface(REFIID riid, void** ppv);

    HRESULT createInterfaceByCLSID(CLSID clsid, DWORD flags, IUnknown** ppIUnk,
                                   DWORD* pdwRet) override;
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getProjectHdlHolder(IMC_PrjHdlHolder** ppIHolder) override;

    // The installation whose interfaces the handler answers (no reference
    // kept: the caller clears it before the installation goes).
    void setInstallation(IUnknown* pIInstallation) { m_pIInstallation = pIInstallation; }
    // Counts the objects created through createInterfaceByCLSID.
    ULONG createdObjects() const { return m_created; }

private:
    ComPtr<CSamplePrjHdlHolder> m_spHolder;
    IUnknown* m_pIInstallation = nullptr;
    std::atomic<ULONG> m_created{0};
};
