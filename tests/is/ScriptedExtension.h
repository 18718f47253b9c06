// Test doubles of the outside components an extension operation calls:
// extension objects whose class object runs a hook while it creates one, and
// a project-handler holder that runs a hook each time it is asked for the
// handler. Both re-enter the installation from inside the call, as a real
// handler or extension may (loading a project, reinstalling a type).
//
//   ScriptedExtensionClass ext("Ext", extTypeId);
//   ext.script->onCreate = [&] { cont.removeType(typeId); };
//   cont.addExtType(typeId, "Ext", ext.clsid);
#pragma once

#include "h/IMC_ProjectHdl.h"
#include "h/IMC_TypeObject.h"
#include "platform/com/Activation.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "tests/is/ScriptedType.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace zeb::test {

struct ExtensionScript {
    std::string name;
    GUID extTypeId{};
    std::function<void()> onCreate; // run by the class object before it creates an object
    std::atomic<int> alive{0};
};

class CScriptedExtension final
    : public zeb::ComObject<CScriptedExtension, IMC_ExtensionType, IMC_TypeIdent> {
public:
    explicit CScriptedExtension(std::shared_ptr<ExtensionScript> script)
        : m_script(std::move(script)) {
        ++m_script->alive;
    }
    ~CScriptedExtension() { --m_script->alive; }
    HRESULT setObjTypeAccess(IMC_TypeIdent*, DWORD, DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        *pdwRet = 0;
        return S_OK;
    }
    HRESULT getName(char** out) override {
        *out = static_cast<char*>(CoTaskMemAlloc(m_script->name.size() + 1));
        std::memcpy(*out, m_script->name.c_str(), m_script->name.size() + 1);
        return S_OK;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* out) override {
        *out = m_script->extTypeId;
        return S_OK;
    }

private:
    std::shared_ptr<ExtensionScript> m_script;
};

class CScriptedExtensionFactory final
    : public zeb::ComObject<CScriptedExtensionFactory, IClassFactory> {
public:
    explicit CScriptedExtensionFactory(std::shared_ptr<ExtensionScript> script)
        : m_script(std::move(script)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (m_script->onCreate) m_script->onCreate();
        return CScriptedExtension::createInstance(outer, riid, ppv, m_script);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<ExtensionScript> m_script;
};

// Registered in the process for its lifetime.
struct ScriptedExtensionClass {
    ScriptedExtensionClass(std::string name, GUID extTypeId = freshGuid())
        : clsid(freshGuid()), script(std::make_shared<ExtensionScript>()) {
        script->name = std::move(name);
        script->extTypeId = extTypeId;
        ComPtr<CScriptedExtensionFactory> factory;
        CScriptedExtensionFactory::createObject(&factory, script);
        CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    ~ScriptedExtensionClass() { CoRevokeClassObject(cookie); }
    ScriptedExtensionClass(const ScriptedExtensionClass&) = delete;
    ScriptedExtensionClass& operator=(const ScriptedExtensionClass&) = delete;

    CLSID clsid;
    std::shared_ptr<ExtensionScript> script;
    DWORD cookie = 0;
};

// A holder that hands out the handler of another holder, running onGetPrjHdl
// first.
class CScriptedPrjHdlHolder final : public zeb::ComObject<CScriptedPrjHdlHolder, IMC_PrjHdlHolder> {
public:
    explicit CScriptedPrjHdlHolder(IMC_PrjHdlHolder* inner) : m_spIInner(inner) {}
    HRESULT getPrjHdl(IUnknown** ppIPrjHdl) override {
        if (onGetPrjHdl) onGetPrjHdl();
        return m_spIInner->getPrjHdl(ppIPrjHdl);
    }
    std::function<void()> onGetPrjHdl;

private:
    ComPtr<IMC_PrjHdlHolder> m_spIInner;
};

} // namespace zeb::test
