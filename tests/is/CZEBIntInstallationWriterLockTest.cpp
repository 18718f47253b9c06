// Two installation objects on one installation file, in one process or in
// two: the first is the writer; the second reads everything but cannot save
// over the first one's work, and says who holds the file.
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsFileMan.h"
#include "is/xml/DefaultStylesheets.h"
#include "samples/SampleIds.h"
#include "tests/co/ChildScenario.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

std::string ownProgramName() {
    std::string name = readFile("/proc/self/comm");
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", unsigned(value));
    return text;
}

ComPtr<CZEBIntInstallation> open(const std::string& dir) {
    ComPtr<CZEBIntInstallation> inst;
    EXPECT_EQ(CZEBIntInstallation::createObject(&inst, dir), S_OK);
    return inst;
}

// The installation `dir` with the sample drive installed and saved.
void installDrive(const std::string& dir) {
    ::mkdir(dir.c_str(), 0755);
    zeb::classification::installDefaultStylesheets(dir);
    auto inst = open(dir);
    DWORD ret = 1;
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    ASSERT_EQ(inst->saveChanges(&ret), S_OK);
    ASSERT_EQ(ret, 0u);
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 3000; ++i) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A second object while another writer holds the file: what it read, what
// its save and a type-storage change answered, and whether it still has the
// file open.
ZEB_CHILD_SCENARIO(secondObjectSavesAChange) {
    if (!zeb::samples::registerServer()) return std::string("no samples");
    auto inst = open(std::getenv("ZEB_TEST_CONFIG"));
    std::string out = "readonly=" + std::to_string(inst->isReadOnly());
    out += " holder=" + std::to_string(inst->lockHolder().pid);
    out += " drive=" + std::to_string(inst->typeCont().isType(TYPEID_SampleDrive));
    DWORD ret = 0;
    inst->addSnapInByTypeID(TYPEID_SampleDrive, CLSID_SampleExtension, &ret);
    inst->saveChanges(&ret);
    out += " save=" + hex(ret);
    ComPtr<IStorage> source;
    FsFileMan::createMemStorage(&source);
    inst->setTypeStorage(TYPEID_SampleDrive, ACCESS_TYPE_STORAGE, source.get(), &ret);
    out += " storage=" + hex(ret);
    out += " open=" + std::to_string(inst->isFileOpen());
    return out;
}

// Holds the installation as its writer until the parent says so.
ZEB_CHILD_SCENARIO(holdTheInstallation) {
    if (!zeb::samples::registerServer()) return std::string("no samples");
    auto inst = open(std::getenv("ZEB_TEST_CONFIG"));
    const std::string ready = std::getenv("ZEB_TEST_READY");
    writeFile(ready + ".tmp",
              std::to_string(::getpid()) + " " + std::to_string(inst->isReadOnly()));
    std::rename((ready + ".tmp").c_str(), ready.c_str());
    return waitForFile(std::getenv("ZEB_TEST_RELEASE")) ? "released" : "not released";
}

class InstallationWriterLock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        installDrive(config);
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = dir.file("config");
    std::string path = dir.file("config/k4bi00tx.dat");
};

TEST_F(InstallationWriterLock, ASecondObjectReadsEverythingButCannotSaveOverTheFirst) {
    auto first = open(config);
    EXPECT_FALSE(first->isReadOnly());
    EXPECT_EQ(first->lockHolder().pid, 0);

    auto second = open(config);
    EXPECT_TRUE(second->isFileOpen());
    EXPECT_TRUE(second->isReadOnly());
    EXPECT_EQ(second->lockHolder().pid, ::getpid());
    EXPECT_TRUE(second->typeCont().isType(TYPEID_SampleDrive));
    EXPECT_FALSE(second->isChanged());
    DWORD ret = 1;
    EXPECT_EQ(second->saveChanges(&ret), S_OK); // nothing to write: nothing refused
    EXPECT_EQ(ret, 0u);

    // The first writer's change is saved; the second's must not replace it.
    ASSERT_EQ(first->addSnapInByTypeID(TYPEID_SampleDrive, CLSID_SampleExtension, &ret), S_OK);
    ASSERT_EQ(first->saveChanges(&ret), S_OK);
    ASSERT_EQ(ret, 0u);
    const std::string written = readFile(path);
    ASSERT_EQ(second->removeType(TYPEID_SampleDrive, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    EXPECT_TRUE(second->isChanged());
    EXPECT_EQ(second->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0xBE020006u);
    EXPECT_EQ(readFile(path), written);
    EXPECT_TRUE(second->isChanged()); // the change is still there, unsaved
    EXPECT_TRUE(second->isFileOpen());

    // Once both let go, a new object is the writer again.
    first.Release();
    second.Release();
    auto third = open(config);
    EXPECT_FALSE(third->isReadOnly());
    EXPECT_TRUE(third->typeCont().isType(TYPEID_SampleDrive)); // the first's save stands
    ASSERT_EQ(third->removeType(TYPEID_SampleDrive, &ret), S_OK);
    EXPECT_EQ(third->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    third.Release();
    EXPECT_FALSE(open(config)->typeCont().isType(TYPEID_SampleDrive));
}

TEST_F(InstallationWriterLock, TheRefusedSaveTracesWhoHoldsTheFile) {
    auto writer = open(config);
    ASSERT_FALSE(writer->isReadOnly());
    const std::string before = readFile(path);
    auto run =
        zeb::test::runTraced("secondObjectSavesAChange", "all", {{"ZEB_TEST_CONFIG", config}});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "readonly=1 holder=" + std::to_string(::getpid()) +
                              " drive=1 save=BE020006 storage=BE020006 open=1");
    const std::string refusal = "installation file is locked by another writer (pid " +
                                std::to_string(::getpid()) + ", " + ownProgramName() + ")";
    EXPECT_EQ(run.linesWith(refusal + ", opened read-only").size(), 1u) << run.text;
    bool saveRefused = false;
    for (const std::string& line : run.linesWith(refusal))
        if (line.find("CZEBIntInstallation::save") != std::string::npos) saveRefused = true;
    EXPECT_TRUE(saveRefused) << run.text;
    EXPECT_EQ(readFile(path), before);
}

TEST_F(InstallationWriterLock, AWriterInAChildProcessRefusesTheParentsObject) {
    const std::string ready = dir.file("ready"), release = dir.file("release");
    auto child = std::async(std::launch::async, [&] {
        return zeb::test::runChildScenario("holdTheInstallation", {{"ZEB_TEST_CONFIG", config},
                                                                   {"ZEB_TEST_READY", ready},
                                                                   {"ZEB_TEST_RELEASE", release}});
    });
    const bool started = waitForFile(ready);
    if (!started) writeFile(release, "");
    ASSERT_TRUE(started);
    const std::string childState = readFile(ready);
    const pid_t childPid = std::stoi(childState);
    EXPECT_EQ(childState, std::to_string(childPid) + " 0"); // the child is the writer

    {
        auto inst = open(config);
        EXPECT_TRUE(inst->isReadOnly());
        EXPECT_EQ(inst->lockHolder().pid, childPid);
        // The child was started as /proc/self/exe: that is its program name.
        EXPECT_EQ(inst->lockHolder().name, "exe");
        EXPECT_TRUE(inst->typeCont().isType(TYPEID_SampleDrive));
        DWORD ret = 1;
        ASSERT_EQ(inst->removeType(TYPEID_SampleDrive, &ret), S_OK);
        EXPECT_EQ(inst->saveChanges(&ret), S_OK);
        EXPECT_EQ(ret, 0xBE020006u);
    }
    writeFile(release, "");
    const auto result = child.get();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "released");

    auto inst = open(config);
    EXPECT_FALSE(inst->isReadOnly());
    EXPECT_TRUE(inst->typeCont().isType(TYPEID_SampleDrive));
}

} // namespace

TEST(InstallationOpenMode, AReaderTakesNoLockCreatesNothingAndCannotSave) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ASSERT_TRUE(zeb::samples::registerServer());
    const std::string config = dir.file("config");
    ::mkdir(config.c_str(), 0755);
    ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
    using Mode = CZEBIntInstallation::OpenMode;
    // No file: a reader makes none.
    {
        ComPtr<CZEBIntInstallation> reader;
        ASSERT_EQ(CZEBIntInstallation::createObject(&reader, config, Mode::ReadOnly), S_OK);
        EXPECT_FALSE(reader->isFileOpen());
        EXPECT_EQ(::access((config + "/k4bi00tx.dat").c_str(), F_OK), -1);
    }
    ComPtr<CZEBIntInstallation> writer;
    ASSERT_EQ(CZEBIntInstallation::createObject(&writer, config), S_OK);
    DWORD ret = 1;
    ASSERT_EQ(writer->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    ASSERT_EQ(writer->saveChanges(&ret), S_OK);
    ASSERT_EQ(ret, 0u);
    writer.Release();

    // A reader open beside a writer that arrives later: both read, the
    // writer is not turned away and saves; the reader's changes are refused.
    ComPtr<CZEBIntInstallation> reader;
    ASSERT_EQ(CZEBIntInstallation::createObject(&reader, config, Mode::ReadOnly), S_OK);
    EXPECT_TRUE(reader->isReadOnly());
    EXPECT_TRUE(reader->typeCont().isType(TYPEID_SampleDrive));
    ASSERT_EQ(CZEBIntInstallation::createObject(&writer, config), S_OK);
    EXPECT_FALSE(writer->isReadOnly());
    ASSERT_EQ(writer->addTypeByClass(CLSID_SampleAxisType, TC_TObject, &ret), S_OK);
    EXPECT_EQ(writer->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    const std::string saved = zeb::test::readFile(config + "/k4bi00tx.dat");
    ASSERT_EQ(reader->addTypeByClass(CLSID_SampleCamType, TC_TObject, &ret), S_OK);
    EXPECT_EQ(reader->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0xBE020006u);
    EXPECT_EQ(zeb::test::readFile(config + "/k4bi00tx.dat"), saved);
}
