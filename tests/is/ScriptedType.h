// Test doubles of type objects whose answers a test scripts: name,
// identifier, runtime identifier and failures. Their class object is
// registered in the process for the lifetime of a ScriptedClass.
//
//   ScriptedClass drive("Drive.1.0", RTTypeID{family, 1, 0});
//   cont.addType(TC_Device, drive.clsid, id);
//   EXPECT_EQ(drive.script->created, 1);
//
// Like real type objects they keep the project-handler holder they are
// given and, when they die, take themselves out of the installation's type
// cache (removeTypeObjectFromCache through the project handler), on whatever
// thread the last reference goes; the installation's answer is recorded.
// Hooks let a test make them re-enter the installation while they are
// created or die. With `installStep` set the object also offers the internal
// type interface and finishes its installation step on a worker thread.
#pragma once

#include "h/IMC_Installation.h"
#include "h/IMC_TypeObject.h"
#include "h/ResultCodes.h"
#include "platform/com/Activation.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/Threading.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

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
    HRESULT createResult = S_OK;            // the class object's answer when it fails
    IMC_PrjHdlHolder* lastHolder = nullptr; // as passed to initPrjHdl

    // Run by the class object before it creates an object, and by a dying
    // object before it calls the installation back.
    std::function<void()> onCreate;
    std::function<void()> onDeath;
    // Run by an object when it is asked for its runtime identifier.
    std::function<void()> onRuntimeId;
    // The installation's answers to the cache calls of dying objects.
    std::atomic<int> cacheCalls{0};
    std::atomic<DWORD> lastCacheRet{0};

    // Installation step: the object offers IMC_InternalType; a worker thread
    // runs onStep, then reports stepResult through processFinished once
    // stepGate is signalled (at once when null; it gives up waiting after ten
    // seconds).
    bool installStep = false;
    std::function<void()> onStep;
    HANDLE stepGate = nullptr;
    HRESULT stepResult = S_OK;
    std::atomic<int> steps{0};
};

template <class Derived, class... Extra>
class CScriptedTypeBase
    : public zeb::ComObject<Derived, IMC_TypeIdent, IMC_RTTypeIdent, IMC_InitPrjHdl, Extra...> {
public:
    explicit CScriptedTypeBase(std::shared_ptr<TypeScript> script) : m_script(std::move(script)) {
        ++m_script->alive;
    }
    ~CScriptedTypeBase() { --m_script->alive; }
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
        if (m_script->onRuntimeId) m_script->onRuntimeId();
        *out = m_script->rt;
        return m_script->rtResult;
    }
    HRESULT initPrjHdl(IMC_PrjHdlHolder* holder) override {
        m_script->lastHolder = holder;
        m_spIHolder = holder;
        return S_OK;
    }

    // The type object's obligation toward the cache when it dies.
    void FinalRelease() {
        if (m_script->onDeath) m_script->onDeath();
        if (!m_spIHolder) return;
        ComPtr<IUnknown> spIHdl;
        if (m_spIHolder->getPrjHdl(&spIHdl) != S_OK || !spIHdl) return;
        ComQIPtr<IMC_InternalInstallation> spIInst(spIHdl);
        if (!spIInst) return;
        DWORD ret = 0;
        spIInst->removeTypeObjectFromCache(m_script->typeId, ACCESS_TYPE_STORAGE,
                                           static_cast<IMC_TypeIdent*>(this), &ret);
        m_script->lastCacheRet = ret;
        ++m_script->cacheCalls;
    }

protected:
    std::shared_ptr<TypeScript> m_script;
    ComPtr<IMC_PrjHdlHolder> m_spIHolder;
};

class CScriptedType final : public CScriptedTypeBase<CScriptedType> {
public:
    using CScriptedTypeBase::CScriptedTypeBase;
};

class CScriptedStepType final : public CScriptedTypeBase<CScriptedStepType, IMC_InternalType> {
public:
    using CScriptedTypeBase::CScriptedTypeBase;
    ~CScriptedStepType() {
        if (m_worker.joinable()) m_worker.join();
    }
    HRESULT OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) override {
        if (!pdwRet) return E_POINTER;
        *pdwRet = 0;
        ++m_script->steps;
        if (!pICallback) return S_OK;
        if (m_worker.joinable()) m_worker.join();
        ComPtr<IMC_ProcessProgress> spICallback(pICallback);
        std::shared_ptr<TypeScript> script = m_script;
        m_worker = std::thread([spICallback, script] {
            if (script->onStep) script->onStep();
            if (script->stepGate) WaitForSingleObject(script->stepGate, 10000);
            spICallback->processFinished(script->stepResult);
        });
        return S_OK;
    }
    HRESULT getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) override {
        *pCount = 0;
        *ppTypeIds = nullptr;
        *pRet = 0;
        return S_OK;
    }

private:
    std::thread m_worker;
};

class CScriptedFactory final : public zeb::ComObject<CScriptedFactory, IClassFactory> {
public:
    explicit CScriptedFactory(std::shared_ptr<TypeScript> script) : m_script(std::move(script)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++m_script->created;
        if (m_script->onCreate) m_script->onCreate();
        if (FAILED(m_script->createResult)) {
            if (ppv) *ppv = nullptr;
            return m_script->createResult;
        }
        if (m_script->installStep)
            return CScriptedStepType::createInstance(outer, riid, ppv, m_script);
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
