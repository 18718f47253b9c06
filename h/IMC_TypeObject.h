// What the registry calls on type objects, their class factories, extension
// objects and reverse objects: components outside this system.
//
//   ComPtr<IMC_TypeIdent> spIType = ...;              // created by the container
//   char* name = nullptr;
//   spIType->getName(&name);                          // task-allocated: CoTaskMemFree(name)
//   GUID typeId;
//   spIType->getTypeId(&typeId);                      // GUID_NOTYPE counts as failure
//
// Slots the system never calls are declared as reservedN so that the slots
// it does call keep their positions.
#pragma once

#include "h/IMC_ProcessProgress.h"
#include "h/IMC_ProjectHdl.h"
#include "h/TypeIdent.h"

// The interface under which type objects are created and handed out; also
// offered by extension objects.
struct IMC_TypeIdent : IUnknown {
    static constexpr IID iid = makeGuid("7242BC40-AC14-4810-979D-F90F971C94DB");
    // The version-dependent name, allocated with CoTaskMemAlloc.
    virtual HRESULT getName(char** ppName) = 0;
    virtual HRESULT reserved4() = 0;
    virtual HRESULT getTypeId(GUID* pTypeId) = 0;
};

// Runtime identity; required of device, technology-object and package types.
struct IMC_RTTypeIdent : IUnknown {
    static constexpr IID iid = makeGuid("78E9BD12-69A9-4564-BAE0-C4D1323902D2");
    virtual HRESULT getRTTypeID(RTTypeID* pRTTypeID) = 0;
};

// Proxy identity; optional, technology-object types only.
struct IMC_ProxyTypeIdent : IUnknown {
    static constexpr IID iid = makeGuid("1B7ACD20-5526-43CA-90C3-C58C33EFBD5E");
    virtual HRESULT getProxyTypeID(RTTypeID* pProxyID) = 0;
};

// Internal type interface: completion of an installation step and the
// types a type depends on.
struct IMC_InternalType : IUnknown {
    static constexpr IID iid = makeGuid("ECF88953-B39D-402D-8451-DFD6F60D6FC1");
    // S_OK and *pdwRet 0 accept the request; the object then calls
    // processFinished on the callback when done (possibly from another thread).
    virtual HRESULT OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) = 0;
    virtual HRESULT reserved4() = 0;
    // Identifiers of the types this one depends on (array task-allocated).
    virtual HRESULT getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) = 0;
};

// A class factory that receives the type's name, identifier and the holder.
struct IMC_TypeClassFactory : IUnknown {
    static constexpr IID iid = makeGuid("583977E0-FFE5-4B80-BA2A-BEA7E360B543");
    virtual HRESULT create(IUnknown* pOuter, REFIID riid, LPCSTR typeName, GUID typeId,
                           IMC_PrjHdlHolder* pIHolder, void** ppv) = 0;
};

// Extension objects attached to a type.
struct IMC_ExtensionType : IUnknown {
    static constexpr IID iid = makeGuid("DEF04450-2D60-4CBF-A973-12C029108122");
    virtual HRESULT setObjTypeAccess(IMC_TypeIdent* pITypeIdent, DWORD accessFlags,
                                     DWORD* pdwRet) = 0;
};

// Only asked for: an extension offering it must be wrapped by a reverse object.
struct IMC_OEMExtensionType : IUnknown {
    static constexpr IID iid = makeGuid("0103DE20-5DC0-44AC-B988-679D1FBB4FD7");
};

// The reverse object that wraps an OEM extension.
struct IMC_InternalOemRevObjAdmin : IUnknown {
    static constexpr IID iid = makeGuid("2E1EC239-9D82-44BD-BD3D-69AA98913DFA");
    virtual HRESULT setOuterInterface(IUnknown* pIUnkOuter) = 0;
};

// Class of the reverse objects created for OEM extensions.
constexpr CLSID CLSID_OemReverseObject = makeGuid("FEF71E2C-18F1-48A8-9558-7199BC2EE777");
