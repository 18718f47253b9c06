#include "is/CIsTypeCont.h"
#include "platform/win/TextConvert.h"
#include "platform/win/Threading.h"
#include "samples/CSampleAsyncType.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"
#include "tests/is/ScriptedType.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using zeb::test::ScriptedClass;

DWORD g_now = 1000000;
DWORD fakeTick() {
    return g_now;
}

bool g_memoryLow = false;
bool fakeMemory(DWORDLONG, DWORD) {
    return g_memoryLow;
}

class TypeObjects : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldTick = CIsBaseInstallEntry::setTickSource(&fakeTick);
        m_oldProbe = CIsTypeCont::setMemoryProbe(&fakeMemory);
        g_memoryLow = false;
        ASSERT_TRUE(zeb::samples::registerServer());
        ASSERT_EQ(CSampleProjectHdl::createObject(&m_hdl), S_OK);
        ComPtr<IMC_PrjHdlHolder> holder;
        m_hdl->getProjectHdlHolder(&holder);
        cont.setPrjHdlHolder(holder);
    }
    void TearDown() override {
        CIsBaseInstallEntry::setTickSource(m_oldTick);
        CIsTypeCont::setMemoryProbe(m_oldProbe);
    }
    GUID install(ScriptedClass& type) {
        GUID id{};
        EXPECT_EQ(cont.addType(TC_Library, type.clsid, id), IS_OK);
        return id;
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    CIsBaseInstallEntry::TickSource m_oldTick = nullptr;
    CIsTypeCont::MemoryProbe m_oldProbe = nullptr;
    ComPtr<CSampleProjectHdl> m_hdl;
    CIsTypeCont cont;
};

TEST_F(TypeObjects, CachedObjectIsCreatedOnceAndReceivesTheHolder) {
    ScriptedClass lib("Lib.1.0");
    GUID id = install(lib);
    ComPtr<IUnknown> a, b;
    EXPECT_EQ(cont.getTypeByID(id, &a), IS_OK);
    EXPECT_EQ(cont.getTypeByID(TC_Library, id, &b), IS_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(lib.script->created, 2); // once by addType, once for the cache
    EXPECT_EQ(lib.script->lastHolder, cont.getPrjHdlHolder());
    ComPtr<IUnknown> c;
    EXPECT_EQ(cont.getTypeByID(TC_Device, id, &c), IS_WRONG_CLASS);
    EXPECT_EQ(cont.getTypeByID(zeb::test::freshGuid(), &c), IS_TYPE_ID);
    EXPECT_EQ(cont.getTypeByID(id, nullptr), IS_INTERNAL);
}

TEST_F(TypeObjects, IdleObjectTurnsWeakAtTheNextSweepAndLeavesTheCacheWhenItDies) {
    ScriptedClass lib("Lib.1.0"), other("Other.1.0");
    GUID id = install(lib);
    GUID otherId = install(other);
    ComPtr<IUnknown> obj;
    cont.getTypeByID(id, &obj);
    g_now += CIsTypeCont::kSweepInterval; // idle for longer than a minute, sweep due
    ComPtr<IUnknown> fresh;
    cont.createNativeTypeObject(otherId, &fresh);
    const CIsBaseInstallEntry* entry = cont.findEntry(id);
    EXPECT_TRUE(entry->m_weakRef);
    EXPECT_EQ(lib.script->alive, 1); // alive through our reference
    EXPECT_FALSE(cont.removeFromCache(zeb::test::freshGuid(), obj));
    EXPECT_TRUE(cont.removeFromCache(id, fresh)); // another object: nothing changes
    EXPECT_TRUE(entry->m_weakRef);
    EXPECT_TRUE(cont.removeFromCache(id, obj)); // as the dying object would call it
    EXPECT_EQ(entry->m_spTypeObject, nullptr);
    obj.Release();
    EXPECT_EQ(lib.script->alive, 0);
}

TEST_F(TypeObjects, HeldObjectStaysInTheCache) {
    ScriptedClass lib("Lib.1.0");
    GUID id = install(lib);
    ComPtr<IUnknown> obj;
    cont.getTypeByID(id, &obj);
    EXPECT_FALSE(cont.removeFromCache(id, obj));
    EXPECT_EQ(cont.findEntry(id)->m_spTypeObject, obj.get());
}

TEST_F(TypeObjects, NativeObjectIsRefusedWhileAnInstanceExists) {
    ScriptedClass lib("Lib.1.0");
    GUID id = install(lib);
    ComPtr<IUnknown> cached, native;
    cont.getTypeByID(id, &cached);
    EXPECT_EQ(cont.createNativeTypeObject(id, &native), IS_NO_INTERFACE);
    EXPECT_TRUE(cont.findEntry(id)->m_weakRef);
    cont.removeFromCache(id, cached);
    cached.Release();
    EXPECT_EQ(cont.createNativeTypeObject(id, &native), IS_OK);
    EXPECT_NE(native, nullptr);
    EXPECT_EQ(cont.findEntry(id)->m_spTypeObject, nullptr); // not cached
    native.Release();
    EXPECT_EQ(cont.createNativeTypeObject(zeb::test::freshGuid(), &native), IS_TYPE_ID);
}

TEST_F(TypeObjects, ClearingTheCacheReleasesHeldObjectsWhileMemoryIsLow) {
    ScriptedClass a("A.1.0"), b("B.1.0");
    GUID ida = install(a), idb = install(b);
    ComPtr<IUnknown> oa, ob;
    cont.getTypeByID(ida, &oa);
    cont.getTypeByID(idb, &ob);
    EXPECT_EQ(cont.clearTypeCache(), IS_OK); // memory is fine: nothing happens
    EXPECT_FALSE(cont.findEntry(ida)->m_weakRef);
    g_memoryLow = true;
    EXPECT_EQ(cont.clearTypeCache(), IS_MEMORY_LOW);
    EXPECT_TRUE(cont.findEntry(ida)->m_weakRef);
    EXPECT_TRUE(cont.findEntry(idb)->m_weakRef);
    cont.removeFromCache(ida, oa);
    cont.removeFromCache(idb, ob);
}

TEST_F(TypeObjects, TypeClassFactoryReceivesNameIdentifierAndHolder) {
    GUID id = zeb::test::freshGuid();
    ASSERT_EQ(cont.addGenericTypeByClass(TC_GenericObject, CLSID_SampleGenericType, id,
                                         "SampleGeneric.1.0"),
              IS_OK);
    ComPtr<IUnknown> obj;
    ASSERT_EQ(cont.getTypeByID(id, &obj), IS_OK);
    ComQIPtr<IMC_TypeIdent> ident(obj);
    char* name = nullptr;
    GUID got{};
    ident->getName(&name);
    ident->getTypeId(&got);
    EXPECT_STREQ(name, "SampleGeneric.1.0");
    EXPECT_EQ(got, id);
    CoTaskMemFree(name);
}

TEST_F(TypeObjects, SampleTypesInstallThroughTheRegistryStore) {
    GUID id{};
    EXPECT_EQ(cont.addType(TC_Device, CLSID_SampleDriveType, id), IS_OK);
    EXPECT_EQ(id, TYPEID_SampleDrive);
    EXPECT_EQ(cont.addType(TC_TObject, CLSID_SampleCamType, id), IS_OK);
    EXPECT_FALSE(cont.findEntry(TYPEID_SampleCam)->m_needsRefresh); // no proxy, no attribute
    EXPECT_EQ(cont.addType(TC_TObject, CLSID_SampleAxisType, id), IS_OK);
    BSTR proxy = nullptr;
    ASSERT_EQ(cont.getAttr(TYPEID_SampleAxis, u"BI_PROXY_TYPE_ID", &proxy), IS_OK);
    EXPECT_EQ(zeb::toNarrow(std::u16string(proxy, SysStringLen(proxy))),
              zeb::guidToString(RTFAMILY_SampleAxisProxy) + ",2,0");
    SysFreeString(proxy);
    EXPECT_TRUE(cont.findEntry(TYPEID_SampleAxis)->m_needsRefresh);
    EXPECT_EQ(cont.addType(TC_Package, CLSID_SamplePackageType, id), IS_OK);
    EXPECT_EQ(cont.addType(TC_Program, CLSID_SampleProgramType, id), IS_OK);
    EXPECT_EQ(cont.size(), 5u);

    EXPECT_EQ(cont.addExtType(TYPEID_SampleDrive, kSampleExtensionName, CLSID_SampleExtension),
              IS_OK);
    ComPtr<IUnknown> ext;
    EXPECT_EQ(cont.getExtType(TYPEID_SampleDrive, EXTTYPEID_SampleExtension, &ext), IS_OK);
    EXPECT_TRUE(ComQIPtr<IMC_ExtensionType>(ext));
}

TEST_F(TypeObjects, RefreshWaitsForAnAsynchronousCompletion) {
    GUID id{};
    ASSERT_EQ(cont.addType(TC_SubObj, CLSID_SampleAsyncType, id), IS_OK);
    EXPECT_EQ(cont.setOrAddAttr(id, u"BI_STEP", u"1"), IS_OK);
    EXPECT_TRUE(cont.findEntry(id)->m_needsRefresh);
    CSampleAsyncType::setFinishResult(S_OK);
    EXPECT_TRUE(cont.refreshTypeData());
    EXPECT_FALSE(cont.findEntry(id)->m_needsRefresh);
    EXPECT_NE(CSampleAsyncType::lastWorkerThread(), GetCurrentThreadId());

    cont.setOrAddAttr(id, u"BI_STEP", u"2");
    CSampleAsyncType::setFinishResult(E_FAIL);
    EXPECT_FALSE(cont.refreshTypeData(id));
    EXPECT_TRUE(cont.findEntry(id)->m_needsRefresh);
    CSampleAsyncType::setFinishResult(S_OK);

    ComPtr<IUnknown> cached;
    cont.getTypeByID(id, &cached); // an instance exists: no refresh
    EXPECT_FALSE(cont.refreshTypeData(id));
    EXPECT_EQ(cont.findEntry(id)->m_spTypeObject, cached.get());
    EXPECT_FALSE(cont.refreshTypeData(zeb::test::freshGuid()));
}

} // namespace
