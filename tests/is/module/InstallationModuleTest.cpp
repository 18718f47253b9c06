// libk4bi00tx.so used the way another program uses it: registered in the
// registry store, loaded by the runtime when a class is created by its
// ProgID, and called only through the interfaces.
#include "h/IMC_Installation.h"
#include "platform/com/Activation.h"
#include "platform/com/Guid.h"
#include "platform/storage/Storage.h"
#include "platform/win/Module.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace {

using zeb::RegistryStore;

// The sample Drive type (served by libzebsamples.so).
constexpr CLSID kSampleDriveClass = makeGuid("5A3E0001-7B1C-4C2A-9E10-3D5F00000001");

using EntryPoint = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// One registry store and configuration directory for the whole program: the
// settings are read once per process.
class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (dir) return; // set up already (a child scenario may come first)
        dir = std::make_unique<zeb::test::TempDir>();
        registry =
            std::make_unique<zeb::test::ScopedEnv>("ZEB_REGISTRY", dir->file("registry.reg"));
        // A configuration directory as an installation of the system has it.
        ::mkdir(dir->file("config").c_str(), 0755);
        for (const char* name : {"k4bi00tx_tf.xsl", "k4bi00tx_tfb.xsl"})
            zeb::test::writeFile(dir->file("config/") + name,
                                 zeb::test::readFile(std::string(ZEB_STYLESHEET_DIR "/") + name));
        ASSERT_TRUE(RegistryStore::writeString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1",
                                               "ProductDir", zeb::toWide(dir->path())));
        ASSERT_TRUE(RegistryStore::writeString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis", "ConfigDir", u"config"));
        HMODULE samples = LoadLibraryA(ZEB_SAMPLES_PATH);
        ASSERT_NE(samples, nullptr);
        auto reg = reinterpret_cast<EntryPoint>(GetProcAddress(samples, "DllRegisterServer"));
        ASSERT_EQ(reg(), S_OK);
        module = LoadLibraryA(ZEB_MODULE_PATH);
        ASSERT_NE(module, nullptr) << zeb::lastModuleError();
    }
    void TearDown() override {
        registry.reset();
        dir.reset();
    }
    static HRESULT call(const char* entry) {
        return reinterpret_cast<EntryPoint>(GetProcAddress(module, entry))();
    }
    static inline HMODULE module = nullptr;
    static inline std::unique_ptr<zeb::test::TempDir> dir;
    static inline std::unique_ptr<zeb::test::ScopedEnv> registry;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

const std::string kRoot = "HKEY_CLASSES_ROOT\\";
const std::string kFacadeKey = kRoot + "CLSID\\{CE1A6430-F891-11D2-903B-00105A2DC979}";
const std::string kCoreKey = kRoot + "CLSID\\{6A438DB0-4613-11D5-AE4C-0040C7998E91}";

std::string text(const std::string& key, const std::string& name = "") {
    auto value = RegistryStore::readString(key, name);
    return value ? zeb::toNarrow(*value) : "<absent>";
}

template <class T> ComPtr<T> createByProgId(const char16_t* progId) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    ComPtr<T> object;
    EXPECT_EQ(object.CoCreateInstance(clsid), S_OK);
    return object;
}

TEST(InstallationModule, RegistrationWritesEveryKeyOnceAndUnregistrationRemovesThem) {
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);
    // A stale value below the class key goes with a new registration.
    ASSERT_TRUE(RegistryStore::writeString(kFacadeKey + "\\Stale", "", u"x"));
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);

    EXPECT_EQ(text(kFacadeKey), "CZEBInstallation Class");
    EXPECT_EQ(RegistryStore::subKeys(kFacadeKey),
              (std::vector<std::string>{"InprocServer32", "ProgID", "VersionIndependentProgID"}));
    EXPECT_EQ(text(kFacadeKey + "\\ProgID"), "CZEBInstallation.CZEBInstallation.1");
    EXPECT_EQ(text(kFacadeKey + "\\VersionIndependentProgID"), "CZEBInstallation.CZEBInstallation");
    EXPECT_EQ(text(kFacadeKey + "\\InprocServer32"), ZEB_MODULE_PATH);
    EXPECT_EQ(text(kFacadeKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(text(kCoreKey + "\\ProgID"), "CZEBIntInstallation.CZEBIntInstallation.1");
    EXPECT_EQ(text(kCoreKey + "\\InprocServer32"), ZEB_MODULE_PATH);
    EXPECT_EQ(text(kRoot + "CZEBIntInstallation.CZEBIntInstallation.1"),
              "CZEBIntInstallation Class");
    EXPECT_EQ(text(kRoot + "CZEBIntInstallation.CZEBIntInstallation.1\\CLSID"),
              "{6A438DB0-4613-11D5-AE4C-0040C7998E91}");
    EXPECT_EQ(text(kRoot + "CZEBInstallation.CZEBInstallation"), "CZEBInstallation Class");
    EXPECT_EQ(text(kRoot + "CZEBInstallation.CZEBInstallation\\CLSID"),
              "{CE1A6430-F891-11D2-903B-00105A2DC979}");
    EXPECT_EQ(text(kRoot + "CZEBInstallation.CZEBInstallation\\CurVer"),
              "CZEBInstallation.CZEBInstallation.1");

    ASSERT_EQ(ModuleEnvironment::call("DllUnregisterServer"), S_OK);
    for (const std::string& key :
         {kFacadeKey, kCoreKey, kRoot + "CZEBInstallation.CZEBInstallation",
          kRoot + "CZEBInstallation.CZEBInstallation.1",
          kRoot + "CZEBIntInstallation.CZEBIntInstallation",
          kRoot + "CZEBIntInstallation.CZEBIntInstallation.1"})
        EXPECT_FALSE(RegistryStore::keyExists(key)) << key;
    // The sample classes stay, and so does the CLSID key itself.
    EXPECT_TRUE(RegistryStore::keyExists(kRoot + "CLSID"));
    EXPECT_TRUE(RegistryStore::keyExists(kRoot + "CLSID\\" + zeb::guidToString(kSampleDriveClass)));
}

// Both classes made by ProgID; the facade finds no project handler and
// makes the core object itself. A type installed through the facade is
// saved, and the core object made afterwards finds it in the file.
TEST(InstallationModule, BothClassesServeAClientThroughTheirInterfaces) {
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);
    {
        auto inst = createByProgId<IMC_Installation>(u"CZEBInstallation.CZEBInstallation");
        ASSERT_TRUE(inst);
        EXPECT_EQ(ModuleEnvironment::call("DllCanUnloadNow"), S_FALSE);
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(kSampleDriveClass, TC_Device, &ret), S_OK);
        EXPECT_EQ(ret, 0u);
        ComPtr<IMC_InstallationDetails> details;
        ASSERT_EQ(inst->QueryInterface(uuidof<IMC_InstallationDetails>(),
                                       reinterpret_cast<void**>(&details)),
                  S_OK);
        ComPtr<IMC_InstallNavigate> navigate;
        ASSERT_EQ(inst->QueryInterface(uuidof<IMC_InstallNavigate>(),
                                       reinterpret_cast<void**>(&navigate)),
                  S_OK);
        GUID drive{};
        ASSERT_EQ(navigate->getTypeIdByName("SampleDrive.1.0", &drive, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
        zeb::Bstr key("BI_ORIGIN"), value("module test");
        ASSERT_EQ(details->setAttributeByTypeID(drive, key, value, &ret), S_OK);
        EXPECT_EQ(ret, 0u);
        ComPtr<IUnknown> pe;
        EXPECT_EQ(inst->QueryInterface(uuidof<IMC_PEInstallation>(), reinterpret_cast<void**>(&pe)),
                  E_NOINTERFACE);
        ComPtr<IMC_InternalInstallClassification> classification;
        ASSERT_EQ(inst->QueryInterface(uuidof<IMC_InternalInstallClassification>(),
                                       reinterpret_cast<void**>(&classification)),
                  S_OK);
        ComPtr<IUnknown> document;
        EXPECT_EQ(classification->getInstallationDocument(&document, &ret), S_OK);
        EXPECT_TRUE(document);
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        EXPECT_EQ(ret, 0u);
    }
    auto core = createByProgId<IMC_InstallNavigate>(u"CZEBIntInstallation.CZEBIntInstallation.1");
    ASSERT_TRUE(core);
    BOOL isType = FALSE;
    GUID drive{};
    DWORD ret = 1;
    ASSERT_EQ(core->getTypeIdByName("SampleDrive.1.0", &drive, &ret), S_OK);
    ASSERT_EQ(core->isType(drive, &isType), S_OK);
    EXPECT_TRUE(isType);
    ComPtr<IMC_InstallationDetails> details;
    core->QueryInterface(uuidof<IMC_InstallationDetails>(), reinterpret_cast<void**>(&details));
    BSTR value = nullptr;
    zeb::Bstr key("BI_ORIGIN");
    ASSERT_EQ(details->getAttributeByTypeID(drive, key, &value, &ret), S_OK);
    EXPECT_EQ(zeb::toNarrow(std::u16string(value, SysStringLen(value))), "module test");
    SysFreeString(value);
    // The core object offers IMC_PEInstallation; the facade does not.
    ComPtr<IUnknown> pe;
    EXPECT_EQ(core->QueryInterface(uuidof<IMC_PEInstallation>(), reinterpret_cast<void**>(&pe)),
              S_OK);
    pe.Release();
    core.Release();
    details.Release();
    EXPECT_EQ(ModuleEnvironment::call("DllCanUnloadNow"), S_OK);
}

TEST(InstallationModule, ClassFactoriesRefuseAggregationWithAnInterfaceAndLockTheModule) {
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        GetProcAddress(ModuleEnvironment::module, "DllGetClassObject"));
    for (const CLSID& clsid : {makeGuid("CE1A6430-F891-11D2-903B-00105A2DC979"),
                               makeGuid("6A438DB0-4613-11D5-AE4C-0040C7998E91")}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        ComPtr<IUnknown> outer;
        factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&outer));
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(outer.get(), uuidof<IMC_Installation>(), &object),
                  HRESULT(0x80040110));
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
        outer.Release();
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        factory.Release();
        EXPECT_EQ(ModuleEnvironment::call("DllCanUnloadNow"), S_FALSE);
        ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        factory->LockServer(FALSE);
        factory.Release();
        EXPECT_EQ(ModuleEnvironment::call("DllCanUnloadNow"), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(getClassObject(kSampleDriveClass, IID_IClassFactory, reinterpret_cast<void**>(&none)),
              HRESULT(0x80040111));
}

// Without the core object's class the facade is made all the same and
// answers every call with E_FAIL.
TEST(InstallationModule, AFacadeWithoutAnInstallationAnswersEFail) {
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);
    ASSERT_TRUE(RegistryStore::deleteTree(kCoreKey));
    auto inst = createByProgId<IMC_Installation>(u"CZEBInstallation.CZEBInstallation.1");
    ASSERT_TRUE(inst);
    DWORD ret = 7;
    EXPECT_EQ(inst->addTypeByClass(kSampleDriveClass, TC_Device, &ret), E_FAIL);
    EXPECT_EQ(ret, 7u);
    ComPtr<IMC_InstallNavigate> navigate;
    ASSERT_EQ(
        inst->QueryInterface(uuidof<IMC_InstallNavigate>(), reinterpret_cast<void**>(&navigate)),
        S_OK);
    BOOL isType = TRUE;
    EXPECT_EQ(navigate->isType(kSampleDriveClass, &isType), E_FAIL);
    ComPtr<IMC_InternalInstallClassification> classification;
    inst->QueryInterface(uuidof<IMC_InternalInstallClassification>(),
                         reinterpret_cast<void**>(&classification));
    ComPtr<IUnknown> document;
    EXPECT_EQ(classification->getInstallationDocument(&document, &ret), E_FAIL);
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);
}

} // namespace

namespace {

constexpr CLSID kSampleCamClass = makeGuid("5A3E0003-7B1C-4C2A-9E10-3D5F00000003");
constexpr CLSID kSamplePackClass = makeGuid("5A3E0004-7B1C-4C2A-9E10-3D5F00000004");
constexpr GUID kSamplePackType = makeGuid("5A3E1004-7B1C-4C2A-9E10-3D5F00000004");
constexpr GUID kSampleCamType = makeGuid("5A3E1003-7B1C-4C2A-9E10-3D5F00000003");

std::vector<std::string> texts(const VARIANT& v) {
    std::vector<std::string> out;
    if (v.vt == VT_BSTR) {
        out.push_back(zeb::toNarrow(std::u16string(v.bstrVal, SysStringLen(v.bstrVal))));
    } else if (v.vt == (VT_ARRAY | VT_BSTR)) {
        LONG upper = -1;
        SafeArrayGetUBound(v.parray, 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            BSTR s = nullptr;
            SafeArrayGetElement(v.parray, &i, &s);
            out.push_back(zeb::toNarrow(std::u16string(s, SysStringLen(s))));
            SysFreeString(s);
        }
    }
    return out;
}

ZEB_CHILD_SCENARIO(importIntoAnotherInstallation) {
    ModuleEnvironment().SetUp();
    std::string out;
    if (ModuleEnvironment::call("DllRegisterServer") != S_OK) return std::string("no registration");
    ComPtr<IStorage> file;
    if (FAILED(StgOpenStorage(zeb::toWide(std::getenv("ZEB_EXPORT_FILE")).c_str(), nullptr,
                              STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &file)))
        return std::string("no file");
    {
        auto core =
            createByProgId<IMC_InternalInstallation>(u"CZEBIntInstallation.CZEBIntInstallation");
        if (!core) return std::string("no installation");
        DWORD ret = 1;
        core->importTypeData(file.get(), &ret);
        out += "import " + std::to_string(ret) + ";";
        ComPtr<IMC_InstallNavigate> navigate;
        core->QueryInterface(uuidof<IMC_InstallNavigate>(), reinterpret_cast<void**>(&navigate));
        for (auto [name, id] :
             {std::pair{"pack", kSamplePackType}, std::pair{"cam", kSampleCamType},
              std::pair{"drive", makeGuid("5A3E1001-7B1C-4C2A-9E10-3D5F00000001")},
              std::pair{"axis", makeGuid("5A3E1002-7B1C-4C2A-9E10-3D5F00000002")}}) {
            BOOL is = FALSE;
            navigate->isType(id, &is);
            out += std::string(" ") + name + " " + std::to_string(is ? 1 : 0);
        }
        // Imported with its description: the runtime major version of the package.
        ComPtr<IMC_InternalInstallClassification> registry;
        ComPtr<IMC_InstallClassification> queries;
        core->QueryInterface(uuidof<IMC_InternalInstallClassification>(),
                             reinterpret_cast<void**>(&registry));
        core->QueryInterface(uuidof<IMC_InstallClassification>(),
                             reinterpret_cast<void**>(&queries));
        registry->registerXPathQuery("rt", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@RTMajor",
                                     &ret);
        zeb::Variant result;
        queries->getTypeDescrAttr(kSamplePackType, zeb::Bstr("rt"), &result, &ret);
        const auto found = texts(result);
        out += "; rt " + std::to_string(ret) + " " + (found.empty() ? "-" : found[0]);
    }
    // Unregistered, the classes can no longer be had by ProgID.
    ModuleEnvironment::call("DllUnregisterServer");
    CLSID clsid{};
    out +=
        "; unregistered " +
        std::to_string(FAILED(CLSIDFromProgID(u"CZEBIntInstallation.CZEBIntInstallation", &clsid)));
    ModuleEnvironment().TearDown(); // the child ends without the program's tear-down
    return out;
}

// Named queries in every placeholder form, and a package exported with the
// types it depends on and imported again by another object, all through the
// facade's interfaces.
TEST(InstallationModule, QueriesAndTypeDataThroughTheFacade) {
    ASSERT_EQ(ModuleEnvironment::call("DllRegisterServer"), S_OK);
    ComPtr<IStorage> exported;
    {
        auto inst = createByProgId<IMC_Installation>(u"CZEBInstallation.CZEBInstallation");
        ASSERT_TRUE(inst);
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(kSampleDriveClass, TC_Device, &ret), S_OK);
        ASSERT_EQ(inst->addTypeByClass(kSampleCamClass, TC_TObject, &ret), S_OK);
        ASSERT_EQ(inst->addTypeByClass(kSamplePackClass, TC_Package, &ret), S_OK);
        ComPtr<IMC_InternalInstallation> internal;
        ComPtr<IMC_InstallClassification> queries;
        ComPtr<IMC_InternalInstallClassification> registry;
        inst->QueryInterface(uuidof<IMC_InternalInstallation>(),
                             reinterpret_cast<void**>(&internal));
        inst->QueryInterface(uuidof<IMC_InstallClassification>(),
                             reinterpret_cast<void**>(&queries));
        inst->QueryInterface(uuidof<IMC_InternalInstallClassification>(),
                             reinterpret_cast<void**>(&registry));
        ASSERT_TRUE(internal && queries && registry);
        ASSERT_EQ(internal->refreshXMLTypeOnDemand(&ret), S_OK);
        ASSERT_EQ(ret, 0u);

        ASSERT_EQ(registry->registerXPathQuery("names", "//ESType/@ESName", &ret), S_OK);
        ASSERT_EQ(ret, 0u);
        ASSERT_EQ(registry->registerXPathQuery(
                      "rt", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@RTMajor", &ret),
                  S_OK);
        ASSERT_EQ(registry->registerXPathQuery("id", "//ESType[@ESName=\"%param1%\"]/@ESID", &ret),
                  S_OK);
        zeb::Variant result;
        ASSERT_EQ(queries->getTypeDescr(zeb::Bstr("names"), &result, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
        EXPECT_EQ(texts(result).size(), 3u);
        result.Clear();
        ASSERT_EQ(queries->getTypeDescrAttr(kSamplePackType, zeb::Bstr("rt"), &result, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
        EXPECT_EQ(texts(result), std::vector<std::string>{"3"});
        result.Clear();
        VARIANT param{};
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(u"SampleCam.1.0");
        ASSERT_EQ(queries->getTypeDescrParam(1, &param, zeb::Bstr("id"), &result, &ret), S_OK);
        VariantClear(&param);
        ASSERT_EQ(ret, 0u);
        EXPECT_EQ(texts(result),
                  std::vector<std::string>{"{5A3E1003-7B1C-4C2A-9E10-3D5F00000003}"});
        result.Clear();
        ASSERT_EQ(queries->getTypeDescr(zeb::Bstr("nothing"), &result, &ret), S_OK);
        EXPECT_EQ(ret, 13u);

        ASSERT_EQ(internal->exportTypeData(kSamplePackType, &exported, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
        // Into another installation, in another process with its own
        // registry store and configuration directory, through a file.
        const std::string file = ModuleEnvironment::dir->file("package.stg");
        ComPtr<IStorage> onDisk;
        ASSERT_EQ(StgCreateDocfile(zeb::toWide(file).c_str(),
                                   STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &onDisk),
                  S_OK);
        ASSERT_EQ(exported->CopyTo(0, nullptr, nullptr, onDisk.get()), S_OK);
        ASSERT_EQ(onDisk->Commit(0), S_OK);
        onDisk.Release();
        auto child = zeb::test::runChildScenario("importIntoAnotherInstallation",
                                                 {{"ZEB_EXPORT_FILE", file}});
        EXPECT_EQ(child.exitCode, 0);
        EXPECT_EQ(child.output, "import 0; pack 1 cam 1 drive 1 axis 0; rt 0 3; unregistered 1");
        ASSERT_EQ(inst->removeType(kSamplePackType, &ret), S_OK);
        ASSERT_EQ(inst->removeType(kSampleCamType, &ret), S_OK);
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    // Another object over the same installation takes the package back,
    // with the Cam it depends on and their descriptions.
    auto core =
        createByProgId<IMC_InternalInstallation>(u"CZEBIntInstallation.CZEBIntInstallation");
    ASSERT_TRUE(core);
    DWORD ret = 1;
    ASSERT_EQ(core->importTypeData(exported.get(), &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    ComPtr<IMC_InstallNavigate> navigate;
    core->QueryInterface(uuidof<IMC_InstallNavigate>(), reinterpret_cast<void**>(&navigate));
    BOOL isType = FALSE;
    navigate->isType(kSampleCamType, &isType);
    EXPECT_TRUE(isType);
    ComPtr<IMC_InstallClassification> queries;
    core->QueryInterface(uuidof<IMC_InstallClassification>(), reinterpret_cast<void**>(&queries));
    zeb::Variant result;
    ASSERT_EQ(queries->getTypeDescrAttr(kSamplePackType, zeb::Bstr("rt"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(texts(result), std::vector<std::string>{"3"});
}

} // namespace
