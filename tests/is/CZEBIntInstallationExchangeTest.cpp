// A type's data moved between installations: the exchange storage of an
// export (the type, the types it depends on, their descriptions) read into
// another installation.
#include "base/fs/FsFileMan.h"
#include "base/fs/FsSectMan.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "samples/SampleIds.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

class TypeDataExchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        for (const char* name : {"from", "into"}) {
            const std::string config = dir.file(name);
            ::mkdir(config.c_str(), 0755);
            ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
            writeFile(config + "/Drive.pd", readFile(ZEB_SAMPLE_PDFILE_DIR "/Drive.pd"));
        }
        ASSERT_EQ(CZEBIntInstallation::createObject(&from, dir.file("from")), S_OK);
        ASSERT_EQ(CZEBIntInstallation::createObject(&into, dir.file("into")), S_OK);
    }
    static void add(CZEBIntInstallation& inst, const CLSID& clsid, LONG typeClass) {
        DWORD ret = 1;
        ASSERT_EQ(inst.addTypeByClass(clsid, typeClass, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    static bool installed(CZEBIntInstallation& inst, const GUID& id) {
        BOOL is = FALSE;
        inst.isType(id, &is);
        return is != FALSE;
    }
    static bool described(CZEBIntInstallation& inst, const GUID& id) {
        return bool(inst.classification().findTypeElement(id));
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> from, into;
};

TEST_F(TypeDataExchange, APackageTravelsWithTheTypesItDependsOn) {
    add(*from, CLSID_SampleDriveType, TC_Device);
    add(*from, CLSID_SampleCamType, TC_TObject);
    add(*from, CLSID_SamplePackageType, TC_Package);
    add(*from, CLSID_SampleAxisType, TC_TObject); // not a dependency: stays home
    ASSERT_EQ(from->refreshXMLTypeTree(), 0u);
    DWORD saved = 1;
    ASSERT_EQ(from->saveChanges(&saved), S_OK);
    ComPtr<IStorage> storage;
    DWORD ret = 1;
    ASSERT_EQ(from->exportTypeData(TYPEID_SamplePackage, &storage, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    ASSERT_TRUE(storage);
    EXPECT_FALSE(from->isChanged()); // an export changes nothing
    {
        FsSectMan sections(storage.get());
        EXPECT_GT(sections.GetSize("typecont"), 0u);
        EXPECT_GT(sections.GetSize("xmltree"), 0u);
    }

    // into already has its own Drive: replaced by the imported one.
    add(*into, CLSID_SampleDriveType, TC_Device);
    ASSERT_EQ(into->importTypeData(storage.get(), &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    for (const GUID& id : {TYPEID_SamplePackage, TYPEID_SampleDrive, TYPEID_SampleCam}) {
        EXPECT_TRUE(installed(*into, id));
        EXPECT_TRUE(described(*into, id));
    }
    EXPECT_FALSE(installed(*into, TYPEID_SampleAxis));
    EXPECT_EQ(into->classification()
                  .document()
                  .selectNodes(u".//*[ESType/@ESName='SampleDrive.1.0']")
                  .size(),
              1u);
    // Imported with their descriptions (the Drive's sub-objects), saved and found again.
    EXPECT_TRUE(into->classification().document().selectSingleNode(
        u"Installation/Classified/Device/SubObj[@Name='Brake']"));
    ASSERT_EQ(into->saveChanges(&ret), S_OK);
    ASSERT_EQ(ret, 0u);
    into.Release();
    ASSERT_EQ(CZEBIntInstallation::createObject(&into, dir.file("into")), S_OK);
    EXPECT_TRUE(installed(*into, TYPEID_SampleCam));
    EXPECT_TRUE(described(*into, TYPEID_SampleCam));
}

// An installation that never had a type has no classification yet: the
// imported types arrive with their descriptions all the same.
TEST_F(TypeDataExchange, AnEmptyInstallationTakesTheDescriptionsToo) {
    add(*from, CLSID_SampleDriveType, TC_Device);
    ComPtr<IStorage> storage;
    DWORD ret = 1;
    ASSERT_EQ(from->exportTypeData(TYPEID_SampleDrive, &storage, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    ASSERT_EQ(into->importTypeData(storage.get(), &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_TRUE(installed(*into, TYPEID_SampleDrive));
    EXPECT_TRUE(described(*into, TYPEID_SampleDrive));
}

// A dependency that is not installed fails the type-data step with 10; the
// description step that follows succeeds but does not hide that failure.
TEST_F(TypeDataExchange, TheFirstFailureIsTheResult) {
    add(*from, CLSID_SampleDriveType, TC_Device);
    add(*from, CLSID_SamplePackageType, TC_Package); // Cam, its dependency, is missing
    ComPtr<IStorage> storage;
    DWORD ret = 0;
    ASSERT_EQ(from->exportTypeData(TYPEID_SamplePackage, &storage, &ret), S_OK);
    EXPECT_EQ(ret, 10u);
    // A type object without the dependency query: the type goes alone.
    storage.Release();
    ret = 1;
    ASSERT_EQ(from->exportTypeData(TYPEID_SampleDrive, &storage, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    // A type that is not installed.
    storage.Release();
    ASSERT_EQ(from->exportTypeData(TYPEID_SampleCam, &storage, &ret), S_OK);
    EXPECT_NE(ret, 0u);
    EXPECT_EQ(from->exportTypeData(TYPEID_SampleDrive, nullptr, &ret), E_POINTER);
}

TEST_F(TypeDataExchange, AStorageWithoutBothSectionsChangesNothing) {
    ComPtr<IStorage> storage;
    ASSERT_TRUE(FsFileMan::createMemStorage(&storage));
    {
        FsSectMan sections(storage.get());
        ASSERT_NE(sections.GetSect("typecont", 5), nullptr);
        sections.CloseAll();
    }
    DWORD ret = 0;
    ASSERT_EQ(into->importTypeData(storage.get(), &ret), S_OK);
    EXPECT_EQ(ret, 29u);
    EXPECT_FALSE(into->isChanged());
    EXPECT_EQ(into->importTypeData(nullptr, &ret), E_POINTER);
}

} // namespace
