// The installation file: creation in working-copy mode, the header check,
// saving over the file, and what a crash during a save leaves on disk.
#include "base/fs/FsInstFile.h"
#include "base/fs/FsSectNames.h"
#include "platform/com/ComPtr.h"
#include "platform/win/TextConvert.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readSection(FsSectMan& man, const char* name) {
    FsSecCl* s = man.GetSect(name, 0);
    if (!s) return "<none>";
    std::string text(s->size(), '\0');
    s->read(text.data(), DWORD(text.size()));
    man.CloseSect(name);
    return text;
}

// Files in `dir`, without the writers' lock file, which stays beside the
// installation file for good.
size_t filesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename() != "k4bi00tx.dat.lock") ++n;
    return n;
}

// Opens the file named by FS_SAVE_TARGET directly (no working copy) for
// writing, writes a section, saves, and ends the process without closing or
// destroying anything, as a process that dies after its save would.
ZEB_CHILD_SCENARIO(saveDirectlyAndDie) {
    auto* file = new FsFileMan; // never closed: the process ends right after
    if (file->OpenFile(std::getenv("FS_SAVE_TARGET"), FsFileMan::kFileWrite) != 0)
        return "open failed";
    FsSecCl* types = file->GetSect(FS_SECT_TYPES, FsSectMan::kWrite);
    if (!types) return "no section";
    *types << "saved";
    file->CloseSect(FS_SECT_TYPES);
    return std::to_string(file->saveFile());
}

class FsInstFileTest : public ::testing::Test {
protected:
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv tmp{"TMP", dir.path()};
    std::string path = dir.file("k4bi00tx.dat");
};

TEST_F(FsInstFileTest, GuidNameIsThirtyUpperCaseHexDigits) {
    EXPECT_EQ(FsInst::guidName(makeGuid("132b44c0-7ff7-11d3-8544-0050046a30de")),
              "132B44C07FF711D385440050046A30");
}

TEST_F(FsInstFileTest, NewFileAppearsOnlyWhenSavedAndHoldsTheLayout) {
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
        EXPECT_EQ(file.magic(), 5);
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_TRUE(file.hasWorkingCopy());
        EXPECT_EQ(filesIn(dir.path()), 0u); // the working copy is in memory
        ASSERT_EQ(file.saveFile(), 0u);
        ASSERT_EQ(file.CloseFile(), 0u);
    }
    EXPECT_EQ(filesIn(dir.path()), 1u); // no working copy, no temporary file left
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(path.c_str(), 0), 0u);
    EXPECT_EQ(readSection(file, FS_SECT_HEADER), "5\r\n23 ZEB.BASISES.version.1.0\r\n");
    for (const char* name : {FS_SECT_TOOLS, FS_SECT_TYPES, FS_SECT_XMLTYPES, FS_SECT_XPATHQUERIES})
        EXPECT_EQ(readSection(file, name), "") << name;
    EXPECT_EQ(file.directories().count("132B44C07FF711D385440050046A30"), 1u);
    EXPECT_EQ(file.sections().size(), 5u);
}

TEST_F(FsInstFileTest, MakeEmptyFileLeavesAnExistingFileUntouched) {
    zeb::test::writeFile(path, "precious");
    FsInstFile file;
    EXPECT_EQ(file.makeEmptyFile(path.c_str()), 2u);
    EXPECT_EQ(zeb::test::readFile(path), "precious");
}

TEST_F(FsInstFileTest, OpeningSomethingElseIsRefused) {
    FsInstFile file;
    EXPECT_EQ(file.openExistFile(dir.file("missing.dat").c_str(), 0), 8u);
    zeb::test::writeFile(path, std::string(600, 'x'));
    EXPECT_EQ(file.openExistFile(path.c_str(), 0), 11u);

    const std::string other = dir.file("other.dat");
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(zeb::toWide(other).c_str(),
                                   STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root),
                  S_OK);
        FsSectMan man(root);
        *man.GetSect(FS_SECT_HEADER, FsSectMan::kWrite) << INT(5) << "ZEB.OTHER";
    }
    EXPECT_EQ(file.openExistFile(other.c_str(), 0), 11u);
    EXPECT_EQ(file.storage(), nullptr);
    EXPECT_EQ(filesIn(dir.path()), 2u); // the working copies went with the refusals
}

TEST_F(FsInstFileTest, FileLevelRefusalsCarryTheirCodes) {
    FsFileMan none;
    EXPECT_EQ(none.CloseFile(), 1u);
    EXPECT_EQ(none.OpenFile(dir.file("no/such/dir/a.dat").c_str(), FsFileMan::kFileCreate), 4u);
    EXPECT_EQ(none.saveFile(), 9u); // writable mode, but nothing was opened

    FsInstFile file;
    ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
    EXPECT_EQ(file.OpenFile(path.c_str(), 0), 3u);
    EXPECT_EQ(file.openExistFile(path.c_str(), 0), 3u);
    ASSERT_EQ(file.CloseFile(), 0u);
    EXPECT_EQ(file.saveFile(), 9u);
}

TEST_F(FsInstFileTest, SavedChangesReplaceTheFileAndClosingDropsTheWorkingCopy) {
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
        ASSERT_EQ(file.saveFile(), 0u);
    }
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    const std::string before = zeb::test::readFile(path);
    *file.getTypesSect(FsSectMan::kWrite) << DWORD(0);
    ASSERT_EQ(file.CloseSect(FS_SECT_TYPES), 0u);
    EXPECT_EQ(file.createGuidDir(makeGuid("00000001-0002-0003-0405-060708090A0B")), 0u);
    // Changes stay in the working copy until saved.
    EXPECT_EQ(zeb::test::readFile(path), before);
    EXPECT_EQ(filesIn(dir.path()), 1u);
    ASSERT_EQ(file.saveFile(), 0u);
    ASSERT_EQ(file.CloseFile(), 0u);
    EXPECT_FALSE(file.hasWorkingCopy());
    EXPECT_EQ(filesIn(dir.path()), 1u);
    FsInstFile again;
    ASSERT_EQ(again.openExistFile(path.c_str(), 0), 0u);
    EXPECT_EQ(readSection(again, FS_SECT_TYPES), "0");
    EXPECT_NE(again.openGuidDir(makeGuid("00000001-0002-0003-0405-060708090A0B"), 0), nullptr);
    EXPECT_EQ(again.saveFile(), 13u); // opened read-only
}

TEST_F(FsInstFileTest, SaveWhereTheFolderCannotBeWrittenFailsAndKeepsTheOldFile) {
    // While the file is open, its folder is moved away and a regular file
    // takes the folder's path: nothing can be created there any more, for
    // root as for anyone (a read-only folder would not stop root).
    const std::string sub = dir.file("folder");
    const std::string moved = dir.file("folder.moved");
    std::filesystem::create_directory(sub);
    const std::string target = sub + "/k4bi00tx.dat";
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(target.c_str()), 0u);
        ASSERT_EQ(file.saveFile(), 0u);
    }
    const std::string before = zeb::test::readFile(target);
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(target.c_str(), FsFileMan::kFileWrite), 0u);
    *file.getTypesSect(FsSectMan::kWrite) << DWORD(99);
    file.CloseSect(FS_SECT_TYPES);
    std::filesystem::rename(sub, moved);
    zeb::test::writeFile(sub, "not a folder");
    EXPECT_EQ(file.saveFile(), 14u);
    EXPECT_EQ(zeb::test::readFile(sub), "not a folder");
    std::filesystem::remove(sub);
    std::filesystem::rename(moved, sub);
    EXPECT_EQ(zeb::test::readFile(target), before);
    EXPECT_EQ(filesIn(sub), 1u);
}

TEST_F(FsInstFileTest, AFullDiskDuringSaveFailsAndKeepsTheOldFile) {
    const std::string sub = dir.file("disk");
    std::filesystem::create_directory(sub);
    const std::string target = sub + "/k4bi00tx.dat";
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(target.c_str()), 0u);
        ASSERT_EQ(file.saveFile(), 0u);
    }
    const std::string before = zeb::test::readFile(target);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FsInstFile file;
        if (file.openExistFile(target.c_str(), FsFileMan::kFileWrite) != 0) _exit(2);
        *file.getTypesSect(FsSectMan::kWrite) << std::string(300000, 'x');
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000}; // files cannot grow beyond: a full disk
        setrlimit(RLIMIT_FSIZE, &limit);
        file.CloseSect(FS_SECT_TYPES);
        _exit(int(file.saveFile()));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 14);
    EXPECT_EQ(zeb::test::readFile(target), before);
    EXPECT_EQ(filesIn(sub), 1u);
}

TEST_F(FsInstFileTest, ReadOnlyOpenOfAnExclusivelyHeldFileUsesAWorkingCopy) {
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
        ASSERT_EQ(file.saveFile(), 0u);
    }
    ComPtr<IStorage> holder;
    ASSERT_EQ(StgOpenStorage(zeb::toWide(path).c_str(), nullptr,
                             STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &holder),
              S_OK);
    FsFileMan direct;
    const DWORD r = direct.OpenFile(path.c_str(), 0);
    ASSERT_EQ(r, 0u);
    EXPECT_TRUE(direct.modeFlags() & FsFileMan::kFileWorkingCopy);
    EXPECT_TRUE(direct.hasWorkingCopy());
    EXPECT_EQ(direct.magic(), 5);
    FsFileMan writer;
    EXPECT_EQ(writer.OpenFile(path.c_str(), FsFileMan::kFileWrite), 7u);
}

TEST_F(FsInstFileTest, ASaveWithoutWorkingCopySurvivesTheProcess) {
    {
        FsFileMan file;
        ASSERT_EQ(file.OpenFile(path.c_str(), FsFileMan::kFileCreate), 0u);
        ASSERT_EQ(file.CloseFile(), 0u);
    }
    const auto r = zeb::test::runChildScenario("saveDirectlyAndDie", {{"FS_SAVE_TARGET", path}});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "0");
    FsFileMan file;
    ASSERT_EQ(file.OpenFile(path.c_str(), 0), 0u);
    EXPECT_EQ(readSection(file, FS_SECT_TYPES), "5 saved");
}

// A child saves alternately two contents in a loop and is killed at random
// moments; the file must always open as an installation file holding one of
// the two contents.
TEST_F(FsInstFileTest, AKillDuringSavesLeavesTheOldOrTheNewContent) {
    const std::string a(150000, 'a'), b(150000, 'b');
    {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
        *file.getTypesSect(FsSectMan::kWrite) << a;
        file.CloseSect(FS_SECT_TYPES);
        ASSERT_EQ(file.saveFile(), 0u);
    }
    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                FsInstFile file;
                if (file.openExistFile(path.c_str(), FsFileMan::kFileWrite) != 0) _exit(2);
                FsSecCl* types = file.getTypesSect(FsSectMan::kWrite);
                types->setSize(0);
                *types << ((i + round) % 2 ? b : a);
                file.CloseSect(FS_SECT_TYPES);
                if (file.saveFile() != 0) _exit(3);
            }
        }
        usleep(useconds_t(std::uniform_int_distribution<int>(5000, 120000)(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
        FsInstFile file;
        ASSERT_EQ(file.openExistFile(path.c_str(), 0), 0u) << "round " << round;
        FsSecCl* types = file.getTypesSect(0);
        ASSERT_NE(types, nullptr);
        std::string text;
        *types >> text;
        EXPECT_EQ(types->state(), 0u);
        EXPECT_TRUE(text == a || text == b) << "round " << round;
    }
}

} // namespace
