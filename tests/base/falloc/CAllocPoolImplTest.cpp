#include "base/falloc/CAllocPoolImpl.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Pooling = CAllocPoolImpl::Pooling;

uintptr_t addr(void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

TEST(AllocPoolLayout, ANewChunkHandsOutBlocksInAddressOrderBehindTheirLinks) {
    CAllocPoolImpl eight(24, 4, Pooling::Pooled); // 24 is a multiple of 8: 8-byte link
    EXPECT_EQ(eight.linkSize(), 8u);
    std::vector<void*> a;
    for (int i = 0; i < 4; ++i)
        a.push_back(CAllocPoolImpl::allocate(&eight, 24));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(addr(a[i]) - addr(a[i - 1]), 32u) << i;
    EXPECT_EQ(addr(a[0]) % 8, 0u) << "8-byte links keep blocks aligned";

    CAllocPoolImpl four(20, 4, Pooling::Pooled); // 20 is not: 4-byte link
    EXPECT_EQ(four.linkSize(), 4u);
    std::vector<void*> b;
    for (int i = 0; i < 4; ++i)
        b.push_back(CAllocPoolImpl::allocate(&four, 20));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(addr(b[i]) - addr(b[i - 1]), 24u) << i;

    for (void* p : a)
        CAllocPoolImpl::release(&eight, p);
    for (void* p : b)
        CAllocPoolImpl::release(&four, p);
    EXPECT_EQ(eight.stats().usedBlocks, 0u);
    EXPECT_EQ(four.stats().usedBlocks, 0u);
}

TEST(AllocPoolLayout, ElementSizesRoundUpToFourAndZeroCountFillsAPage) {
    EXPECT_EQ(CAllocPoolImpl(1, 1, Pooling::Pooled).elementSize(), 4u);
    EXPECT_EQ(CAllocPoolImpl(0, 1, Pooling::Pooled).elementSize(), 4u);
    EXPECT_EQ(CAllocPoolImpl(13, 1, Pooling::Pooled).elementSize(), 16u);
    EXPECT_EQ(CAllocPoolImpl(13, 1, Pooling::Pooled).linkSize(), 8u);
    EXPECT_EQ(CAllocPoolImpl(14, 1, Pooling::Pooled).linkSize(), 8u);
    EXPECT_EQ(CAllocPoolImpl(17, 1, Pooling::Pooled).elementSize(), 20u);
    if (sysconf(_SC_PAGESIZE) != 4096) GTEST_SKIP() << "page size is not 4096";
    EXPECT_EQ(CAllocPoolImpl(16, 0, Pooling::Pooled).elementsPerChunk(), 251u); // (4096-80)/16
    EXPECT_EQ(CAllocPoolImpl(120, 0, Pooling::Pooled).elementsPerChunk(), 33u);
}

TEST(AllocPoolReuse, ARecentlyReleasedBlockIsHandedOutFirst) {
    CAllocPoolImpl pool(16, 8, Pooling::Pooled);
    void* a = CAllocPoolImpl::allocate(&pool, 16);
    void* b = CAllocPoolImpl::allocate(&pool, 16);
    void* c = CAllocPoolImpl::allocate(&pool, 16);
    CAllocPoolImpl::release(&pool, b);
    CAllocPoolImpl::release(&pool, a);
    EXPECT_EQ(CAllocPoolImpl::allocate(&pool, 16), a);
    EXPECT_EQ(CAllocPoolImpl::allocate(&pool, 16), b);
    void* d = CAllocPoolImpl::allocate(&pool, 16);
    EXPECT_EQ(addr(d) - addr(c), 24u); // then the untouched rest in address order
    for (void* p : {a, b, c, d})
        CAllocPoolImpl::release(&pool, p);
}

TEST(AllocPoolSpare, TheFirstEmptiedChunkIsKeptAndASecondGoesBackToTheHeap) {
    CAllocPoolImpl pool(16, 4, Pooling::Pooled);
    std::vector<void*> first;
    for (int i = 0; i < 4; ++i)
        first.push_back(CAllocPoolImpl::allocate(&pool, 16));
    EXPECT_EQ(pool.stats().chunks, 1u);
    EXPECT_EQ(pool.stats().chunksWithFree, 0u); // a full chunk leaves the list
    void* second = CAllocPoolImpl::allocate(&pool, 16);
    EXPECT_EQ(pool.stats().chunks, 2u);

    for (void* p : first)
        CAllocPoolImpl::release(&pool, p);
    auto s = pool.stats();
    EXPECT_EQ(s.chunks, 2u);
    EXPECT_TRUE(s.spare);
    EXPECT_EQ(s.chunksWithFree, 1u); // only the second chunk

    CAllocPoolImpl::release(&pool, second);
    s = pool.stats();
    EXPECT_EQ(s.chunks, 1u) << "the second emptied chunk must go back to the heap";
    EXPECT_TRUE(s.spare);
    EXPECT_EQ(s.chunksWithFree, 0u);
    EXPECT_EQ(s.usedBlocks, 0u);

    // Allocating and releasing across the boundary reuses the spare each time.
    for (int i = 0; i < 100; ++i) {
        void* p = CAllocPoolImpl::allocate(&pool, 16);
        EXPECT_FALSE(pool.stats().spare);
        CAllocPoolImpl::release(&pool, p);
        ASSERT_EQ(pool.stats().chunks, 1u);
    }
    pool.trim();
    EXPECT_TRUE(pool.stats().spare);
}

TEST(AllocPoolHeap, AHeapPoolAllocatesNoChunkAndNullBlocksAreIgnored) {
    CAllocPoolImpl pool(32, 4, Pooling::Heap);
    std::vector<void*> blocks;
    for (int i = 0; i < 10; ++i) {
        blocks.push_back(CAllocPoolImpl::allocate(&pool, 32));
        std::memset(blocks.back(), 0x5A, 32);
    }
    EXPECT_EQ(pool.stats().chunks, 0u);
    for (void* p : blocks)
        CAllocPoolImpl::release(&pool, p);
    CAllocPoolImpl::release(&pool, nullptr);
    CAllocPoolImpl::release(nullptr, nullptr);
    void* loose = CAllocPoolImpl::allocate(nullptr, 300); // no pool: the heap
    std::memset(loose, 1, 300);
    CAllocPoolImpl::release(nullptr, loose);
}

TEST(AllocPoolSizeClass, ObjectSizesMapToTheModulePoolsAtTheBoundaries) {
    const std::pair<size_t, uint32_t> cases[] = {{1, 16},  {8, 16},    {9, 16},   {16, 16},
                                                 {17, 24}, {24, 24},   {25, 32},  {64, 64},
                                                 {65, 72}, {113, 120}, {120, 120}};
    for (const auto& [size, pool] : cases) {
        CAllocPoolImpl* p = CAllocPoolImpl::poolForObjectSize(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(p->elementSize(), pool) << size;
        EXPECT_EQ(p->elementsPerChunk(), 128u) << size;
    }
    EXPECT_EQ(CAllocPoolImpl::poolForObjectSize(0), nullptr);
    EXPECT_EQ(CAllocPoolImpl::poolForObjectSize(121), nullptr);

    const uint32_t sizes[] = {12, 16, 20, 24, 28, 32, 36,  40,  48,
                              56, 64, 72, 80, 88, 96, 104, 112, 120};
    for (uint32_t size : sizes) {
        CAllocPoolImpl* p = CAllocPoolImpl::modulePool(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(p->elementSize(), size);
        EXPECT_EQ(p->linkSize(), size % 8 == 0 ? 8u : 4u);
    }
    for (uint32_t none : {0u, 4u, 8u, 44u, 52u, 124u, 128u, 13u})
        EXPECT_EQ(CAllocPoolImpl::modulePool(none), nullptr) << none;
}

// Blocks taken on one thread and released on another, while a second pair
// of threads churns the same pool: the per-pool lock keeps the lists whole.
TEST(AllocPoolThreads, BlocksReleasedOnAnotherThreadKeepThePoolConsistent) {
    CAllocPoolImpl pool(32, 8, Pooling::Pooled);
    constexpr int kBlocks = 20000;
    std::mutex m;
    std::condition_variable cv;
    std::deque<void*> handed;
    bool done = false;
    int corrupt = 0;

    std::thread producer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            void* p = CAllocPoolImpl::allocate(&pool, 32);
            std::memset(p, i & 0xFF, 32);
            std::lock_guard<std::mutex> hold(m);
            handed.push_back(p);
            cv.notify_one();
        }
        std::lock_guard<std::mutex> hold(m);
        done = true;
        cv.notify_one();
    });
    std::thread consumer([&] {
        for (int i = 0;; ++i) {
            void* p;
            {
                std::unique_lock<std::mutex> hold(m);
                cv.wait(hold, [&] { return !handed.empty() || done; });
                if (handed.empty()) return;
                p = handed.front();
                handed.pop_front();
            }
            const auto* bytes = static_cast<unsigned char*>(p);
            for (int k = 0; k < 32; ++k)
                if (bytes[k] != (i & 0xFF)) ++corrupt;
            CAllocPoolImpl::release(&pool, p);
        }
    });
    std::thread churn([&] {
        std::vector<void*> mine;
        for (int i = 0; i < kBlocks; ++i) {
            mine.push_back(CAllocPoolImpl::allocate(&pool, 32));
            if (mine.size() > 13) {
                for (void* p : mine)
                    CAllocPoolImpl::release(&pool, p);
                mine.clear();
            }
        }
        for (void* p : mine)
            CAllocPoolImpl::release(&pool, p);
    });
    producer.join();
    consumer.join();
    churn.join();
    EXPECT_EQ(corrupt, 0);
    const auto s = pool.stats();
    EXPECT_EQ(s.usedBlocks, 0u);
    EXPECT_EQ(s.chunks, 1u); // only the spare is left
    EXPECT_TRUE(s.spare);
}

#if defined(__SANITIZE_ADDRESS__)
#define ZEB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEB_TEST_ASAN 1
#endif
#endif

#ifdef ZEB_TEST_ASAN
// Pooled memory would hide these from AddressSanitizer without poisoning.
TEST(AllocPoolSanitizerDeathTest, UseAfterReleaseAndOverflowAreReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CAllocPoolImpl pool(24, 8, Pooling::Pooled);
            auto* p = static_cast<volatile char*>(CAllocPoolImpl::allocate(&pool, 24));
            void* keep = CAllocPoolImpl::allocate(&pool, 24);
            CAllocPoolImpl::release(&pool, const_cast<char*>(p));
            p[3] = 1;
            CAllocPoolImpl::release(&pool, keep);
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            CAllocPoolImpl pool(24, 8, Pooling::Pooled);
            auto* p = static_cast<volatile char*>(CAllocPoolImpl::allocate(&pool, 24));
            p[24] = 1; // into the next slot's link
            CAllocPoolImpl::release(&pool, const_cast<char*>(p));
        },
        "use-after-poison");
}
#endif

} // namespace
