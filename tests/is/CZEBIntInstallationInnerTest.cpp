// The installation made as the engineering system makes it: aggregated by a
// project handler, aggregating the inner object, which both lie outside the
// registry (doubles here).
#include "h/IMC_ProjectHdl.h"
#include "is/CZEBIntInstallation.h"
#include "platform/com/Activation.h"
#include "platform/com/ClassFactory.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

// One of the inner object's own interfaces that the installation hands on.
struct IOemDelegateA : IUnknown {
    static constexpr IID iid = IID_BasisESOemDelegateA;
    virtual HRESULT whoAmI(IUnknown** ppOuter) = 0;
};

enum class Behaviour { Succeed, Fail, Throw };

// What the doubles do, set by each test (the class factory makes them).
struct Script {
    Behaviour create = Behaviour::Succeed; // the inner object's creation
    Behaviour init = Behaviour::Succeed;   // its initPrjHdl
    Behaviour holder = Behaviour::Succeed; // the handler's getProjectHdlHolder
    bool innerHasInit = true;
};
Script g_script;
std::atomic<int> g_innerAlive{0};
std::atomic<int> g_initCalls{0};
IMC_PrjHdlHolder* g_initHolder = nullptr;

class CTestInnerObject final
    : public zeb::ComObject<CTestInnerObject, IMC_InitPrjHdl, IOemDelegateA> {
public:
    CTestInnerObject() {
        if (g_script.create == Behaviour::Throw) throw std::runtime_error("inner");
        ++g_innerAlive;
    }
    ~CTestInnerObject() { --g_innerAlive; }
    HRESULT FinalConstruct() { return g_script.create == Behaviour::Fail ? E_OUTOFMEMORY : S_OK; }
    HRESULT queryOtherInterface(REFIID, void** ppv) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT initPrjHdl(IMC_PrjHdlHolder* pIHolder) override {
        ++g_initCalls;
        g_initHolder = pIHolder;
        if (g_script.init == Behaviour::Throw) throw std::runtime_error("init");
        return g_script.init == Behaviour::Fail ? E_UNEXPECTED : S_OK;
    }
    HRESULT whoAmI(IUnknown** ppOuter) override {
        *ppOuter = controllingUnknown();
        (*ppOuter)->AddRef();
        return S_OK;
    }
};

// The inner object without its initialisation interface.
class CTestBareInnerObject final : public zeb::ComObject<CTestBareInnerObject, IOemDelegateA> {
public:
    CTestBareInnerObject() { ++g_innerAlive; }
    ~CTestBareInnerObject() { --g_innerAlive; }
    HRESULT whoAmI(IUnknown** ppOuter) override {
        *ppOuter = controllingUnknown();
        (*ppOuter)->AddRef();
        return S_OK;
    }
};

class CTestHolder final : public zeb::ComObject<CTestHolder, IMC_PrjHdlHolder> {
public:
    HRESULT getPrjHdl(IUnknown**) override { return E_NOTIMPL; }
};

// A project handler that aggregates the installation, as the engineering
// system's handler does: it answers IMC_InternalProjectHdl itself and hands
// every other query to the installation.
class CTestProjectHdl final : public zeb::ComObject<CTestProjectHdl, IMC_InternalProjectHdl> {
public:
    CTestProjectHdl(std::string dir) : m_dir(std::move(dir)) {}
    HRESULT FinalConstruct() {
        CTestHolder::createObject(&m_holder);
        return CZEBIntInstallation::createInstance(controllingUnknown(), IID_IUnknown,
                                                   reinterpret_cast<void**>(&m_inst), m_dir);
    }
    void FinalRelease() { m_inst.Release(); }
    HRESULT queryOtherInterface(REFIID riid, void** ppv) {
        if (!m_inst) return *ppv = nullptr, E_NOINTERFACE;
        return m_inst->QueryInterface(riid, ppv);
    }
    HRESULT createInterfaceByCLSID(CLSID, DWORD, IUnknown**, DWORD*) override { return E_NOTIMPL; }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getProjectHdlHolder(IMC_PrjHdlHolder** ppIHolder) override {
        if (g_script.holder == Behaviour::Throw) throw std::runtime_error("holder");
        if (g_script.holder == Behaviour::Fail) return E_ACCESSDENIED;
        *ppIHolder = m_holder.get();
        (*ppIHolder)->AddRef();
        return S_OK;
    }
    ComPtr<CTestHolder> m_holder;

private:
    std::string m_dir;
    ComPtr<IUnknown> m_inst;
};

// Registers the inner object's class in this process for one test.
template <class Inner> struct RegisteredInner {
    RegisteredInner() {
        EXPECT_EQ(CoRegisterClassObject(CLSID_CBasisESOemObj, &zeb::ClassFactory<Inner>::instance(),
                                        CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
    }
    ~RegisteredInner() { CoRevokeClassObject(cookie); }
    DWORD cookie = 0;
};

class InstallationInner : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = {};
        g_initCalls = 0;
        g_initHolder = nullptr;
    }
    void TearDown() override {
        EXPECT_EQ(g_innerAlive, 0) << "an inner object outlived its installation";
    }
    HRESULT makeHandler(ComPtr<IUnknown>& out) {
        return CTestProjectHdl::createInstance(nullptr, IID_IUnknown,
                                               reinterpret_cast<void**>(&out), dir.path());
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
};

TEST_F(InstallationInner, AggregatedByAHandlerTheInnerObjectGetsTheHolderAndServesItsInterfaces) {
    RegisteredInner<CTestInnerObject> inner;
    ComPtr<IUnknown> hdl;
    ASSERT_EQ(makeHandler(hdl), S_OK);
    // The installation's interfaces are the handler's, and so are the inner
    // object's: one identity for all three objects.
    ComPtr<IMC_Installation> inst;
    ASSERT_EQ(hdl->QueryInterface(uuidof<IMC_Installation>(), reinterpret_cast<void**>(&inst)),
              S_OK);
    ComPtr<IOemDelegateA> delegate;
    ASSERT_EQ(inst->QueryInterface(IID_BasisESOemDelegateA, reinterpret_cast<void**>(&delegate)),
              S_OK);
    ComPtr<IUnknown> outer, identity;
    ASSERT_EQ(delegate->whoAmI(&outer), S_OK);
    inst->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(outer.get(), hdl.get());
    EXPECT_EQ(identity.get(), hdl.get());
    // The second delegated interface is the inner object's to answer (it has none).
    ComPtr<IUnknown> other;
    EXPECT_EQ(inst->QueryInterface(IID_BasisESOemDelegateB, reinterpret_cast<void**>(&other)),
              E_NOINTERFACE);

    ComPtr<IMC_InternalProjectHdl> intHdl;
    hdl->QueryInterface(uuidof<IMC_InternalProjectHdl>(), reinterpret_cast<void**>(&intHdl));
    auto* testHdl = static_cast<CTestProjectHdl*>(intHdl.get());
    EXPECT_EQ(g_initCalls, 1);
    EXPECT_EQ(g_initHolder, static_cast<IMC_PrjHdlHolder*>(testHdl->m_holder.get()));
    EXPECT_EQ(static_cast<CZEBIntInstallation*>(inst.get())->typeCont().getPrjHdlHolder(),
              g_initHolder);
    EXPECT_EQ(g_innerAlive, 1);

    delegate.Release();
    inst.Release();
    intHdl.Release();
    identity.Release();
    outer.Release();
    hdl.Release();
    EXPECT_EQ(g_innerAlive, 0);
}

TEST_F(InstallationInner, MadeOnItsOwnThereIsNoHolderButTheInnerObjectServes) {
    RegisteredInner<CTestInnerObject> inner;
    ComPtr<CZEBIntInstallation> inst;
    ASSERT_EQ(CZEBIntInstallation::createObject(&inst, dir.path()), S_OK);
    EXPECT_EQ(g_initCalls, 0);
    EXPECT_EQ(inst->typeCont().getPrjHdlHolder(), nullptr);
    ComPtr<IOemDelegateA> delegate;
    ASSERT_EQ(inst->QueryInterface(IID_BasisESOemDelegateA, reinterpret_cast<void**>(&delegate)),
              S_OK);
    ComPtr<IUnknown> outer;
    delegate->whoAmI(&outer);
    EXPECT_EQ(outer.get(), static_cast<IUnknown*>(static_cast<IMC_Installation*>(inst.get())));
}

TEST_F(InstallationInner, AnInnerObjectWithoutItsInitialisationInterfaceIsKept) {
    RegisteredInner<CTestBareInnerObject> inner;
    ComPtr<IUnknown> hdl;
    ASSERT_EQ(makeHandler(hdl), S_OK);
    ComPtr<IOemDelegateA> delegate;
    EXPECT_EQ(hdl->QueryInterface(IID_BasisESOemDelegateA, reinterpret_cast<void**>(&delegate)),
              S_OK);
}

TEST_F(InstallationInner, WithoutTheInnerObjectsClassTheInstallationGoesOnWithoutIt) {
    ComPtr<CZEBIntInstallation> inst;
    ASSERT_EQ(CZEBIntInstallation::createObject(&inst, dir.path()), S_OK);
    EXPECT_EQ(inst->innerObject(), nullptr);
    ComPtr<IUnknown> delegate;
    EXPECT_EQ(inst->QueryInterface(IID_BasisESOemDelegateA, reinterpret_cast<void**>(&delegate)),
              E_NOINTERFACE);
    EXPECT_TRUE(inst->isFileOpen());
}

TEST_F(InstallationInner, AFailingStepFailsTheCreationWithItsResult) {
    struct Case {
        Script script;
        HRESULT expected;
    } cases[] = {
        {{Behaviour::Fail, Behaviour::Succeed, Behaviour::Succeed, true}, E_OUTOFMEMORY},
        {{Behaviour::Throw, Behaviour::Succeed, Behaviour::Succeed, true}, E_FAIL},
        {{Behaviour::Succeed, Behaviour::Fail, Behaviour::Succeed, true}, E_UNEXPECTED},
        {{Behaviour::Succeed, Behaviour::Throw, Behaviour::Succeed, true}, E_FAIL},
        {{Behaviour::Succeed, Behaviour::Succeed, Behaviour::Fail, true}, E_ACCESSDENIED},
        {{Behaviour::Succeed, Behaviour::Succeed, Behaviour::Throw, true}, E_FAIL},
    };
    RegisteredInner<CTestInnerObject> inner;
    int n = 0;
    for (const Case& c : cases) {
        g_script = c.script;
        ComPtr<IUnknown> hdl;
        EXPECT_EQ(makeHandler(hdl), c.expected) << "case " << n;
        EXPECT_EQ(hdl.get(), nullptr);
        EXPECT_EQ(g_innerAlive, 0) << "case " << n << ": the half-made objects were not freed";
        ++n;
    }
}

ZEB_CHILD_SCENARIO(innerObjectFailures) {
    zeb::test::TempDir dir;
    RegisteredInner<CTestInnerObject> inner;
    g_script.create = Behaviour::Fail;
    ComPtr<IUnknown> hdl;
    CTestProjectHdl::createInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&hdl),
                                    dir.path());
    g_script = {};
    g_script.holder = Behaviour::Throw;
    CTestProjectHdl::createInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&hdl),
                                    dir.path());
    g_script = {};
    g_script.init = Behaviour::Fail;
    CTestProjectHdl::createInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&hdl),
                                    dir.path());
    g_script = {};
    g_script.init = Behaviour::Throw;
    CTestProjectHdl::createInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&hdl),
                                    dir.path());
    return "";
}

TEST(InstallationInnerTraces, EachFailingStepIsTracedWithTheCallItMade) {
    auto run = zeb::test::runTraced("innerObjectFailures");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.linesWith("error calling m_spIInnerUnk.CoCreateInstance(CLSID_CBasisESOemObj, "
                            "GetControllingUnknown()) hr = 0x8007000E")
                  .size(),
              1u)
        << run.text;
    EXPECT_EQ(
        run.linesWith("caught exception calling spIIntHdl->getProjectHdlHolder(&spIHolder)").size(),
        1u);
    EXPECT_EQ(run.linesWith("error calling spIIntHdl->getProjectHdlHolder(&spIHolder) hr = "
                            "0x80004005")
                  .size(),
              1u);
    EXPECT_EQ(
        run.linesWith("error calling spIOEMInit->initPrjHdl(spIHolder) hr = 0x8000FFFF").size(),
        1u);
    EXPECT_EQ(run.linesWith("caught exeption calling spIOEMInit->initPrjHdl(spIHolder)").size(),
              1u);
}

} // namespace
