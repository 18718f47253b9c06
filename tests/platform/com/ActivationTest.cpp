#include "tests/platform/com/TestObjects.h"
#include "tests/platform/com/plugin/TestPlugin.h"

#include "platform/com/Activation.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/Module.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "platform/win/Threading.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dlfcn.h>
#include <thread>
#include <vector>

namespace {

using zeb::test::ScopedEnv;
using zeb::test::TempDir;

std::string binDir() {
    std::string self = zeb::moduleFileOf(reinterpret_cast<const void*>(&binDir));
    return self.substr(0, self.rfind('/'));
}

const std::string kPluginPath = binDir() + "/libzebcomtestplugin.so";

bool pluginLoaded() {
    void* handle = dlopen(kPluginPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// Two rounds with no delay: a library that answers S_OK in both is unloaded.
void freeUnusedLibrariesAtOnce() {
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibrariesEx(0, 0);
}

std::string clsidKey(const CLSID& clsid) {
    return "HKEY_CLASSES_ROOT\\CLSID\\" + zeb::guidToString(clsid);
}

class Activation : public ::testing::Test {
protected:
    void registerServer(const CLSID& clsid, std::u16string_view library) {
        ASSERT_TRUE(
            zeb::RegistryStore::writeString(clsidKey(clsid) + "\\InprocServer32", "", library));
    }

    TempDir m_dir;
    ScopedEnv m_registry{"ZEB_REGISTRY", m_dir.file("registry.reg")};
};

TEST_F(Activation, InitializationCountsPerThreadAndRefusesAModelChange) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST_F(Activation, RegisteredClassIsCreatedByClsidAndProgIdUntilRevoked) {
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_Probe, &zeb::ClassFactory<CProbe>::instance(),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_TRUE(zeb::RegistryStore::writeString("HKEY_CLASSES_ROOT\\Zeb.Probe.1\\CLSID", "",
                                                zeb::toWide(zeb::guidToString(CLSID_Probe))));
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"zeb.probe.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Probe);
    clsid = GUID_NULL;
    ASSERT_EQ(CLSIDFromString(u"Zeb.Probe.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Probe);

    ComPtr<IProbe> probe;
    ASSERT_EQ(probe.CoCreateInstance(clsid), S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, probe, CLSCTX_ALL, uuidof<IProbe>(), out(aggregated)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, probe, CLSCTX_ALL, IID_IUnknown, out(aggregated)),
              S_OK);
    ComPtr<IUnknown> remote;
    EXPECT_EQ(
        CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, out(remote)),
        REGDB_E_CLASSNOTREG);

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    ComPtr<IProbe> gone;
    EXPECT_EQ(gone.CoCreateInstance(CLSID_Probe), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(gone);
}

TEST_F(Activation, PluginIsLoadedOnceThroughTheRegistryAndUnloadedWhenUnused) {
    registerServer(CLSID_TestWidget, u"zebcomtestplugin.dll"); // Windows name, found beside us
    ComPtr<ITestWidget> first, second;
    ASSERT_EQ(first.CoCreateInstance(CLSID_TestWidget), S_OK);
    registerServer(CLSID_TestWidget, zeb::toWide(kPluginPath)); // same library by its path
    ASSERT_EQ(second.CoCreateInstance(CLSID_TestWidget), S_OK);
    DWORD answer = 0;
    second->answer(&answer);
    EXPECT_EQ(answer, kTestWidgetAnswer);

    first.Release();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(pluginLoaded()); // `second` still lives
    second.Release();
    freeUnusedLibrariesAtOnce();
    EXPECT_FALSE(pluginLoaded()); // one load, one unload
}

TEST_F(Activation, LockedPluginStaysLoaded) {
    registerServer(CLSID_TestWidget, zeb::toWide(kPluginPath));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               out(factory)),
              S_OK);
    factory->LockServer(TRUE);
    factory.Release();
    freeUnusedLibrariesAtOnce();
    ASSERT_TRUE(pluginLoaded());
    ASSERT_EQ(
        CoGetClassObject(CLSID_TestWidget, CLSCTX_ALL, nullptr, IID_IClassFactory, out(factory)),
        S_OK);
    factory->LockServer(FALSE);
    factory.Release();
    freeUnusedLibrariesAtOnce();
    EXPECT_FALSE(pluginLoaded());
}

TEST_F(Activation, AnUnusedPluginIsUnloadedOnlyWhenItAnswersTwiceADelayApart) {
    using namespace std::chrono_literals;
    registerServer(CLSID_TestWidget, zeb::toWide(kPluginPath));
    {
        ComPtr<ITestWidget> widget;
        ASSERT_EQ(widget.CoCreateInstance(CLSID_TestWidget), S_OK);
    }
    CoFreeUnusedLibrariesEx(60000, 0); // the first S_OK starts the delay
    EXPECT_TRUE(pluginLoaded());
    CoFreeUnusedLibrariesEx(60000, 0); // the second comes too soon
    EXPECT_TRUE(pluginLoaded());
    CoFreeUnusedLibraries(); // ten minutes
    EXPECT_TRUE(pluginLoaded());

    // Used again in between: the delay starts over at the next S_OK.
    {
        ComPtr<ITestWidget> widget;
        ASSERT_EQ(widget.CoCreateInstance(CLSID_TestWidget), S_OK);
    }
    std::this_thread::sleep_for(40ms);
    CoFreeUnusedLibrariesEx(20, 0);
    EXPECT_TRUE(pluginLoaded());
    std::this_thread::sleep_for(40ms);
    CoFreeUnusedLibrariesEx(20, 0);
    EXPECT_FALSE(pluginLoaded());
}

TEST_F(Activation, APluginStaysLoadedWhileItsLastObjectIsStillBeingDestroyed) {
    registerServer(CLSID_SlowTestWidget, zeb::toWide(kPluginPath));
    ComPtr<ISlowTestWidget> widget;
    ASSERT_EQ(widget.CoCreateInstance(CLSID_SlowTestWidget), S_OK);
    HANDLE countDropped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(countDropped, nullptr);
    ASSERT_EQ(widget->lingerWhenDestroyed(countDropped, 300), S_OK);

    std::thread releaser([&widget] { widget.Release(); });
    ASSERT_EQ(WaitForSingleObject(countDropped, 10000), WAIT_OBJECT_0);
    // The plugin answers S_OK now, while `releaser` still runs its code.
    CoFreeUnusedLibraries();
    EXPECT_TRUE(pluginLoaded());
    CoFreeUnusedLibraries();
    EXPECT_TRUE(pluginLoaded());
    releaser.join();
    CloseHandle(countDropped);

    CoFreeUnusedLibrariesEx(0, 0); // answered S_OK before, nothing used it since
    EXPECT_FALSE(pluginLoaded());
}

TEST_F(Activation, BadRegistrationsAndArgumentsGiveClearCodes) {
    const CLSID missing = makeGuid("11111111-2222-3333-4444-555555555555");
    const CLSID noEntry = makeGuid("11111111-2222-3333-4444-666666666666");
    const CLSID unknown = makeGuid("11111111-2222-3333-4444-777777777777");
    registerServer(missing, u"zebnosuchlibrary.dll");
    registerServer(noEntry, zeb::toWide(binDir() + "/libzebcomtestnoentry.so"));
    ComPtr<IUnknown> p;
    EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_ALL, IID_IUnknown, out(p)),
              CO_E_DLLNOTFOUND);
    EXPECT_EQ(CoCreateInstance(noEntry, nullptr, CLSCTX_ALL, IID_IUnknown, out(p)),
              CO_E_ERRORINDLL);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, out(p)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(missing, nullptr, 0, IID_IUnknown, out(p)), E_INVALIDARG);
    EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_FALSE(p);

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.ProgId", &clsid), CO_E_CLASSSTRING);
    // A ProgID is one key name: it cannot reach into other keys.
    const std::u16string path = u"CLSID\\" + zeb::toWide(zeb::guidToString(missing));
    ASSERT_TRUE(zeb::RegistryStore::writeString(clsidKey(missing) + "\\CLSID", "",
                                                zeb::toWide(zeb::guidToString(missing))));
    EXPECT_EQ(CLSIDFromProgID(path.c_str(), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, GUID_NULL);
}

// A class object that tells which registration it is.
class NumberedClassObject final : public zeb::ComObject<NumberedClassObject, IClassFactory> {
public:
    static constexpr bool aggregatable = false;
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

// The class object CoGetClassObject answers for clsid in `context`, or null.
IUnknown* servedBy(const CLSID& clsid, DWORD context) {
    ComPtr<IUnknown> object;
    if (FAILED(CoGetClassObject(clsid, context, nullptr, IID_IUnknown, out(object))))
        return nullptr;
    return object.get(); // still held by its registration
}

TEST_F(Activation, AmongManyRegistrationsEachClassGetsItsNewestInTheContextAskedFor) {
    constexpr uint32_t kClasses = 300;
    auto clsidOf = [](uint32_t i) {
        CLSID c = makeGuid("00000000-3C1A-4B7E-9D20-5A6B7C8D9E0F");
        c.Data1 = i;
        return c;
    };
    std::vector<ComPtr<NumberedClassObject>> objects(kClasses);
    std::vector<DWORD> cookies(kClasses);
    for (uint32_t i = 0; i < kClasses; ++i) {
        ASSERT_EQ(NumberedClassObject::createObject(&objects[i]), S_OK);
        ASSERT_EQ(CoRegisterClassObject(clsidOf(i), objects[i].get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookies[i]),
                  S_OK);
    }
    // Class 5 once more for another context, then once more in-process.
    ComPtr<NumberedClassObject> local, newer;
    ASSERT_EQ(NumberedClassObject::createObject(&local), S_OK);
    ASSERT_EQ(NumberedClassObject::createObject(&newer), S_OK);
    DWORD localCookie = 0, newerCookie = 0;
    ASSERT_EQ(CoRegisterClassObject(clsidOf(5), local.get(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &localCookie),
              S_OK);
    ASSERT_EQ(CoRegisterClassObject(clsidOf(5), newer.get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &newerCookie),
              S_OK);
    EXPECT_NE(localCookie, newerCookie);

    for (uint32_t i = 0; i < kClasses; ++i) {
        if (i == 5) continue;
        EXPECT_EQ(servedBy(clsidOf(i), CLSCTX_ALL), objects[i].get()) << i;
    }
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_INPROC_SERVER), newer.get());
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_LOCAL_SERVER), local.get());
    EXPECT_EQ(servedBy(clsidOf(kClasses), CLSCTX_ALL), nullptr);

    // Revoking the newest brings back the one before it.
    EXPECT_EQ(CoRevokeClassObject(newerCookie), S_OK);
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_INPROC_SERVER), objects[5].get());
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_LOCAL_SERVER), local.get());
    EXPECT_EQ(CoRevokeClassObject(newerCookie), CO_E_OBJNOTREG);

    // Revoking every second class leaves the others served.
    for (uint32_t i = 0; i < kClasses; i += 2)
        EXPECT_EQ(CoRevokeClassObject(cookies[i]), S_OK);
    for (uint32_t i = 0; i < kClasses; ++i)
        EXPECT_EQ(servedBy(clsidOf(i), CLSCTX_INPROC_SERVER), i % 2 ? objects[i].get() : nullptr)
            << i;
    EXPECT_EQ(servedBy(clsidOf(4), CLSCTX_LOCAL_SERVER), nullptr);
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_LOCAL_SERVER), local.get());

    for (uint32_t i = 1; i < kClasses; i += 2)
        EXPECT_EQ(CoRevokeClassObject(cookies[i]), S_OK);
    EXPECT_EQ(CoRevokeClassObject(localCookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookies[0]), CO_E_OBJNOTREG);
    EXPECT_EQ(servedBy(clsidOf(5), CLSCTX_ALL), nullptr);
    // Every registration let its reference go: ours is the last.
    for (auto& object : objects)
        EXPECT_EQ(refCount(object.get()), 1u);
    EXPECT_EQ(refCount(local.get()), 1u);
    EXPECT_EQ(refCount(newer.get()), 1u);
}

TEST_F(Activation, ProgIdOfAClassComesFromItsRegistration) {
    ASSERT_TRUE(
        zeb::RegistryStore::writeString(clsidKey(CLSID_Probe) + "\\ProgID", "", u"Zeb.Probe.1"));
    zeb::TaskMem<OLECHAR> progId;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_Probe, zeb::outPtr(progId)), S_OK);
    EXPECT_EQ(std::u16string(progId.get()), u"Zeb.Probe.1");
    EXPECT_EQ(ProgIDFromCLSID(CLSID_TestWidget, zeb::outPtr(progId)), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(progId);
}

} // namespace
