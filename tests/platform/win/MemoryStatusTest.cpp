#include "platform/win/MemoryStatus.h"

#include "platform/win/Module.h"

#include <gtest/gtest.h>

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
