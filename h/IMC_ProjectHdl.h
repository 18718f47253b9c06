// What the registry calls on the project handler, a component outside this
// system that owns the project and aggregates the core installation object.
//
//   ComPtr<IUnknown> spIUnk;
//   holder->getPrjHdl(&spIUnk);                        // the project handler
//   ComQIPtr<IMC_InternalProjectHdl> spIIntHdl(spIUnk);
//   DWORD dwRet = 0;
//   spIIntHdl->createInterfaceByCLSID(clsid, 0, &spObj, &dwRet);  // hr >= 0 && dwRet == 0
//
// Slots the system never calls are declared as reservedN so that the slots
// it does call keep their positions.
#pragma once

#include "platform/com/Unknown.h"

// The project-handler holder: how a type object, the type container or the
// inner object reaches the project handler.
struct IMC_PrjHdlHolder : IUnknown {
    static constexpr IID iid = makeGuid("75EA0767-80C4-4CB8-9AD3-623A923476B1");
    // The project handler with a reference for the caller; S_OK on success.
    virtual HRESULT getPrjHdl(IUnknown** ppIPrjHdl) = 0;
};

struct IMC_InternalProjectHdl : IUnknown {
    static constexpr IID iid = makeGuid("292CCB97-906C-4533-9104-9D0CCCDDD433");
    // A new object of class clsid (flags 0); success is hr >= 0 and *pdwRet 0.
    virtual HRESULT createInterfaceByCLSID(CLSID clsid, DWORD flags, IUnknown** ppIUnk,
                                           DWORD* pdwRet) = 0;
    virtual HRESULT reserved4() = 0;
    // The holder of this project, with a reference for the caller.
    virtual HRESULT getProjectHdlHolder(IMC_PrjHdlHolder** ppIHolder) = 0;
};

// Offered optionally by type objects (and by the inner object): receives the
// holder once the object is created. Type objects' results are ignored.
struct IMC_InitPrjHdl : IUnknown {
    static constexpr IID iid = makeGuid("4E6E1F86-5021-4CE8-BB87-3BA32D601B68");
    virtual HRESULT initPrjHdl(IMC_PrjHdlHolder* pIHolder) = 0;
};

constexpr CLSID CLSID_CZEBProjectHdl = makeGuid("71ABB400-142C-11D3-81C5-00105A6B081E");
// The inner object the core installation aggregates, and the two interfaces
// the installation answers by handing the query to it (their operations are
// the inner object's own).
constexpr CLSID CLSID_CBasisESOemObj = makeGuid("D9FBC3B4-8037-402C-85B0-DBAF86681988");
constexpr IID IID_BasisESOemDelegateA = makeGuid("E3E1606C-C04E-4754-BA2F-6C151FB575EC");
constexpr IID IID_BasisESOemDelegateB = makeGuid("3E4B1866-740E-44C2-A3C6-C3C692B71BB1");
