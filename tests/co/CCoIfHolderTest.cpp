// CCoIfHolder over the global interface tables, observed through spies that
// stand in for both table classes and forward to the runtime's own table.
#include "co/CCoIfHolder.h"
#include "platform/com/Activation.h"
#include "platform/com/GlobalInterfaceTable.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

namespace {

// An object whose references can be counted from outside.
class Counted final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override { return --m_refs; } // lives on the test's stack
    ULONG refs() const { return m_refs; }

private:
    std::atomic<ULONG> m_refs{1};
};

// Forwards to the runtime's table, counting calls; can fail or throw on
// Register and hold a Get until released.
class TableSpy final : public IZEBGlobalInterfaceTable {
public:
    explicit TableSpy(ComPtr<IGlobalInterfaceTable> real) : m_real(std::move(real)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IGlobalInterfaceTable &&
            riid != IID_IZEBGlobalInterfaceTable)
            return E_NOINTERFACE;
        *ppv = static_cast<IZEBGlobalInterfaceTable*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; } // owned by the fixture
    ULONG Release() override { return 1; }

    HRESULT RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
        if (throwOnRegister) throw std::runtime_error("register");
        if (FAILED(registerResult)) return registerResult;
        return m_real->RegisterInterfaceInGlobal(pUnk, riid, pdwCookie);
    }
    HRESULT RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        ++revokes;
        return m_real->RevokeInterfaceFromGlobal(dwCookie);
    }
    HRESULT GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
        ++gets;
        if (holdGets) {
            entered.set_value();
            release.wait();
        }
        return m_real->GetInterfaceFromGlobal(dwCookie, riid, ppv);
    }

    std::atomic<int> revokes{0}, gets{0};
    HRESULT registerResult = S_OK;
    bool throwOnRegister = false;
    bool holdGets = false;
    std::promise<void> entered;
    std::shared_future<void> release;

private:
    ComPtr<IGlobalInterfaceTable> m_real;
};

// The class object of one table class: counts creations, can refuse them.
class TableFactory final : public IClassFactory {
public:
    explicit TableFactory(TableSpy& spy) : m_spy(spy) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++creations;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(createResult)) {
            *ppv = nullptr;
            return createResult;
        }
        return m_spy.QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

    std::atomic<int> creations{0};
    HRESULT createResult = S_OK;

private:
    TableSpy& m_spy;
};

ComPtr<IGlobalInterfaceTable> runtimeTable() {
    ComPtr<IGlobalInterfaceTable> table;
    EXPECT_EQ(table.CoCreateInstance(CLSID_StdGlobalInterfaceTable), S_OK);
    return table;
}

// Puts spies in place of both table classes for its lifetime.
struct SpiedTables {
    TableSpy spy{runtimeTable()};
    TableFactory mta{spy}, standard{spy};
    DWORD mtaCookie = 0, stdCookie = 0;

    SpiedTables() {
        CoRegisterClassObject(CLSID_ZEBGlobalInterfaceTableMTA, &mta, CLSCTX_ALL,
                              REGCLS_MULTIPLEUSE, &mtaCookie);
        CoRegisterClassObject(CLSID_StdGlobalInterfaceTable, &standard, CLSCTX_ALL,
                              REGCLS_MULTIPLEUSE, &stdCookie);
    }
    ~SpiedTables() {
        CoRevokeClassObject(mtaCookie);
        CoRevokeClassObject(stdCookie);
    }
};

class IfHolder : public ::testing::Test {
protected:
    SpiedTables tables;
    TableSpy& spy = tables.spy;
    Counted a, b;
};

} // namespace

TEST_F(IfHolder, AnEmptyHolderGivesNullWithoutCreatingATable) {
    CCoIfHolder holder;
    EXPECT_EQ(holder.getInterface(), nullptr);
    holder.clear();
    EXPECT_EQ(holder.getInterface(), nullptr);
    EXPECT_EQ(tables.mta.creations + tables.standard.creations, 0);
}

TEST_F(IfHolder, AnInterfaceSetOnOneThreadIsUsableOnAnother) {
    CCoIfHolder holder;
    ASSERT_TRUE(holder.setInterface(&a));
    EXPECT_EQ(a.refs(), 2u); // the table's reference
    IUnknown* seen = nullptr;
    std::thread([&] {
        ComPtr<IUnknown> spIf = holder.getInterface();
        seen = spIf.get();
    }).join();
    EXPECT_EQ(seen, &a);
    EXPECT_EQ(a.refs(), 2u);
}

TEST_F(IfHolder, ReplacingOrClearingRevokesTheOldRegistration) {
    {
        CCoIfHolder holder;
        ASSERT_TRUE(holder.setInterface(&a));
        ASSERT_TRUE(holder.setInterface(&b));
        EXPECT_EQ(a.refs(), 1u);
        EXPECT_EQ(holder.getInterface().get(), &b);
        ASSERT_TRUE(holder.setInterface(nullptr));
        EXPECT_EQ(b.refs(), 1u);
        EXPECT_EQ(holder.getInterface(), nullptr);
        ASSERT_TRUE(holder.setInterface(&a));
    }
    EXPECT_EQ(a.refs(), 1u); // destroying the holder revoked too
    EXPECT_EQ(spy.revokes, 3);
}

TEST_F(IfHolder, ClearingWaitsWithTheRevocationUntilARunningGetIsDone) {
    CCoIfHolder holder;
    ASSERT_TRUE(holder.setInterface(&a));
    spy.holdGets = true;
    std::promise<void> releaseGet;
    spy.release = releaseGet.get_future().share();
    std::future<void> inGet = spy.entered.get_future();

    IUnknown* seen = nullptr;
    std::thread getter([&] { seen = holder.getInterface().get(); });
    inGet.wait();
    EXPECT_TRUE(holder.setInterface(nullptr)); // does not wait for the getter
    EXPECT_EQ(spy.revokes, 0);                 // the getter still uses the cookie
    releaseGet.set_value();
    getter.join();
    EXPECT_EQ(seen, &a);
    EXPECT_EQ(spy.revokes, 1);
    EXPECT_EQ(a.refs(), 1u);
}

TEST_F(IfHolder, AFailedSetKeepsThePreviousInterface) {
    CCoIfHolder holder;
    ASSERT_TRUE(holder.setInterface(&a));

    spy.registerResult = E_OUTOFMEMORY;
    EXPECT_FALSE(holder.setInterface(&b));
    spy.registerResult = S_OK;
    spy.throwOnRegister = true;
    EXPECT_FALSE(holder.setInterface(&b));
    spy.throwOnRegister = false;
    tables.mta.createResult = E_ACCESSDENIED;
    EXPECT_FALSE(holder.setInterface(&b));

    EXPECT_EQ(holder.getInterface().get(), &a);
    EXPECT_EQ(b.refs(), 1u);
    EXPECT_EQ(spy.revokes, 0);
}

TEST_F(IfHolder, AFailedRetrievalGivesNull) {
    CCoIfHolder holder;
    ASSERT_TRUE(holder.setInterface(&a));
    tables.standard.createResult = E_OUTOFMEMORY;
    EXPECT_EQ(holder.getInterface(), nullptr);
    EXPECT_EQ(spy.gets, 0);
    EXPECT_EQ(a.refs(), 2u);
}

// A failing registration and a failing table creation, traced at level 4.
ZEB_CHILD_SCENARIO(ifHolderFailures) {
    SpiedTables tables;
    Counted a;
    CCoIfHolder holder;
    tables.spy.registerResult = E_FAIL;
    holder.setInterface(&a);
    tables.spy.registerResult = S_OK;
    tables.spy.throwOnRegister = true;
    holder.setInterface(&a);
    tables.spy.throwOnRegister = false;
    holder.setInterface(&a);
    tables.standard.createResult = REGDB_E_CLASSNOTREG;
    holder.getInterface();
    return "";
}

TEST(IfHolderTraces, FailuresAreTracedWithTheCallAndItsResult) {
    zeb::test::TempDir dir;
    const std::string traceFile = dir.file("trace.txt");
    auto result = zeb::test::runChildScenario("ifHolderFailures",
                                              {{"ZEB_TRACE", "4"}, {"ZEB_TRACE_FILE", traceFile}});
    ASSERT_EQ(result.exitCode, 0);
    const std::string trace = zeb::test::readFile(traceFile);
    for (const char* text :
         {"error calling spIGIT->RegisterInterfaceInGlobal(pIf, __uuidof(_TCLASS), &dwCookie) hr "
          "= 0x80004005 (Unspecified error)",
          "caught exception calling spIGIT->RegisterInterfaceInGlobal(pIf, __uuidof(_TCLASS), "
          "&dwCookie)",
          "error calling spIGIT.CoCreateInstance(CLSID_StdGlobalInterfaceTable) hr = 0x80040154 "
          "(Class not registered)",
          "co_ifcookie"})
        EXPECT_NE(trace.find(text), std::string::npos) << text << "\n" << trace;
}
