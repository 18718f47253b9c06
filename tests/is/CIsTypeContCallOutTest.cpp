// The project handler, extension objects and type objects re-enter the
// installation from inside the calls the container makes to them while it
// works on a type: they remove the type, install it anew or empty the
// container. The container must not touch the entry it started with after
// such a call, and must answer as for a type that is not installed when the
// type is gone.
#include "tests/is/HandledInstallation.h"
#include "tests/is/ScriptedExtension.h"
#include "tests/is/ScriptedType.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using zeb::test::CScriptedPrjHdlHolder;
using zeb::test::ScriptedClass;
using zeb::test::ScriptedExtensionClass;

constexpr GUID kFamily = makeGuid("FA000000-0000-0000-0000-0000000000E2");
constexpr GUID kNoType = makeGuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");

class CallOutsThatReenter : public zeb::test::HandledInstallation {
protected:
    CIsTypeCont& cont() { return inst->typeCont(); }
    GUID install(ScriptedClass& type, TypeClass typeClass = TC_Library) {
        GUID id{};
        EXPECT_EQ(cont().addType(typeClass, type.clsid, id), 0u);
        return id;
    }
    // Puts the type back as a reload would: a fresh entry under the same identifier.
    void reinstall(const GUID& id, TypeClass typeClass, const ScriptedClass& type) {
        cont().removeType(id);
        auto fresh = createEntry(typeClass);
        fresh->m_name = String(type.script->name.c_str());
        fresh->m_clsid = type.clsid;
        cont().insertEntry(id, std::move(fresh));
    }
    // Makes the container ask the handler through a holder that runs `hook`.
    void holderRuns(std::function<void()> hook) {
        ComPtr<CScriptedPrjHdlHolder> holder;
        ASSERT_EQ(CScriptedPrjHdlHolder::createObject(&holder, cont().getPrjHdlHolder()), S_OK);
        holder->onGetPrjHdl = std::move(hook);
        cont().setPrjHdlHolder(holder.get());
    }
};

TEST_F(CallOutsThatReenter, AddingAnExtensionToATypeTheHandlerRemovesAnswersTypeNotInstalled) {
    ScriptedClass lib("Lib.1.0");
    ScriptedExtensionClass ext("Ext");
    GUID id = install(lib);
    bool once = false;
    holderRuns([&] {
        if (!std::exchange(once, true)) cont().removeType(id);
    });
    EXPECT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 10u);
    EXPECT_FALSE(cont().isType(id));
    EXPECT_EQ(ext.script->alive, 0);

    // Emptied while the handler is fetched.
    id = install(lib);
    once = false;
    holderRuns([&] {
        if (!std::exchange(once, true)) cont().clear();
    });
    EXPECT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 10u);
    EXPECT_EQ(cont().size(), 0u);
}

TEST_F(CallOutsThatReenter, AnExtensionWhoseCreationRemovesItsTypeIsNotKept) {
    ScriptedClass lib("Lib.1.0");
    ScriptedExtensionClass ext("Ext");
    GUID id = install(lib);
    ext.script->onCreate = [&] { cont().removeType(id); };
    EXPECT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 10u);
    EXPECT_FALSE(cont().isType(id));
    EXPECT_EQ(ext.script->alive, 0); // the object made for nobody is gone

    id = install(lib);
    ext.script->onCreate = [&] { cont().clear(); };
    EXPECT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 10u);
    EXPECT_EQ(cont().size(), 0u);
    EXPECT_EQ(ext.script->alive, 0);
}

TEST_F(CallOutsThatReenter, AnExtensionWhoseCreationReinstallsItsTypeGoesToTheNewEntry) {
    ScriptedClass lib("Lib.1.0");
    ScriptedExtensionClass ext("Ext");
    GUID id = install(lib);
    bool once = false;
    ext.script->onCreate = [&] {
        if (!std::exchange(once, true)) reinstall(id, TC_Library, lib);
    };
    EXPECT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 0u);
    std::vector<GUID> list;
    ASSERT_EQ(cont().getExtTypeList(id, list), 0u);
    EXPECT_EQ(list, std::vector<GUID>{ext.script->extTypeId});
    // The type gains the same extension while the outer call creates it: added once.
    ScriptedClass other("Other.1.0");
    ScriptedExtensionClass ext2("Ext2");
    GUID otherId = install(other);
    bool inner = false;
    ext2.script->onCreate = [&] {
        if (std::exchange(inner, true)) return;
        EXPECT_EQ(cont().addExtType(otherId, String("Ext2"), ext2.clsid), 0u);
    };
    EXPECT_EQ(cont().addExtType(otherId, String("Ext2"), ext2.clsid), 4u);
    ASSERT_EQ(cont().getExtTypeList(otherId, list), 0u);
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(CallOutsThatReenter, GettingAnExtensionOfATypeRemovedMeanwhileAnswersTypeNotInstalled) {
    ScriptedClass lib("Lib.1.0");
    ScriptedExtensionClass ext("Ext");
    GUID id = install(lib);
    ASSERT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 0u);
    bool once = false;
    holderRuns([&] {
        if (!std::exchange(once, true)) cont().removeType(id);
    });
    ComPtr<IUnknown> obj;
    EXPECT_EQ(cont().getExtType(id, ext.script->extTypeId, &obj), 10u);
    EXPECT_EQ(obj, nullptr);

    // Removed while the extension object is made: the object is handed out,
    // nothing of the entry is touched after.
    id = install(lib);
    ASSERT_EQ(cont().addExtType(id, String("Ext"), ext.clsid), 0u);
    ext.script->onCreate = [&] { cont().removeType(id); };
    EXPECT_EQ(cont().getExtType(id, ext.script->extTypeId, &obj), 0u);
    EXPECT_FALSE(cont().isType(id));
    obj.Release();
    EXPECT_EQ(ext.script->alive, 0);
}

TEST_F(CallOutsThatReenter, ATypeObjectThatRemovesItsTypeWhileItsDataIsReadIsSkippedByTheRefresh) {
    ScriptedClass drive("Drive.1.0", RTTypeID{kFamily, 1, 0});
    GUID id = install(drive, TC_Device);
    ASSERT_EQ(cont().setOrAddAttr(id, u"BI_STEP", u"1"), 0u);
    bool once = false;
    drive.script->onRuntimeId = [&] {
        if (!std::exchange(once, true)) cont().removeType(id);
    };
    EXPECT_TRUE(cont().refreshTypeData()); // a type that went is no failure
    EXPECT_FALSE(cont().isType(id));
    EXPECT_EQ(cont().getTypeIDByRTID(RTTypeID{kFamily, 1, 0}), kNoType);

    // Emptied while its data is read.
    id = install(drive, TC_Device);
    ASSERT_EQ(cont().setOrAddAttr(id, u"BI_STEP", u"1"), 0u);
    once = false;
    drive.script->onRuntimeId = [&] {
        if (!std::exchange(once, true)) cont().clear();
    };
    EXPECT_FALSE(cont().refreshTypeData(id));
    EXPECT_EQ(cont().size(), 0u);
}

TEST_F(CallOutsThatReenter, ATypeReinstalledWhileItsDataIsReadTakesTheDataInItsNewEntry) {
    ScriptedClass drive("Drive.1.0", RTTypeID{kFamily, 1, 0});
    GUID id = install(drive, TC_Device);
    ASSERT_EQ(cont().setOrAddAttr(id, u"BI_STEP", u"1"), 0u);
    drive.script->rt = RTTypeID{kFamily, 1, 1}; // the refreshed object reports a newer one
    bool once = false;
    drive.script->onRuntimeId = [&] {
        if (!std::exchange(once, true)) reinstall(id, TC_Device, drive);
    };
    EXPECT_TRUE(cont().refreshTypeData());
    ASSERT_TRUE(cont().isType(id));
    EXPECT_EQ(cont().getTypeIDByRTID(RTTypeID{kFamily, 1, 1}), id);
    EXPECT_FALSE(cont().findEntry(id)->m_needsRefresh);
}

} // namespace
