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

// The latest registration of a class serves it in the contexts it was
// registered for; revoking it brings back the one before. Thousands of other
// classes registered around them change nothing.
TEST_F(Activation, LatestMatchingRegistrationServesAClassAndRevokingItRestoresTheEarlier) {
    std::vector<DWORD> others;
    for (uint32_t i = 0; i < 2000; ++i) {
        GUID other = CLSID_Probe;
        other.Data1 = i;
        DWORD c = 0;
        ASSERT_EQ(CoRegisterClassObject(other, &zeb::ClassFactory<CProbe>::instance(),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &c),
                  S_OK);
        others.push_back(c);
    }
    ComPtr<IUnknown> first, second, third;
    ASSERT_EQ(CProbe::createInstance(nullptr, IID_IUnknown, out(first)), S_OK);
    ASSERT_EQ(CProbe::createInstance(nullptr, IID_IUnknown, out(second)), S_OK);
    ASSERT_EQ(CProbe::createInstance(nullptr, IID_IUnknown, out(third)), S_OK);
    DWORD c1 = 0, c2 = 0, c3 = 0;
    ASSERT_EQ(
        CoRegisterClassObject(CLSID_Probe, first, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &c1),
        S_OK);
    ASSERT_EQ(
        CoRegisterClassObject(CLSID_Probe, second, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &c2),
        S_OK);
    ASSERT_EQ(
        CoRegisterClassObject(CLSID_Probe, third, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &c3),
        S_OK);
    EXPECT_NE(c1, c2);
    EXPECT_NE(c2, c3);
    auto served = [](DWORD context) {
        ComPtr<IUnknown> object;
        CoGetClassObject(CLSID_Probe, context, nullptr, IID_IUnknown, out(object));
        return object;
    };
    EXPECT_EQ(served(CLSCTX_INPROC_SERVER).get(), second.get());
    EXPECT_EQ(served(CLSCTX_LOCAL_SERVER).get(), third.get());
    EXPECT_EQ(served(CLSCTX_ALL).get(), third.get());
    EXPECT_EQ(CoRevokeClassObject(c2), S_OK);
    EXPECT_EQ(served(CLSCTX_INPROC_SERVER).get(), first.get());
    EXPECT_EQ(CoRevokeClassObject(c3), S_OK);
    EXPECT_EQ(served(CLSCTX_ALL).get(), first.get());
    EXPECT_EQ(CoRevokeClassObject(c1), S_OK);
    EXPECT_FALSE(served(CLSCTX_ALL));
    for (DWORD c : others)
        EXPECT_EQ(CoRevokeClassObject(c), S_OK);
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
