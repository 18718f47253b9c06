#include "tests/platform/com/TestObjects.h"

#include "platform/com/Activation.h"
#include "platform/com/GlobalInterfaceTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

TEST(GlobalInterfaceTable, CookieFromOneTableAndThreadIsServedByTheOtherOnAnyThread) {
    ComPtr<IGlobalInterfaceTable> standard;
    ComPtr<IZEBGlobalInterfaceTable> product;
    ASSERT_EQ(standard.CoCreateInstance(CLSID_StdGlobalInterfaceTable), S_OK);
    ASSERT_EQ(product.CoCreateInstance(CLSID_ZEBGlobalInterfaceTableMTA), S_OK);
    ComPtr<IZEBGlobalInterfaceTable> notProduct;
    EXPECT_EQ(standard.QueryInterface(&notProduct), E_NOINTERFACE);

    DWORD cookie = 0;
    {
        ComPtr<IProbe> probe;
        ASSERT_EQ(CProbe::createInstance(nullptr, uuidof<IProbe>(), out(probe)), S_OK);
        ASSERT_EQ(product->RegisterInterfaceInGlobal(probe, uuidof<IProbe>(), &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
    }
    EXPECT_EQ(CProbe::live, 1); // the table keeps it alive

    std::thread([&] {
        ComPtr<IProbeEx> ex;
        ASSERT_EQ(standard->GetInterfaceFromGlobal(cookie, uuidof<IProbeEx>(), out(ex)), S_OK);
        DWORD v = 0;
        ex->twice(&v);
        EXPECT_EQ(v, 14u);
        ComPtr<IOther> other;
        EXPECT_EQ(standard->GetInterfaceFromGlobal(cookie, uuidof<IOther>(), out(other)),
                  E_NOINTERFACE);
        EXPECT_FALSE(other);
    }).join();

    EXPECT_EQ(standard->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(CProbe::live, 0);
    ComPtr<IProbe> gone;
    EXPECT_EQ(product->GetInterfaceFromGlobal(cookie, uuidof<IProbe>(), out(gone)), E_INVALIDARG);
    EXPECT_EQ(product->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
}

TEST(GlobalInterfaceTable, ConcurrentUseGivesDistinctCookiesAndLeavesNothingBehind) {
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(git.CoCreateInstance(CLSID_StdGlobalInterfaceTable), S_OK);
    constexpr int kThreads = 4, kRounds = 200;
    std::vector<std::vector<DWORD>> cookies(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                ComPtr<IProbe> probe;
                CProbe::createInstance(nullptr, uuidof<IProbe>(), out(probe));
                DWORD cookie = 0;
                EXPECT_EQ(git->RegisterInterfaceInGlobal(probe, uuidof<IProbe>(), &cookie), S_OK);
                cookies[t].push_back(cookie);
            }
            for (DWORD cookie : cookies[t]) {
                ComPtr<IProbe> back;
                EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, uuidof<IProbe>(), out(back)), S_OK);
                EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
            }
        });
    for (auto& t : threads)
        t.join();
    std::vector<DWORD> all;
    for (auto& c : cookies)
        all.insert(all.end(), c.begin(), c.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(CProbe::live, 0);
}

TEST(GlobalInterfaceTable, RefusesBadArgumentsAndAggregation) {
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(git.CoCreateInstance(CLSID_StdGlobalInterfaceTable), S_OK);
    ComPtr<IProbe> probe;
    ASSERT_EQ(CProbe::createInstance(nullptr, uuidof<IProbe>(), out(probe)), S_OK);
    DWORD cookie = 7;
    EXPECT_EQ(git->RegisterInterfaceInGlobal(nullptr, uuidof<IProbe>(), &cookie), E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(git->RegisterInterfaceInGlobal(probe, uuidof<IProbe>(), nullptr), E_INVALIDARG);
    EXPECT_EQ(git->RegisterInterfaceInGlobal(probe, uuidof<IOther>(), &cookie), E_NOINTERFACE);
    EXPECT_EQ(git->GetInterfaceFromGlobal(0, uuidof<IProbe>(), nullptr), E_POINTER);
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(0), E_INVALIDARG);
    EXPECT_EQ(refCount(probe), 1u);

    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, probe, CLSCTX_ALL, IID_IUnknown,
                               out(aggregated)),
              CLASS_E_NOAGGREGATION);
}

} // namespace
