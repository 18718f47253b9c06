#include "platform/win/MemoryStatus.h"

#include "platform/win/Module.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(MemoryStatus, ReportsConsistentFiguresOfThisMachineAndProcess) {
    MEMORYSTATUSEX ex{};
    ex.dwLength = sizeof ex;
    ASSERT_TRUE(GlobalMemoryStatusEx(&ex));
    EXPECT_GT(ex.ullTotalPhys, 16ull << 20);
    EXPECT_LE(ex.ullAvailPhys, ex.ullTotalPhys);
    EXPECT_LE(ex.dwMemoryLoad, 100u);
    EXPECT_GE(ex.ullTotalPageFile, ex.ullTotalPhys);
    EXPECT_LE(ex.ullAvailPageFile, ex.ullTotalPageFile);
    EXPECT_GT(ex.ullTotalVirtual, 0x7FFFFFFFull) << "a 64-bit process owns a large address space";
    EXPECT_LT(ex.ullAvailVirtual, ex.ullTotalVirtual);

    MEMORYSTATUS basic{};
    GlobalMemoryStatus(&basic);
    EXPECT_EQ(basic.dwTotalVirtual, ex.ullTotalVirtual);
    EXPECT_EQ(basic.dwTotalPhys, ex.ullTotalPhys);
}

TEST(MemoryStatus, AWrongLengthIsRefused) {
    MEMORYSTATUSEX ex{};
    ex.dwLength = 12;
    EXPECT_FALSE(GlobalMemoryStatusEx(&ex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GlobalMemoryStatusEx(nullptr));
}

// ---------------------------------------------------------------------------
// The physical figures, read from copies of /proc and the cgroup file system

namespace {

constexpr DWORDLONG kMiB = 1024 * 1024;

// A host with 16 GiB, 8 GiB of it available, 2 GiB of swap with 1 GiB free.
constexpr const char* kMeminfo = "MemTotal:       16777216 kB\n"
                                 "MemFree:         1048576 kB\n"
                                 "MemAvailable:    8388608 kB\n"
                                 "Buffers:          262144 kB\n"
                                 "Cached:          4194304 kB\n"
                                 "SwapTotal:       2097152 kB\n"
                                 "SwapFree:        1048576 kB\n";

class PhysicalMemoryTest : public ::testing::Test {
protected:
    zeb::test::TempDir m_dir;
    std::string m_proc = m_dir.file("proc");
    std::string m_cgroup = m_dir.file("cgroup");

    PhysicalMemoryTest() { put("proc/meminfo", kMeminfo); }

    void put(const std::string& name, const std::string& text) {
        const std::string path = m_dir.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        zeb::test::writeFile(path, text);
    }
    zeb::PhysicalMemory read() {
        zeb::PhysicalMemory memory;
        EXPECT_TRUE(zeb::readPhysicalMemory(m_proc, m_cgroup, memory));
        return memory;
    }
};

} // namespace

TEST_F(PhysicalMemoryTest, TheHostFiguresCountWhatTheKernelCanReclaimAsAvailable) {
    const zeb::PhysicalMemory host = read(); // no cgroup file at all
    EXPECT_EQ(host.total, 16384 * kMiB);
    EXPECT_EQ(host.available, 8192 * kMiB) << "MemAvailable, not MemFree";
    EXPECT_EQ(host.swapTotal, 2048 * kMiB);
    EXPECT_EQ(host.swapFree, 1024 * kMiB);

    // A kernel too old for MemAvailable: free memory, buffers and page cache.
    put("proc/meminfo", "MemTotal: 16777216 kB\nMemFree: 1048576 kB\nBuffers: 262144 kB\n"
                        "Cached: 4194304 kB\n");
    EXPECT_EQ(read().available, (1024 + 256 + 4096) * kMiB);
    EXPECT_EQ(read().swapTotal, 0u);

    std::filesystem::remove(m_proc + "/meminfo");
    zeb::PhysicalMemory none;
    EXPECT_FALSE(zeb::readPhysicalMemory(m_proc, m_cgroup, none));
}

TEST_F(PhysicalMemoryTest, AVersion2LimitCountsOnlyWhatTheCgroupCannotReclaim) {
    put("proc/self/cgroup", "0::/app.slice/zeb.service\n");
    const std::string dir = "cgroup/app.slice/zeb.service/";
    put(dir + "memory.max", "1073741824\n");
    put(dir + "memory.current", "943718400\n"); // 900 MiB, 500 MiB of it inactive page cache
    put(dir + "memory.stat", "anon 314572800\nfile 629145600\nactive_file 104857600\n"
                             "inactive_file 524288000\ninactive_anon 0\n");
    zeb::PhysicalMemory memory = read();
    EXPECT_EQ(memory.total, 1024 * kMiB);
    EXPECT_EQ(memory.available, 624 * kMiB);
    EXPECT_EQ(memory.swapTotal, 2048 * kMiB);

    // Without its statistics nothing counts as reclaimable; without its usage
    // the limit still caps what is available.
    std::filesystem::remove(m_dir.file(dir + "memory.stat"));
    EXPECT_EQ(read().available, 124 * kMiB);
    std::filesystem::remove(m_dir.file(dir + "memory.current"));
    EXPECT_EQ(read().available, 1024 * kMiB);
    EXPECT_EQ(read().total, 1024 * kMiB);
}

TEST_F(PhysicalMemoryTest, AVersion1LimitIsReadFromTheMemoryController) {
    put("proc/self/cgroup", "12:pids:/docker/abc\n4:memory:/docker/abc\n"
                            "1:name=systemd:/docker/abc\n0::/docker/abc\n");
    const std::string dir = "cgroup/memory/docker/abc/";
    put(dir + "memory.limit_in_bytes", "2147483648\n");
    put(dir + "memory.usage_in_bytes", "1610612736\n");
    put(dir + "memory.stat", "cache 1073741824\ninactive_file 1048576\n"
                             "hierarchical_memory_limit 2147483648\n"
                             "total_inactive_file 536870912\n");
    put("cgroup/docker/abc/memory.max", "max\n"); // the unified tree holds no memory controller
    const zeb::PhysicalMemory memory = read();
    EXPECT_EQ(memory.total, 2048 * kMiB);
    EXPECT_EQ(memory.available, 1024 * kMiB);
}

TEST_F(PhysicalMemoryTest, ALimitOfAnEnclosingCgroupApplies) {
    put("proc/self/cgroup", "0::/limited.slice/zeb.service\n");
    put("cgroup/limited.slice/memory.max", "536870912\n");
    put("cgroup/limited.slice/memory.current", "419430400\n");
    put("cgroup/limited.slice/memory.stat", "inactive_file 104857600\n");
    put("cgroup/limited.slice/zeb.service/memory.max", "max\n");
    put("cgroup/limited.slice/zeb.service/memory.current", "104857600\n");
    const zeb::PhysicalMemory memory = read();
    EXPECT_EQ(memory.total, 512 * kMiB);
    EXPECT_EQ(memory.available, 212 * kMiB);
}

TEST_F(PhysicalMemoryTest, AContainerSeesItsOwnCgroupAtTheRootOfTheMount) {
    // The path names the cgroup on the host; the container mounts only its own.
    put("proc/self/cgroup", "4:memory:/docker/abc\n");
    put("cgroup/memory/memory.limit_in_bytes", "1073741824\n");
    put("cgroup/memory/memory.usage_in_bytes", "536870912\n");
    put("cgroup/memory/memory.stat", "total_inactive_file 0\n");
    EXPECT_EQ(read().total, 1024 * kMiB);
    EXPECT_EQ(read().available, 512 * kMiB);
}

TEST_F(PhysicalMemoryTest, AnUnlimitedOrMissingCgroupLeavesTheHostFigures) {
    put("proc/self/cgroup", "0::/\n");
    put("cgroup/memory.max", "max\n");
    put("cgroup/memory.current", "17179869184\n");
    EXPECT_EQ(read().total, 16384 * kMiB);
    EXPECT_EQ(read().available, 8192 * kMiB);

    put("proc/self/cgroup", "4:memory:/\n");
    put("cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"); // "no limit" in v1
    put("cgroup/memory/memory.usage_in_bytes", "17179869184\n");
    EXPECT_EQ(read().total, 16384 * kMiB);
    EXPECT_EQ(read().available, 8192 * kMiB);

    put("proc/self/cgroup", "0::/gone\n"); // a cgroup whose files cannot be found
    std::filesystem::remove_all(m_cgroup);
    EXPECT_EQ(read().total, 16384 * kMiB);
    EXPECT_EQ(read().available, 8192 * kMiB);
}

TEST_F(PhysicalMemoryTest, ACgroupNeverReportsMoreThanTheHostHasAvailable) {
    put("proc/self/cgroup", "0::/big\n");
    put("cgroup/big/memory.max", "12884901888\n"); // 12 GiB of the host's 16
    put("cgroup/big/memory.current", "1073741824\n");
    put("cgroup/big/memory.stat", "inactive_file 2147483648\n"); // more than the usage: racy
    EXPECT_EQ(read().total, 12288 * kMiB);
    EXPECT_EQ(read().available, 8192 * kMiB) << "the host's MemAvailable";
}
