#include "tests/platform/com/TestObjects.h"

#include "platform/com/ClassFactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// Takes and drops references while being built and torn down.
class CSelfReferencing final : public zeb::ComObject<CSelfReferencing, IProbe> {
public:
    static inline int finalReleases = 0;
    static inline HRESULT constructResult = S_OK;
    HRESULT FinalConstruct() {
        ComPtr<IUnknown> self(controllingUnknown());
        return constructResult;
    }
    void FinalRelease() {
        AddRef();
        Release();
        ++finalReleases;
    }
    HRESULT value(DWORD*) override { return S_OK; }
};

class CThrowing final : public zeb::ComObject<CThrowing, IProbe> {
public:
    CThrowing() { throw std::runtime_error("refused"); }
    HRESULT value(DWORD*) override { return S_OK; }
};

class CSolitary final : public zeb::SingleThreadComObject<CSolitary, IProbe> {
public:
    static constexpr bool aggregatable = false;
    HRESULT value(DWORD*) override { return S_OK; }
};

// An outer object that aggregates a CProbe and exposes its interfaces.
class COuter final : public zeb::ComObject<COuter, IOther> {
public:
    HRESULT FinalConstruct() {
        return CProbe::createInstance(controllingUnknown(), IID_IUnknown, out(m_inner));
    }
    HRESULT queryOtherInterface(REFIID riid, void** ppv) {
        if (riid == uuidof<IProbe>() || riid == uuidof<IProbeEx>())
            return m_inner->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }
    HRESULT other() override { return S_OK; }

private:
    ComPtr<IUnknown> m_inner;
};

TEST(ComObjectQueryInterface, AnswersListedAndChainedInterfacesWithOneIdentity) {
    {
        ComPtr<IProbeEx> ex;
        ASSERT_EQ(CProbe::createInstance(nullptr, uuidof<IProbeEx>(), out(ex)), S_OK);
        ComPtr<IProbe> probe;
        ASSERT_EQ(ex.QueryInterface(&probe), S_OK);
        DWORD v = 0;
        probe->value(&v);
        EXPECT_EQ(v, 7u);

        ComPtr<IUnknown> id1, id2;
        ex.QueryInterface(&id1);
        probe.QueryInterface(&id2);
        EXPECT_EQ(id1.get(), id2.get());

        IOther* other = reinterpret_cast<IOther*>(0x1);
        EXPECT_EQ(ex->QueryInterface(uuidof<IOther>(), reinterpret_cast<void**>(&other)),
                  E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(ex->QueryInterface(uuidof<IProbe>(), nullptr), E_POINTER);
        EXPECT_EQ(refCount(ex), 4u);
    }
    EXPECT_EQ(CProbe::live, 0);
}

TEST(ComObjectCreation, FailuresDestroyTheHalfBuiltObjectOnceAndReturnTheCode) {
    CSelfReferencing::finalReleases = 0;
    CSelfReferencing::constructResult = E_ACCESSDENIED;
    ComPtr<IProbe> p;
    EXPECT_EQ(CSelfReferencing::createInstance(nullptr, uuidof<IProbe>(), out(p)), E_ACCESSDENIED);
    EXPECT_FALSE(p);
    EXPECT_EQ(CSelfReferencing::finalReleases, 1);
    EXPECT_EQ(CThrowing::createInstance(nullptr, uuidof<IProbe>(), out(p)), E_FAIL);
    ComPtr<IOther> o;
    EXPECT_EQ(CProbe::createInstance(nullptr, uuidof<IOther>(), out(o)), E_NOINTERFACE);
    EXPECT_EQ(CProbe::live, 0);
    EXPECT_EQ(zeb::thisModule().objectCount(), 0);
}

TEST(ComObjectCreation, ReferencesTakenWhileBuildingAndTearingDownDoNotDestroyEarly) {
    CSelfReferencing::finalReleases = 0;
    CSelfReferencing::constructResult = S_OK;
    ComPtr<IProbe> p;
    ASSERT_EQ(CSelfReferencing::createInstance(nullptr, uuidof<IProbe>(), out(p)), S_OK);
    EXPECT_EQ(refCount(p), 1u);
    p.Release(); // ASan reports a second delete
    EXPECT_EQ(CSelfReferencing::finalReleases, 1);
}

TEST(ComObjectAggregation, OuterControlsIdentityAndLifetimeOfTheInnerObject) {
    {
        ComPtr<IOther> outer;
        ASSERT_EQ(COuter::createInstance(nullptr, uuidof<IOther>(), out(outer)), S_OK);
        ComPtr<IProbeEx> probe;
        ASSERT_EQ(outer.QueryInterface(&probe), S_OK);
        ComPtr<IOther> back;
        EXPECT_EQ(probe.QueryInterface(&back), S_OK);
        EXPECT_EQ(back.get(), outer.get());
        ComPtr<IUnknown> outerId, innerId;
        outer.QueryInterface(&outerId);
        probe.QueryInterface(&innerId);
        EXPECT_EQ(outerId.get(), innerId.get());
        EXPECT_EQ(refCount(outer), 5u); // every pointer, the probe's too, counts on the outer
    }
    EXPECT_EQ(CProbe::live, 0);
}

TEST(ComObjectAggregation, InnerUnknownDoesNotDelegateAndOnlyIUnknownMayBeAsked) {
    ComPtr<IOther> outerObject;
    ASSERT_EQ(COuter::createInstance(nullptr, uuidof<IOther>(), out(outerObject)), S_OK);
    ComPtr<IUnknown> inner, innerAgain;
    ASSERT_EQ(CProbe::createInstance(outerObject, IID_IUnknown, out(inner)), S_OK);
    inner.QueryInterface(&innerAgain);
    EXPECT_EQ(innerAgain.get(), inner.get()); // the outer's identity is not involved
    const ULONG outerBefore = refCount(outerObject);
    {
        ComPtr<IProbe> probe;
        ASSERT_EQ(inner.QueryInterface(&probe), S_OK);
        EXPECT_EQ(refCount(outerObject), outerBefore + 1); // its reference is the outer's
    }
    EXPECT_EQ(refCount(inner), 2u);

    ComPtr<IProbe> p;
    EXPECT_EQ(CProbe::createInstance(outerObject, uuidof<IProbe>(), out(p)), CLASS_E_NOAGGREGATION);
    ComPtr<IUnknown> u;
    EXPECT_EQ(CSolitary::createInstance(outerObject, IID_IUnknown, out(u)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CSolitary::createInstance(nullptr, IID_IUnknown, out(u)), S_OK);
}

TEST(ModuleCounter, CanUnloadOnlyWithoutLiveObjectsFactoryReferencesOrLocks) {
    zeb::ModuleCounter& module = zeb::thisModule();
    ASSERT_EQ(module.canUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(zeb::classObjectOf<CProbe>(IID_IClassFactory, out(factory)), S_OK);
    EXPECT_EQ(module.canUnloadNow(), S_FALSE); // a held factory is a lock

    ComPtr<IProbe> p;
    ASSERT_EQ(factory->CreateInstance(nullptr, uuidof<IProbe>(), out(p)), S_OK);
    factory->LockServer(TRUE);
    factory.Release();
    EXPECT_EQ(module.objectCount(), 1);
    EXPECT_EQ(module.lockCount(), 1);
    p.Release();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE);
    zeb::ClassFactory<CProbe>::instance().LockServer(FALSE);
    EXPECT_EQ(module.canUnloadNow(), S_OK);

    static constexpr zeb::ClassEntry classes[] = {zeb::classEntry<CProbe>(CLSID_Probe)};
    EXPECT_EQ(zeb::getClassObject(classes, CLSID_Probe, IID_IClassFactory, out(factory)), S_OK);
    ComPtr<IUnknown> none;
    EXPECT_EQ(zeb::getClassObject(classes, GUID_NULL, IID_IClassFactory, out(none)),
              CLASS_E_CLASSNOTAVAILABLE);
}

} // namespace

namespace {

// Listed in a table it holds no reference for, and leaves it in FinalRelease,
// as objects found by a timer or a posted request do.
class CListed final : public zeb::ComObject<CListed, IProbe> {
public:
    static inline std::mutex tableLock;
    static inline CListed* table = nullptr;
    static inline int refusedWhileDying = 0;
    CListed() {
        std::lock_guard lock(tableLock);
        table = this;
    }
    void FinalRelease() {
        // A lookup that reaches the object now must be turned away.
        if (!tryAddRefOwn()) ++refusedWhileDying;
        std::lock_guard lock(tableLock);
        table = nullptr;
    }
    HRESULT value(DWORD* out) override {
        *out = m_value;
        return S_OK;
    }
    DWORD m_value = 3;
};

} // namespace

TEST(ComObjectTryAddRef, ALiveObjectIsKeptAndADyingOneRefused) {
    CListed::refusedWhileDying = 0;
    ComPtr<CListed> obj;
    ASSERT_EQ(CListed::createObject(&obj), S_OK);
    EXPECT_TRUE(obj->tryAddRefOwn());
    EXPECT_EQ(refCount(obj), 2u);
    EXPECT_EQ(obj->releaseOwnReference(), 1u);
    obj.Release();
    EXPECT_EQ(CListed::refusedWhileDying, 1);
    EXPECT_EQ(CListed::table, nullptr);
}

TEST(ComObjectTryAddRef, ALookupRacingTheLastReleaseNeverUsesAFreedObject) {
    for (int round = 0; round < 200; ++round) {
        ComPtr<CListed> obj;
        ASSERT_EQ(CListed::createObject(&obj), S_OK);
        std::atomic<bool> go{false};
        std::thread finder([&] {
            while (!go)
                std::this_thread::yield();
            for (;;) {
                CListed* found = nullptr;
                {
                    std::lock_guard lock(CListed::tableLock);
                    if (CListed::table && CListed::table->tryAddRefOwn())
                        found = CListed::table;
                    else if (!CListed::table)
                        return;
                }
                if (found) {
                    DWORD v = 0;
                    found->value(&v); // ASan/TSan: never on freed memory
                    EXPECT_EQ(v, 3u);
                    found->releaseOwnReference();
                }
            }
        });
        go = true;
        obj.Release();
        finder.join();
    }
}
