// A process killed while it saves never leaves a broken compound file: the
// file on disk always opens and holds either the old or the new tree.
#include "StorageTestUtil.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace zeb::test;

namespace {

// Version v of the tree: a large and a small stream that both name v.
HRESULT saveVersion(const std::u16string& path, int v) {
    ComPtr<IStorage> root;
    HRESULT hr = StgOpenStorage(path.c_str(), nullptr, kRw, nullptr, 0, &root);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = putStream(root, u"Large",
                              std::string(60000 + v % 7 * 1000, static_cast<char>(v)))))
        return hr;
    if (FAILED(hr = putStream(root, u"Small", std::to_string(v)))) return hr;
    return root->Commit(STGC_DEFAULT);
}

TEST(CrashSafety, AProcessKilledWhileSavingLeavesTheOldOrTheNewTree) {
    TempDir dir;
    std::u16string path = w(dir.file("a.dat"));
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(path.c_str(), kNew, 0, &root), S_OK);
    }
    ASSERT_EQ(saveVersion(path, 1), S_OK);
    std::mt19937 random(12345);
    int last = 1;
    // Twenty kills, and more until some saves have completed (slow disks).
    for (int round = 0; round < 20 || (last == 1 && round < 100); ++round) {
        int start = last + 1;
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int v = start;; v += 1)
                if (FAILED(saveVersion(path, v))) _exit(2);
        }
        usleep(5000 + random() % 150000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child stopped by itself";

        ComPtr<IStorage> root;
        ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, kRead, nullptr, 0, &root), S_OK) << round;
        int v = std::stoi(getStream(root, u"Small"));
        EXPECT_GE(v, last);
        EXPECT_EQ(getStream(root, u"Large"),
                  std::string(60000 + v % 7 * 1000, static_cast<char>(v)));
        last = v;
    }
    EXPECT_GT(last, 1); // some saves completed
    // The next writer removes the temporaries that killed saves left behind.
    ASSERT_EQ(saveVersion(path, last + 1), S_OK);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

} // namespace
