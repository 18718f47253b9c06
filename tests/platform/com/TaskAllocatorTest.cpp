#include "platform/com/TaskAllocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(TaskAllocator, FollowsTheWindowsRulesForZeroNullAndImpossibleSizes) {
    void* empty = CoTaskMemAlloc(0);
    EXPECT_NE(empty, nullptr);
    CoTaskMemFree(empty);
    CoTaskMemFree(nullptr);

    auto* bytes = static_cast<char*>(CoTaskMemRealloc(nullptr, 4));
    ASSERT_NE(bytes, nullptr);
    std::memcpy(bytes, "abc", 4);
    bytes = static_cast<char*>(CoTaskMemRealloc(bytes, 1 << 20));
    ASSERT_NE(bytes, nullptr);
    EXPECT_STREQ(bytes, "abc");
    EXPECT_EQ(CoTaskMemRealloc(bytes, SIZE_MAX - 4), nullptr); // impossible: block kept
    EXPECT_EQ(CoTaskMemRealloc(bytes, 0), nullptr); // freed (ASan would see a leak otherwise)
    EXPECT_EQ(CoTaskMemAlloc(SIZE_MAX), nullptr);
}

} // namespace
