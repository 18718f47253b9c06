// CZEBIntInstallation: the aggregated inner object and the project handler's
// holder, taken when the object is made.
#include "is/CZEBIntInstallation.h"

#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "h/IMC_ProjectHdl.h"
#include "platform/com/Activation.h"

namespace {

constexpr const char* kFile = "is_inst";

} // namespace

HRESULT CZEBIntInstallation::FinalConstruct() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::FinalConstruct");
    ComPtr<IUnknown> spInner;
    HRESULT hr = ::CoCreateInstance(CLSID_CBasisESOemObj, controllingUnknown(), CLSCTX_ALL,
                                    IID_IUnknown, reinterpret_cast<void**>(&spInner));
    if (hr == REGDB_E_CLASSNOTREG) {
        // Not an error where the engineering system is not installed.
        ZEB_TRACE(rec, 3,
                  "inner object CLSID_CBasisESOemObj not registered, the installation goes on "
                  "without it");
    } else if (FAILED(hr)) {
        ZEB_TRACE(rec, 4,
                  "error calling m_spIInnerUnk.CoCreateInstance(CLSID_CBasisESOemObj, "
                  "GetControllingUnknown()) hr = 0x%X (%s)",
                  unsigned(hr), CCoError(hr).errorText());
        return hr;
    }
    m_spIInnerUnk = std::move(spInner);

    // The inner object's initialisation interface. Asked through its own
    // IUnknown, the reference lands on this object's controlling IUnknown.
    ComPtr<IMC_InitPrjHdl> spIOEMInit;
    if (m_spIInnerUnk)
        m_spIInnerUnk->QueryInterface(uuidof<IMC_InitPrjHdl>(),
                                      reinterpret_cast<void**>(&spIOEMInit));

    // A project handler that aggregates this object answers
    // IMC_InternalProjectHdl on the controlling IUnknown; made on its own
    // the object has no handler and no holder.
    ComPtr<IMC_InternalProjectHdl> spIIntHdl;
    controllingUnknown()->QueryInterface(uuidof<IMC_InternalProjectHdl>(),
                                         reinterpret_cast<void**>(&spIIntHdl));
    if (!spIIntHdl) return S_OK;
    ComPtr<IMC_PrjHdlHolder> spIHolder;
    hr = guardedCall(
        rec, "spIIntHdl->getProjectHdlHolder(&spIHolder)",
        [&] { return spIIntHdl->getProjectHdlHolder(&spIHolder); }, CatchText::Exception);
    if (FAILED(hr) || !spIHolder) return hr;
    m_typeCont.setPrjHdlHolder(spIHolder.get());
    if (!spIOEMInit) return S_OK;
    return guardedCall(rec, "spIOEMInit->initPrjHdl(spIHolder)",
                       [&] { return spIOEMInit->initPrjHdl(spIHolder.get()); });
}

HRESULT CZEBIntInstallation::queryOtherInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (m_spIInnerUnk && (riid == IID_BasisESOemDelegateA || riid == IID_BasisESOemDelegateB))
        return m_spIInnerUnk->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}
