// Type objects call back into the installation while the container works
// on them: a dying object takes itself out of the cache, a factory or a
// message handler may look types up, remove or install them. The container
// must meet every such call in a consistent state.
#include "is/CZEBIntInstallation.h"
#include "platform/win/MessageQueue.h"
#include "samples/CSampleProjectHdl.h"
#include "tests/is/ScriptedType.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using zeb::test::freshGuid;
using zeb::test::ScriptedClass;

// pRet of removeTypeObjectFromCache for an identifier that is not installed,
// and for an object the cache still holds.
constexpr DWORD kNotInstalled = 0xBE020005;
constexpr DWORD kNotRemoved = 0xBE020007;

class ReentrantTypeObjects : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst), S_OK);
        ASSERT_EQ(CSampleProjectHdl::createObject(&hdl), S_OK);
        hdl->setInstallation(static_cast<IMC_Installation*>(inst.get()));
        ComPtr<IMC_PrjHdlHolder> holder;
        hdl->getProjectHdlHolder(&holder);
        inst->setPrjHdlHolder(holder);
    }
    void TearDown() override {
        inst.Release(); // cached objects die and call back through the handler
        hdl->setInstallation(nullptr);
    }
    CIsTypeCont& cont() { return inst->typeCont(); }
    // Installs the type and leaves its object in the cache as the only holder.
    GUID installCached(ScriptedClass& type) {
        GUID id{};
        EXPECT_EQ(cont().addType(TC_Library, type.clsid, id), IS_OK);
        ComPtr<IUnknown> obj;
        EXPECT_EQ(cont().getTypeByID(id, &obj), IS_OK);
        type.script->cacheCalls = 0; // count from here: the object addType made died already
        return id;
    }
    // The library types the installation reports by name map.
    DWORD librariesSeen() {
        DWORD count = 0;
        ZEB_TypeNameEntry* map = nullptr;
        EXPECT_EQ(inst->getTypeNameMapByClass(TC_Library, &count, &map), S_OK);
        for (DWORD i = 0; i < count; ++i)
            CoTaskMemFree(map[i].name);
        CoTaskMemFree(map);
        return count;
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> inst;
    ComPtr<CSampleProjectHdl> hdl;
};

TEST_F(ReentrantTypeObjects, ClearingLetsDyingObjectsCallBackIntoAnEmptyContainer) {
    std::vector<std::unique_ptr<ScriptedClass>> types;
    std::vector<DWORD> seen;
    for (int i = 0; i < 6; ++i) {
        types.push_back(std::make_unique<ScriptedClass>("Lib" + std::to_string(i) + ".1.0"));
        installCached(*types.back());
        types.back()->script->onDeath = [&] { seen.push_back(librariesSeen()); };
    }
    cont().clear();
    EXPECT_EQ(cont().size(), 0u);
    EXPECT_EQ(seen, std::vector<DWORD>(6, 0u)); // no entry visible while the entries die
    for (const auto& type : types) {
        EXPECT_EQ(type->script->alive, 0);
        EXPECT_EQ(type->script->cacheCalls, 1);
        EXPECT_EQ(type->script->lastCacheRet, kNotInstalled);
    }
}

TEST_F(ReentrantTypeObjects, DestroyingTheInstallationLetsDyingObjectsCallBack) {
    std::vector<std::unique_ptr<ScriptedClass>> types;
    for (int i = 0; i < 6; ++i) {
        types.push_back(std::make_unique<ScriptedClass>("Lib" + std::to_string(i) + ".1.0"));
        installCached(*types.back());
    }
    inst.Release();
    for (const auto& type : types) {
        EXPECT_EQ(type->script->alive, 0);
        EXPECT_EQ(type->script->cacheCalls, 1);
        EXPECT_EQ(type->script->lastCacheRet, kNotInstalled);
    }
}

TEST_F(ReentrantTypeObjects, RemovingATypeLetsItsDyingObjectFindItGone) {
    ScriptedClass lib("Lib.1.0"), other("Other.1.0");
    GUID id = installCached(lib);
    installCached(other);
    GUID foundByName{};
    lib.script->onDeath = [&] { foundByName = cont().getTypeIdByName("Lib.1.0"); };
    DWORD ret = 0;
    EXPECT_EQ(inst->removeType(id, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(lib.script->alive, 0);
    EXPECT_EQ(foundByName, GUID_NOTYPE);
    EXPECT_EQ(lib.script->lastCacheRet, kNotInstalled);
    EXPECT_EQ(other.script->cacheCalls, 0); // the other object stays cached
}

} // namespace
