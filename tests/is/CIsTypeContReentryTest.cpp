// Type objects call back into the installation while the container works
// on them: a dying object takes itself out of the cache, a factory or a
// message handler may look types up, remove or install them. The container
// must meet every such call in a consistent state.
#include "platform/win/MessageQueue.h"
#include "tests/is/HandledInstallation.h"
#include "tests/is/ScriptedType.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

using zeb::test::freshGuid;
using zeb::test::ScriptedClass;

// pRet of removeTypeObjectFromCache for an identifier that is not installed.
constexpr DWORD kNotInstalled = 0xBE020005;

DWORD g_now = 5000000;
DWORD fakeTick() {
    return g_now;
}
bool g_memoryLow = false;
bool fakeMemory(DWORDLONG, DWORD) {
    return g_memoryLow;
}

// A message handler of the test's thread: a thread timer that runs the
// action once, as soon as the thread dispatches messages (the refresh's
// wait does), and then signals `done`.
class MessageHandler {
public:
    explicit MessageHandler(std::function<void()> action)
        : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_action(std::move(action)) {
        s_current = this;
        m_id = SetTimer(nullptr, 0, 10, &MessageHandler::onTimer);
    }
    ~MessageHandler() {
        if (m_id) KillTimer(nullptr, m_id);
        s_current = nullptr;
        CloseHandle(done);
    }
    MessageHandler(const MessageHandler&) = delete;
    MessageHandler& operator=(const MessageHandler&) = delete;
    HANDLE done;

private:
    static void onTimer(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        MessageHandler* self = s_current;
        if (!self) return;
        self->m_id = 0;
        self->m_action();
        SetEvent(self->done);
    }
    static inline MessageHandler* s_current = nullptr;
    std::function<void()> m_action;
    UINT_PTR m_id = 0;
};

class ReentrantTypeObjects : public zeb::test::HandledInstallation {
protected:
    void SetUp() override {
        HandledInstallation::SetUp();
        m_oldTick = CIsBaseInstallEntry::setTickSource(&fakeTick);
        m_oldProbe = CIsTypeCont::setMemoryProbe(&fakeMemory);
        g_memoryLow = false;
    }
    void TearDown() override {
        HandledInstallation::TearDown();
        CIsBaseInstallEntry::setTickSource(m_oldTick);
        CIsTypeCont::setMemoryProbe(m_oldProbe);
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

    CIsBaseInstallEntry::TickSource m_oldTick = nullptr;
    CIsTypeCont::MemoryProbe m_oldProbe = nullptr;
};

TEST_F(ReentrantTypeObjects, ClearingAndDestructionLetDyingObjectsCallBackIntoAnEmptyContainer) {
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
        type->script->onDeath = nullptr;
        installCached(*type);
    }
    inst.Release(); // the destructor empties the container the same way
    for (const auto& type : types) {
        EXPECT_EQ(type->script->alive, 0);
        EXPECT_EQ(type->script->cacheCalls, 1);
        EXPECT_EQ(type->script->lastCacheRet, kNotInstalled);
    }
}

TEST_F(ReentrantTypeObjects, AFactoryThatRemovesTheTypeLeavesNothingCached) {
    ScriptedClass lib("Lib.1.0");
    GUID id{};
    ASSERT_EQ(cont().addType(TC_Library, lib.clsid, id), IS_OK);
    lib.script->onCreate = [&] { cont().removeType(id); };
    lib.script->createResult = E_FAIL;
    ComPtr<IUnknown> obj;
    EXPECT_EQ(cont().getTypeByID(id, &obj), IS_NOT_CREATED);
    EXPECT_FALSE(cont().isType(id));

    lib.script->onCreate = nullptr;
    lib.script->createResult = S_OK;
    ASSERT_EQ(cont().addType(TC_Library, lib.clsid, id), IS_OK);
    lib.script->onCreate = [&] { cont().removeType(id); };
    EXPECT_EQ(cont().getTypeByID(id, &obj), IS_TYPE_ID);
    EXPECT_EQ(obj, nullptr);
    EXPECT_FALSE(cont().isType(id));
    EXPECT_EQ(lib.script->alive, 0); // the object made for nobody is gone
}

TEST_F(ReentrantTypeObjects, ATypeReplacedWhileItsObjectIsCreatedIsServedFromItsNewEntry) {
    ScriptedClass lib("Lib.1.0");
    GUID id{};
    ASSERT_EQ(cont().addType(TC_Library, lib.clsid, id), IS_OK);
    // The type is installed anew (as a reload would) while its object is made.
    bool replaced = false;
    lib.script->onCreate = [&] {
        if (std::exchange(replaced, true)) return;
        cont().removeType(id);
        auto fresh = createEntry(TC_Library);
        fresh->m_name = "Lib.1.0";
        fresh->m_clsid = lib.clsid;
        cont().insertEntry(id, std::move(fresh));
    };
    ComPtr<IUnknown> ext;
    EXPECT_EQ(cont().getExtType(id, freshGuid(), &ext), IS_NOT_FOUND);
    const CIsBaseInstallEntry* entry = cont().findEntry(id);
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(entry->m_spTypeObject, nullptr); // cached in the entry that is there now
    EXPECT_EQ(lib.script->alive, 1);
}

TEST_F(ReentrantTypeObjects, AnObjectThatRemovesItsTypeAsItDiesIsNoLongerInUse) {
    ScriptedClass lib("Lib.1.0");
    GUID id = installCached(lib);
    lib.script->onDeath = [&] { cont().removeType(id); };
    ComPtr<IUnknown> native;
    EXPECT_EQ(cont().createNativeTypeObject(id, &native), IS_TYPE_ID);
    EXPECT_EQ(native, nullptr);
    EXPECT_FALSE(cont().isType(id));
    EXPECT_EQ(lib.script->alive, 0);
}

TEST_F(ReentrantTypeObjects, TheIdleSweepSurvivesAnObjectThatRemovesItsTypeAsItDies) {
    ScriptedClass idle("Idle.1.0"), other("Other.1.0");
    GUID idleId = installCached(idle);
    GUID otherId{};
    ASSERT_EQ(cont().addType(TC_Library, other.clsid, otherId), IS_OK);
    idle.script->onDeath = [&] { cont().removeType(idleId); };
    g_now += CIsTypeCont::kSweepInterval;
    ComPtr<IUnknown> obj;
    EXPECT_EQ(cont().getTypeByID(otherId, &obj), IS_OK); // the creation sweeps
    EXPECT_FALSE(cont().isType(idleId));
    EXPECT_EQ(idle.script->alive, 0);
    EXPECT_EQ(cont().findEntry(otherId)->m_spTypeObject, obj.get());
}

TEST_F(ReentrantTypeObjects, ClearingTheCacheSurvivesObjectsThatRemoveTheirTypesAsTheyDie) {
    ScriptedClass a("A.1.0"), b("B.1.0");
    GUID ida = installCached(a), idb = installCached(b);
    a.script->onDeath = [&] { cont().removeType(ida); };
    b.script->onDeath = [&] { cont().removeType(idb); };
    g_memoryLow = true;
    EXPECT_EQ(cont().clearTypeCache(), IS_MEMORY_LOW); // nothing left to release
    EXPECT_FALSE(cont().isType(ida));
    EXPECT_FALSE(cont().isType(idb));
    EXPECT_EQ(a.script->alive + b.script->alive, 0);
}

constexpr GUID kFamily = makeGuid("FA000000-0000-0000-0000-0000000000E1");

TEST_F(ReentrantTypeObjects, ATypeReinstalledDuringTheRefreshWaitIsRefreshedThroughItsNewEntry) {
    ScriptedClass step("Step.1.0", RTTypeID{kFamily, 1, 0});
    step.script->installStep = true;
    GUID id{};
    ASSERT_EQ(cont().addType(TC_Device, step.clsid, id), IS_OK);
    ASSERT_EQ(cont().setOrAddAttr(id, u"BI_STEP", u"1"), IS_OK);
    MessageHandler reinstall([&] {
        GUID again{};
        cont().removeType(id);
        cont().addType(TC_Device, step.clsid, again);
    });
    step.script->stepGate = reinstall.done; // the step finishes once the handler ran
    EXPECT_TRUE(cont().refreshTypeData());
    EXPECT_EQ(step.script->steps, 1);
    EXPECT_TRUE(cont().isType(id));
    EXPECT_EQ(cont().getTypeIDByRTID(RTTypeID{kFamily, 1, 0}), id);
    EXPECT_EQ(cont().getTypeIdByName("step.1.0"), id);
}

TEST_F(ReentrantTypeObjects, TypesRemovedDuringTheRefreshWaitAreSkipped) {
    // Created in this order, the types come in this GUID order.
    ScriptedClass first("First.1.0"), second("Second.1.0"), third("Third.1.0");
    GUID ids[3];
    ScriptedClass* types[3] = {&first, &second, &third};
    for (int i = 0; i < 3; ++i) {
        types[i]->script->installStep = true;
        ASSERT_EQ(cont().addType(TC_Library, types[i]->clsid, ids[i]), IS_OK);
        ASSERT_EQ(cont().setOrAddAttr(ids[i], u"BI_STEP", u"1"), IS_OK);
    }
    ASSERT_LT(ids[0], ids[1]);
    ASSERT_LT(ids[1], ids[2]);
    MessageHandler uninstall([&] {
        cont().removeType(ids[0]); // the one being refreshed
        cont().removeType(ids[1]); // one whose turn has not come
    });
    first.script->stepGate = uninstall.done;
    EXPECT_TRUE(cont().refreshTypeData());
    EXPECT_EQ(first.script->steps, 1);
    EXPECT_EQ(second.script->steps, 0);
    EXPECT_EQ(third.script->steps, 1);
    EXPECT_FALSE(cont().findEntry(ids[2])->m_needsRefresh);
    EXPECT_EQ(cont().size(), 2u); // the internal type and the third
}

} // namespace
