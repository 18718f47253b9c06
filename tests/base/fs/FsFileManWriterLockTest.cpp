// One writer at a time: an open for writing holds the file against every
// other open for writing (same object kind, other thread, other process)
// until it is closed or its process dies; readers pass; the lock outlives
// the save that renames a new file over the old one.
#include "base/fs/FsInstFile.h"
#include "base/fs/FsSectNames.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string ownProgramName() {
    std::string name = zeb::test::readFile("/proc/self/comm");
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// A child process that opens `path` for writing, reports on `ready` and
// then waits for a byte on `go` (or its end) before it does `last`.
enum class ChildEnd { exitWithoutClosing, closeAndExit, waitToBeKilled };

struct WriterChild {
    pid_t pid = -1;
    int go = -1;
};

WriterChild startWriter(const std::string& path, ChildEnd last) {
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        auto* file = new FsInstFile; // the process ends without destroying it
        const char ok = file->openExistFile(path.c_str(), FsFileMan::kFileWrite) == 0 ? 'y' : 'n';
        if (::write(ready[1], &ok, 1) != 1) _exit(4);
        char byte = 0;
        if (last == ChildEnd::waitToBeKilled)
            for (;;)
                ::pause();
        (void)::read(go[0], &byte, 1);
        if (last == ChildEnd::closeAndExit) file->CloseFile();
        _exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char ok = 0;
    const bool started = pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 'y';
    ::close(ready[0]);
    if (!started) {
        ::close(go[1]);
        return {};
    }
    return {pid, go[1]};
}

// Waits for the child's end; a living child is told to go on first.
void reap(WriterChild& child) {
    ::close(child.go);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
}

void finish(WriterChild& child) {
    const char byte = 'x';
    (void)::write(child.go, &byte, 1);
    reap(child);
}

class FsFileManWriterLock : public ::testing::Test {
protected:
    void SetUp() override {
        FsInstFile file;
        ASSERT_EQ(file.makeEmptyFile(path.c_str()), 0u);
        ASSERT_EQ(file.saveFile(), 0u);
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv tmp{"TMP", dir.path()};
    std::string path = dir.file("k4bi00tx.dat");
};

TEST_F(FsFileManWriterLock, ASecondWriterIsRefusedWith15AndTheHolderNamedWhileReadersPass) {
    FsInstFile first;
    ASSERT_EQ(first.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    EXPECT_EQ(first.writerLockHolder().pid, 0);

    // Another object, on another thread of this process: refused all the same.
    FsInstFile second;
    DWORD refused = 0;
    std::thread([&] {
        refused = second.openExistFile(path.c_str(), FsFileMan::kFileWrite);
    }).join();
    EXPECT_EQ(refused, 15u);
    EXPECT_EQ(second.storage(), nullptr);
    EXPECT_EQ(second.writerLockHolder().pid, ::getpid());
    EXPECT_EQ(second.writerLockHolder().name, ownProgramName());
    EXPECT_EQ(FsWriterLock::describe(second.writerLockHolder()),
              "pid " + std::to_string(::getpid()) + ", " + ownProgramName());
    // A plain file manager and a create are writers too.
    FsFileMan plain;
    EXPECT_EQ(plain.OpenFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    FsFileMan create;
    EXPECT_EQ(create.OpenFile(path.c_str(), FsFileMan::kFileCreate), 15u);

    FsInstFile reader;
    EXPECT_EQ(reader.openExistFile(path.c_str(), 0), 0u);
    EXPECT_EQ(reader.magic(), 5);

    ASSERT_EQ(first.CloseFile(), 0u);
    EXPECT_EQ(second.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    EXPECT_EQ(second.writerLockHolder().pid, 0);
}

TEST_F(FsFileManWriterLock, TheLockSurvivesTheSaveThatReplacesTheFile) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    FsInstFile writer;
    ASSERT_EQ(writer.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    *writer.getTypesSect(FsSectMan::kWrite) << DWORD(7);
    ASSERT_EQ(writer.CloseSect(FS_SECT_TYPES), 0u);
    ASSERT_EQ(writer.saveFile(), 0u);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_NE(after.st_ino, before.st_ino); // a new file took the name

    FsInstFile other;
    EXPECT_EQ(other.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    ASSERT_EQ(writer.saveFile(), 0u);
    EXPECT_EQ(other.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    ASSERT_EQ(writer.CloseFile(), 0u);
    EXPECT_EQ(other.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
}

TEST_F(FsFileManWriterLock, AWriterInAnotherProcessHoldsTheFileUntilItClosesOrDies) {
    for (ChildEnd end : {ChildEnd::closeAndExit, ChildEnd::exitWithoutClosing}) {
        WriterChild child = startWriter(path, end);
        ASSERT_GT(child.pid, 0);
        FsInstFile file;
        EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
        EXPECT_EQ(file.writerLockHolder().pid, child.pid);
        EXPECT_EQ(file.openExistFile(path.c_str(), 0), 0u); // reading is never refused
        ASSERT_EQ(file.CloseFile(), 0u);
        finish(child);
        EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    }
    WriterChild killed = startWriter(path, ChildEnd::waitToBeKilled);
    ASSERT_GT(killed.pid, 0);
    FsInstFile file;
    EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    ::kill(killed.pid, SIGKILL);
    // Nothing is written to a killed child: the write would raise SIGPIPE.
    reap(killed);
    EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
}

TEST_F(FsFileManWriterLock, AForkedChildClosingItsCopyLeavesTheParentsLockInPlace) {
    FsInstFile writer;
    ASSERT_EQ(writer.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(writer.CloseFile() == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    FsInstFile other;
    EXPECT_EQ(other.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    EXPECT_EQ(other.writerLockHolder().pid, ::getpid());
}

TEST_F(FsFileManWriterLock, AProgramStartedByTheWriterDoesNotKeepTheLock) {
    // A child takes the lock, starts a long-running program and, when told,
    // dies: from then on the program must not hold the file.
    int report[2], go[2];
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        ::close(go[1]);
        auto* file = new FsInstFile; // the process ends without destroying it
        if (file->openExistFile(path.c_str(), FsFileMan::kFileWrite) != 0) _exit(2);
        pid_t program = 0;
        char sleepName[] = "sleep", seconds[] = "30";
        char* argv[] = {sleepName, seconds, nullptr};
        if (::posix_spawnp(&program, "sleep", nullptr, nullptr, argv, environ) != 0) _exit(3);
        if (::write(report[1], &program, sizeof program) != sizeof program) _exit(4);
        char byte = 0;
        (void)::read(go[0], &byte, 1);
        _exit(0);
    }
    ::close(report[1]);
    ::close(go[0]);
    pid_t program = 0;
    const bool reported = ::read(report[0], &program, sizeof program) == sizeof program;
    ::close(report[0]);
    FsInstFile file;
    EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
    EXPECT_EQ(file.writerLockHolder().pid, child);
    ::close(go[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(reported);
    ASSERT_GT(program, 0);
    EXPECT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    ::kill(program, SIGKILL);
}

TEST_F(FsFileManWriterLock, APidLeftInTheLockFileBlocksNobodyAndIsReplaced) {
    // The pid of a process that is gone, as a crashed writer leaves it.
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ::waitpid(gone, nullptr, 0);
    zeb::test::writeFile(dir.file("k4bi00tx.dat.lock"), std::to_string(gone) + "\n");

    FsInstFile writer;
    ASSERT_EQ(writer.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    EXPECT_EQ(zeb::test::readFile(dir.file("k4bi00tx.dat.lock")),
              std::to_string(::getpid()) + "\n");
    ASSERT_EQ(writer.CloseFile(), 0u);
    EXPECT_EQ(zeb::test::readFile(dir.file("k4bi00tx.dat.lock")), "");
}

TEST_F(FsFileManWriterLock, TheNextWriterRemovesWhatAKilledWriterLeftAndNothingElse) {
    WriterChild killed = startWriter(path, ChildEnd::waitToBeKilled);
    ASSERT_GT(killed.pid, 0);
    // The temporary of a replacement of the file that never took its name.
    const std::string replacing = dir.file(".k4bi00tx.dat.Qx7pL2");
    zeb::test::writeFile(replacing, "half a file");
    // Not theirs: another file's temporary, a longer name.
    const std::string others[] = {dir.file(".other.dat.Qx7pL2"), dir.file(".k4bi00tx.dat.Qx7pL2x"),
                                  dir.file("k4bi00tx.dat.Qx7pL2")};
    for (const std::string& other : others)
        zeb::test::writeFile(other, "keep");
    ::kill(killed.pid, SIGKILL);
    reap(killed);
    auto exists = [](const std::string& file) { return ::access(file.c_str(), F_OK) == 0; };

    // A reader holds no lock: it leaves everything where it is.
    FsInstFile reader;
    ASSERT_EQ(reader.openExistFile(path.c_str(), 0), 0u);
    ASSERT_EQ(reader.CloseFile(), 0u);
    EXPECT_TRUE(exists(replacing));

    FsInstFile writer;
    ASSERT_EQ(writer.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    EXPECT_FALSE(exists(replacing));
    for (const std::string& other : others)
        EXPECT_TRUE(exists(other)) << other;
    EXPECT_EQ(writer.magic(), 5); // the file itself is untouched
}

TEST_F(FsFileManWriterLock, AFailedOpenForWritingLetsTheLockGo) {
    const std::string good = zeb::test::readFile(path);
    zeb::test::writeFile(path, std::string(600, 'x'));
    FsInstFile failed;
    EXPECT_EQ(failed.openExistFile(path.c_str(), FsFileMan::kFileWrite), 11u);
    zeb::test::writeFile(path, good);
    FsInstFile writer;
    EXPECT_EQ(writer.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    FsInstFile other;
    EXPECT_EQ(other.openExistFile(path.c_str(), FsFileMan::kFileWrite), 15u);
}

} // namespace
