// Test doubles of tool objects: a class object registered in the process for
// the lifetime of a ScriptedTool, making a new tool object per request.
//
//   ScriptedTool trace;
//   tools.addTool(id, u"Trace.1.0", trace.clsid, 0);
//   EXPECT_EQ(trace.script->created, 1);
//
// Like real tool components they may call the installation back while they
// are made or when they die: the hooks run then (onCreate before the object
// exists, onDeath when its last reference goes).
#pragma once

#include "platform/com/Activation.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "tests/is/ScriptedType.h"

#include <atomic>
#include <functional>
#include <memory>

namespace zeb::test {

// What the tests ask of a tool object: which one it is.
struct ITestTool : IUnknown {
    static constexpr IID iid = makeGuid("7E57700C-0000-4000-8000-000000000001");
    virtual int serial() = 0;
};

struct ToolScript {
    std::atomic<int> created{0};
    std::atomic<int> alive{0};
    HRESULT createResult = S_OK; // the class object's answer when it fails
    std::function<void()> onCreate;
    std::function<void()> onDeath;
};

class CScriptedTool final : public zeb::ComObject<CScriptedTool, ITestTool> {
public:
    explicit CScriptedTool(std::shared_ptr<ToolScript> script)
        : m_script(std::move(script)), m_serial(++m_script->created) {
        ++m_script->alive;
    }
    ~CScriptedTool() { --m_script->alive; }
    void FinalRelease() {
        if (m_script->onDeath) m_script->onDeath();
    }
    int serial() override { return m_serial; }

private:
    std::shared_ptr<ToolScript> m_script;
    int m_serial;
};

class CScriptedToolFactory final : public zeb::ComObject<CScriptedToolFactory, IClassFactory> {
public:
    explicit CScriptedToolFactory(std::shared_ptr<ToolScript> script)
        : m_script(std::move(script)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (m_script->onCreate) m_script->onCreate();
        if (FAILED(m_script->createResult)) {
            if (ppv) *ppv = nullptr;
            return m_script->createResult;
        }
        return CScriptedTool::createInstance(outer, riid, ppv, m_script);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<ToolScript> m_script;
};

struct ScriptedTool {
    ScriptedTool() : clsid(freshGuid()), script(std::make_shared<ToolScript>()) {
        ComPtr<CScriptedToolFactory> factory;
        CScriptedToolFactory::createObject(&factory, script);
        CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    ~ScriptedTool() { CoRevokeClassObject(cookie); }
    ScriptedTool(const ScriptedTool&) = delete;
    ScriptedTool& operator=(const ScriptedTool&) = delete;

    CLSID clsid;
    std::shared_ptr<ToolScript> script;
    DWORD cookie = 0;
};

} // namespace zeb::test
