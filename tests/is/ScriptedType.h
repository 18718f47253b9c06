// Test double of a type object whose answers a test scripts: name,
// identifier, runtime identifier and failures. Its class object is
// registered in the process for the lifetime of a ScriptedClass.
//
//   ScriptedClass drive("Drive.1.0", RTTypeID{family, 1, 0});
//   cont.addType(TC_Device, drive.clsid, id);
//   EXPECT_EQ(drive.script->created, 1);
#pragma once

#include "h/IMC_TypeObject.h"
#include "platform/com/Activation.h"
#include "platform/com/ComObject.h"
#include "platform/com/TaskAllocator.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace zeb::test {

struct TypeScript {
    std::string name;
    GUID typeId{};
    RTTypeID rt = RTTYPEID_INVALID;
    HRESULT rtResult = S_OK;
    bool throwInGetName = false;
    HRESULT typeIdResult = S_OK;
    std::atomic<int> created{0};
    std::atomic<int> alive{0};
    IMC_PrjHdlHolder* lastHolder = nullptr; // as passed to initPrjHdl, not held
};

class CScriptedType final
    : public zeb::ComObject<CScriptedType, IMC_TypeIdent, IMC_RTTypeIdent, IMC_InitPrjHdl> {
public:
    explicit CScriptedType(std::shared_ptr<TypeScript> script) : m_script(std::move(script)) {
        ++m_script->alive;
    }
    ~CScriptedType() { --m_script->alive; }
    HRESULT getName(char** out) override {
        if (m_script->throwInGetName) throw std::runtime_error("scripted failure");
        *out = static_cast<char*>(CoTaskMemAlloc(m_script->name.size() + 1));
        std::memcpy(*out, m_script->name.c_str(), m_script->name.size() + 1);
        return S_OK;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* out) override {
        *out = m_script->typeId;
        return m_script->typeIdResult;
    }
    HRESULT getRTTypeID(RTTypeID* out) override {
        *out = m_script->rt;
        return m_script->rtResult;
    }
    HRESULT initPrjHdl(IMC_PrjHdlHolder* holder) override {
        m_script->lastHolder = holder;
        return S_OK;
    }

private:
    std::shared_ptr<TypeScript> m_script;
};

class CScriptedFactory final : public zeb::ComObject<CScriptedFactory, IClassFactory> {
public:
    explicit CScriptedFactory(std::shared_ptr<TypeScript> script) : m_script(std::move(script)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++m_script->created;
        return CScriptedType::createInstance(outer, riid, ppv, m_script);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<TypeScript> m_script;
};

// A fresh class identifier or type identifier for each call.
inline GUID freshGuid() {
    static std::atomic<uint32_t> counter{1};
    GUID g = makeGuid("00000000-51C7-4D3A-8E55-7E57DA7A0000");
    g.Data1 = counter++;
    return g;
}

struct ScriptedClass {
    explicit ScriptedClass(std::string name, RTTypeID rt = RTTYPEID_INVALID,
                           GUID typeId = freshGuid())
        : clsid(freshGuid()), script(std::make_shared<TypeScript>()) {
        script->name = std::move(name);
        script->typeId = typeId;
        script->rt = rt;
        ComPtr<CScriptedFactory> factory;
        CScriptedFactory::createObject(&factory, script);
        CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    ~ScriptedClass() { CoRevokeClassObject(cookie); }
    ScriptedClass(const ScriptedClass&) = delete;
    ScriptedClass& operator=(const ScriptedClass&) = delete;

    CLSID clsid;
    std::shared_ptr<TypeScript> script;
    DWORD cookie = 0;
};

} // namespace zeb::test
