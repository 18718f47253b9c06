// The installation file: a first start creates it, a save writes every
// section, another process finds everything again, and an unreadable
// document text is kept and rebuilt instead of being written over.
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsInstFile.h"
#include "base/fs/FsSecCl.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"
#include "tests/co/ChildScenario.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

// A configuration directory with the default stylesheets and the sample
// PD-files, as a new installation has it.
void prepareConfig(const std::string& dir) {
    ::mkdir(dir.c_str(), 0755);
    zeb::classification::installDefaultStylesheets(dir);
    writeFile(dir + "/Drive.pd", readFile(ZEB_SAMPLE_PDFILE_DIR "/Drive.pd"));
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

// Replaces the text of one section of an installation file.
void overwriteSection(const std::string& path, const char* name, const std::string& bytes) {
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    FsSecCl* s = file.GetSect(name, FsSectMan::kWrite);
    ASSERT_NE(s, nullptr);
    s->setSize(0);
    s->write(bytes.data(), DWORD(bytes.size()));
    ASSERT_EQ(file.CloseSect(s), 0u);
    ASSERT_EQ(file.saveFile(), 0u);
}

ComPtr<CZEBIntInstallation> open(const std::string& dir) {
    ComPtr<CZEBIntInstallation> inst;
    EXPECT_EQ(CZEBIntInstallation::createObject(&inst, dir), S_OK);
    return inst;
}

ZEB_CHILD_SCENARIO(installAndSave) {
    const char* dir = std::getenv("ZEB_TEST_CONFIG");
    if (!zeb::samples::registerServer()) return std::string("no samples");
    ComPtr<CZEBIntInstallation> inst;
    CZEBIntInstallation::createObject(&inst, std::string(dir));
    DWORD ret = 0;
    inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret);
    std::string out = std::to_string(ret);
    zeb::Bstr key("BI_TYPE_PDFILENAME"), value("Drive.pd");
    inst->setAttributeByTypeID(TYPEID_SampleDrive, key, value, &ret);
    inst->addSnapInByTypeID(TYPEID_SampleDrive, CLSID_SampleExtension, &ret);
    inst->xpathMap().insert(String("names"), String("//ESType/@ESName"));
    inst->saveChanges(&ret);
    return out + " " + std::to_string(ret);
}

} // namespace

TEST(InstallationFile, AFirstStartCreatesTheFileWithEmptySectionsAndIsClean) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    prepareConfig(dir.file("config"));
    auto inst = open(dir.file("config"));
    EXPECT_TRUE(inst->isFileOpen());
    EXPECT_EQ(inst->filePath(), dir.file("config/k4bi00tx.dat"));
    EXPECT_FALSE(inst->isChanged());
    // The sections as a new installation holds them.
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(dir.file("config/k4bi00tx.dat").c_str(), 0), 0u);
    auto text = [&](const char* name) {
        FsSecCl* s = file.GetSect(name, 0);
        std::string bytes(s ? s->size() : 0, '\0');
        if (s) s->read(bytes.data(), DWORD(bytes.size()));
        file.CloseSect(s);
        return bytes;
    };
    EXPECT_EQ(text("tools"), "0 ");
    EXPECT_EQ(text("xpathqueries"), "0 ");
    // The internal type the container always holds.
    EXPECT_EQ(text("types").substr(0, 2), "1 ");
    file.CloseFile();
    // Opened again, the empty document reads as what it is: no damage, no
    // copy of an unreadable text, nothing to rebuild.
    inst.Release();
    inst = open(dir.file("config"));
    EXPECT_FALSE(inst->hasDamagedSections());
    EXPECT_FALSE(inst->classification().isRefreshNeeded());
    for (const std::string& name : filesIn(dir.file("config")))
        EXPECT_EQ(name.find("xmltypes"), std::string::npos) << name;
}

TEST(InstallationFile, EverythingSavedIsFoundAgainInAnotherProcessWithItsDescription) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    prepareConfig(dir.file("config"));
    auto child =
        zeb::test::runChildScenario("installAndSave", {{"ZEB_TEST_CONFIG", dir.file("config")},
                                                       {"ZEB_REGISTRY", dir.file("registry.reg")}});
    ASSERT_EQ(child.exitCode, 0);
    ASSERT_EQ(child.output, "0 0");

    auto inst = open(dir.file("config"));
    EXPECT_FALSE(inst->isChanged());
    EXPECT_TRUE(inst->typeCont().isType(TYPEID_SampleDrive));
    BSTR value = nullptr;
    DWORD ret = 1;
    zeb::Bstr key("BI_TYPE_PDFILENAME");
    EXPECT_EQ(inst->getAttributeByTypeID(TYPEID_SampleDrive, key, &value, &ret), S_OK);
    EXPECT_EQ(zeb::toNarrow(std::u16string_view(value, SysStringLen(value))), "Drive.pd");
    SysFreeString(value);
    ASSERT_NE(inst->xpathMap().find(String("names")), nullptr);
    // Described by the save's refresh, arranged, and stored so.
    auto drive = inst->classification().findTypeElement(TYPEID_SampleDrive);
    ASSERT_TRUE(drive);
    EXPECT_EQ(zeb::toNarrow(drive.parentNode().nodeName()), "Classified");
    EXPECT_TRUE(drive.selectSingleNode(u"Properties/Property[@Name='ParallelConnectable']"));
    EXPECT_FALSE(inst->classification().isRefreshNeeded());
}

TEST(InstallationFile, WithoutAnOpenFileASaveOfChangesFailsButNothingChangedSucceeds) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    // A directory the file cannot be created in.
    auto inst = open(dir.file("missing/deeper"));
    EXPECT_FALSE(inst->isFileOpen());
    inst->typeCont().setModified(false);
    inst->toolCont().setModified(false);
    DWORD ret = 1;
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0xBE020006u);
}

TEST(InstallationFile, AnUnreadableDocumentIsKeptAndRebuiltNotWrittenOver) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    prepareConfig(dir.file("config"));
    {
        auto inst = open(dir.file("config"));
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    const std::string path = dir.file("config/k4bi00tx.dat");
    // 6 UTF-16 units: "<Insta", cut off.
    overwriteSection(path, "xmltypes", std::string("6 <\0I\0n\0s\0t\0a\0", 14));
    const std::string stored = readFile(path);

    auto inst = open(dir.file("config"));
    // Every installed type is back in New, waiting to be described again.
    auto drive = inst->classification().findTypeElement(TYPEID_SampleDrive);
    ASSERT_TRUE(drive);
    EXPECT_EQ(zeb::toNarrow(drive.parentNode().nodeName()), "New");
    EXPECT_TRUE(inst->classification().isRefreshNeeded());
    // Nothing is written while nothing changes.
    EXPECT_FALSE(inst->isChanged());
    DWORD ret = 1;
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(readFile(path), stored);
    // The unreadable text is kept beside the file.
    bool kept = false;
    for (const std::string& name : filesIn(dir.file("config")))
        if (name.rfind("k4bi00tx.dat.xmltypes-", 0) == 0) {
            kept = true;
            EXPECT_EQ(readFile(dir.file("config/") + name), "<Insta");
        }
    EXPECT_TRUE(kept);
    // The next change describes the types again and writes them.
    ASSERT_EQ(inst->addSnapInByTypeID(TYPEID_SampleDrive, CLSID_SampleExtension, &ret), S_OK);
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    auto reopened = open(dir.file("config"));
    drive = reopened->classification().findTypeElement(TYPEID_SampleDrive);
    ASSERT_TRUE(drive);
    EXPECT_EQ(zeb::toNarrow(drive.parentNode().nodeName()), "Classified");
}

TEST(InstallationFile, ATypeStorageIsCopiedBothWaysAndSaved) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    prepareConfig(dir.file("config"));
    const char16_t payload[] = u"drive parameters";
    {
        auto inst = open(dir.file("config"));
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
        // The type's storage is made when it is first asked for.
        ComPtr<IStorage> empty;
        ASSERT_EQ(inst->getTypeStorage(TYPEID_SampleDrive, ACCESS_TYPE_STORAGE, &empty, &ret),
                  S_OK);
        ASSERT_EQ(ret, 0u);
        ComPtr<IStorage> source;
        ASSERT_TRUE(FsFileMan::createMemStorage(&source));
        ComPtr<IStream> stream;
        ASSERT_EQ(source->CreateStream(u"params",
                                       STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                       &stream),
                  S_OK);
        ASSERT_EQ(stream->Write(payload, sizeof payload, nullptr), S_OK);
        stream.Release();
        EXPECT_EQ(inst->setTypeStorage(TYPEID_SampleDrive, ACCESS_TYPE_STORAGE, source.get(), &ret),
                  S_OK);
        EXPECT_EQ(ret, 0u);
        EXPECT_TRUE(inst->isChanged());
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    auto inst = open(dir.file("config"));
    ComPtr<IStorage> copy;
    DWORD ret = 1;
    ASSERT_EQ(inst->getTypeStorage(TYPEID_SampleDrive, ACCESS_TYPE_STORAGE, &copy, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    ASSERT_TRUE(copy);
    ComPtr<IStream> stream;
    ASSERT_EQ(copy->OpenStream(u"params", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream),
              S_OK);
    char16_t back[sizeof payload / sizeof payload[0]] = {};
    ULONG read = 0;
    ASSERT_EQ(stream->Read(back, sizeof back, &read), S_OK);
    EXPECT_EQ(read, sizeof payload);
    EXPECT_EQ(std::u16string(back), std::u16string(payload));
}

// Each damaged section: everything else is read, the file stays open and
// unchanged until something changes, and the first save that writes keeps
// the damaged file beside the new one.
TEST(InstallationFile, ADamagedSectionLeavesTheRestUsableAndIsKeptAtTheFirstChange) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    prepareConfig(dir.file("config"));
    const std::string path = dir.file("config/k4bi00tx.dat");
    {
        auto inst = open(dir.file("config"));
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
        inst->xpathMap().insert(String("names"), String("//ESType/@ESName"));
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    const std::string good = readFile(path);
    struct Damage {
        const char* section;
        std::string bytes;
        bool typesRead, queryRead;
    } damages[] = {
        // More queries announced than present.
        {"xpathqueries", "3 5 names 16 //ESType/@ESName", true, true},
        // Types announced but not there: the document must not describe
        // types the installation no longer holds.
        {"types", "7 ", false, true},
        // Not a number where the count belongs.
        {"tools", "x", true, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.section);
        writeFile(path, good);
        for (const std::string& name : filesIn(dir.file("config")))
            if (name.find(".damaged-") != std::string::npos)
                ::unlink((dir.file("config/") + name).c_str());
        overwriteSection(path, d.section, d.bytes);
        const std::string damaged = readFile(path);
        {
            auto inst = open(dir.file("config"));
            EXPECT_TRUE(inst->isFileOpen());
            EXPECT_FALSE(inst->isChanged());
            const auto ids = inst->typeCont().getTypeIDList();
            EXPECT_EQ(std::count(ids.begin(), ids.end(), TYPEID_SampleDrive), d.typesRead ? 1 : 0);
            EXPECT_EQ(bool(inst->classification().findTypeElement(TYPEID_SampleDrive)),
                      d.typesRead);
            EXPECT_EQ(inst->xpathMap().find(String("names")) != nullptr, d.queryRead);
            DWORD ret = 1;
            EXPECT_EQ(inst->saveChanges(&ret), S_OK);
            EXPECT_EQ(ret, 0u);
        }
        // Looked at, not changed: not a byte written, nothing kept.
        EXPECT_EQ(readFile(path), damaged);
        {
            auto inst = open(dir.file("config"));
            DWORD ret = 1;
            ASSERT_EQ(inst->addTypeByClass(CLSID_SampleCamType, TC_TObject, &ret), S_OK);
            EXPECT_EQ(inst->saveChanges(&ret), S_OK);
            EXPECT_EQ(ret, 0u);
        }
        std::vector<std::string> kept;
        for (const std::string& name : filesIn(dir.file("config")))
            if (name.rfind("k4bi00tx.dat.damaged-", 0) == 0) kept.push_back(name);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(readFile(dir.file("config/") + kept[0]), damaged);
        // The new file reads cleanly, with what could be read and the change.
        auto inst = open(dir.file("config"));
        ASSERT_TRUE(inst->isFileOpen());
        auto ids = inst->typeCont().getTypeIDList();
        EXPECT_EQ(std::count(ids.begin(), ids.end(), TYPEID_SampleCam), 1);
        EXPECT_TRUE(inst->classification().findTypeElement(TYPEID_SampleCam));
        EXPECT_EQ(bool(inst->classification().findTypeElement(TYPEID_SampleDrive)), d.typesRead);
        DWORD ret = 1;
        inst->addSnapInByTypeID(TYPEID_SampleCam, CLSID_SampleExtension, &ret);
        EXPECT_EQ(inst->saveChanges(&ret), S_OK);
        kept.clear();
        for (const std::string& name : filesIn(dir.file("config")))
            if (name.rfind("k4bi00tx.dat.damaged-", 0) == 0) kept.push_back(name);
        EXPECT_EQ(kept.size(), 1u) << "a clean file is kept again";
    }
}
