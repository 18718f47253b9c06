#include "base/falloc/CAllocPool.h"
#include "base/falloc/String.h"

#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Record : CAllocPool<128> { // 24 bytes: the 24-byte pool
    uint64_t id = 0;
    String name;
    String version;
};
static_assert(sizeof(Record) == 24);

struct Shape : CAllocPool<128> {
    virtual ~Shape() = default;
    uint64_t a = 0;
};
struct BigShape : Shape { // 64 bytes
    char more[48] = {};
};
static_assert(sizeof(Shape) == 16 && sizeof(BigShape) == 64);

struct alignas(32) Aligned : CAllocPool<128> {
    char data[32];
};

struct Large : CAllocPool<128> {
    char data[200];
};

uint64_t used(uint32_t poolSize) {
    return CAllocPoolImpl::modulePool(poolSize)->stats().usedBlocks;
}

TEST(AllocPoolClass, ObjectsComeFromThePoolOfTheirSizeClass) {
    ASSERT_TRUE(CAllocPoolImpl::modulePool(24)->pooled()) << "test registry sets PURIFY_MODE";
    const uint64_t before24 = used(24);
    auto* r = new Record;
    r->name = "PmGlobCommon";
    EXPECT_EQ(used(24), before24 + 1);
    delete r;
    EXPECT_EQ(used(24), before24);

    // Released through the base: the sized delete passes the dynamic size.
    const uint64_t before64 = used(64), before16 = used(16);
    Shape* s = new BigShape;
    EXPECT_EQ(used(64), before64 + 1);
    delete s;
    EXPECT_EQ(used(64), before64);
    EXPECT_EQ(used(16), before16);

    // Over-aligned and oversized objects, arrays and placement stay off the pools.
    uint64_t all = 0;
    for (uint32_t size : {16u, 24u, 32u, 40u, 48u, 56u, 64u, 72u, 120u})
        all += used(size);
    auto* aligned = new Aligned;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 32, 0u);
    auto* large = new Large;
    auto* many = new Record[3];
    alignas(Record) unsigned char place[sizeof(Record)];
    auto* placed = new (place) Record;
    uint64_t after = 0;
    for (uint32_t size : {16u, 24u, 32u, 40u, 48u, 56u, 64u, 72u, 120u})
        after += used(size);
    EXPECT_EQ(after, all);
    placed->~Record();
    delete[] many;
    delete large;
    delete aligned;
}

// Two threads build and destroy records (each with pooled String members)
// and hand half of them to the other thread to destroy.
TEST(AllocPoolClass, RecordsCreatedAndDestroyedOnTwoThreads) {
    const uint64_t before = used(24);
    std::vector<Record*> fromA, fromB;
    auto work = [](std::vector<Record*>& keep, int salt) {
        std::vector<Record*> live;
        for (int i = 0; i < 5000; ++i) {
            auto* r = new Record;
            r->id = uint64_t(i);
            r->name = ("Type" + std::to_string(i * salt)).c_str();
            r->version = "1.0";
            (i % 2 ? keep : live).push_back(r);
            if (live.size() > 50) {
                for (Record* x : live)
                    delete x;
                live.clear();
            }
        }
        for (Record* x : live)
            delete x;
    };
    std::thread a(work, std::ref(fromA), 3), b(work, std::ref(fromB), 7);
    a.join();
    b.join();
    std::thread da([&] {
        for (Record* r : fromB)
            delete r;
    });
    std::thread db([&] {
        for (Record* r : fromA)
            delete r;
    });
    da.join();
    db.join();
    EXPECT_EQ(used(24), before);
}

// String buffers: 16 bytes for up to 4 characters, 32 for 5 to 20, 64 for 21
// to 52 (from those pools when string pooling is built in), larger from the
// heap.
TEST(StringBuffers, SmallBuffersComeFromTheirPoolOnlyWhenStringPoolingIsOn) {
    const std::pair<size_t, uint32_t> cases[] = {{1, 16},  {4, 16},  {5, 32}, {20, 32},
                                                 {21, 64}, {52, 64}, {53, 0}, {300, 0}};
    for (const auto& [length, pool] : cases) {
        const uint64_t before16 = used(16), before32 = used(32), before64 = used(64);
        String s(std::string(length, 'x'));
        const uint64_t grew = (used(16) - before16) + (used(32) - before32) + (used(64) - before64);
        if (StringBuffer::pooled() && pool) {
            EXPECT_EQ(used(pool), (pool == 16   ? before16
                                   : pool == 32 ? before32
                                                : before64) +
                                      1)
                << length;
            EXPECT_EQ(grew, 1u) << length;
        } else {
            EXPECT_EQ(grew, 0u) << length;
        }
        EXPECT_EQ(s.capacity() + 12, pool ? pool : (length == 53 ? 128u : 512u)) << length;
    }
}

std::string moduleChunks() {
    uint64_t chunks = 0;
    bool pooled = false;
    for (uint32_t size : {12u, 16u, 20u, 24u, 28u, 32u, 36u, 40u, 48u, 56u, 64u, 72u, 80u, 88u, 96u,
                          104u, 112u, 120u}) {
        chunks += CAllocPoolImpl::modulePool(size)->stats().chunks;
        pooled = pooled || CAllocPoolImpl::modulePool(size)->pooled();
    }
    return std::string(pooled ? "pooled" : "heap") + " chunks=" + std::to_string(chunks);
}

ZEB_CHILD_SCENARIO(poolsUnderSwitch) {
    std::vector<std::unique_ptr<Record>> records;
    std::vector<String> names;
    for (int i = 0; i < 1000; ++i) {
        records.push_back(std::make_unique<Record>());
        records.back()->name = "PmGlobCommon.1.1";
        names.emplace_back("Axis");
    }
    std::string result = moduleChunks();
    records.clear(); // released with the switch as read
    return result;
}

std::string registryWithPurify(const zeb::test::TempDir& dir, const char* value) {
    const std::string reg = dir.file(std::string("purify") + (value ? value : "none") + ".reg");
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis]\r\n";
    if (value) text += std::string("\"PURIFY_MODE\"=dword:") + value + "\r\n";
    zeb::test::writeFile(reg, text);
    return reg;
}

TEST(AllocPoolSwitch, PurifyModeBitZeroSendsEveryBlockToTheHeap) {
    zeb::test::TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"00000001", "heap chunks=0"},
        {"00000003", "heap chunks=0"},
        // 1000 records of 24 bytes fill 8 chunks of 128; with string pooling
        // the 1000 names of 32-byte and 1000 of 16-byte buffers 8 each more.
        {"00000002", StringBuffer::pooled() ? "pooled chunks=24" : "pooled chunks=8"},
        {nullptr, StringBuffer::pooled() ? "pooled chunks=24" : "pooled chunks=8"}};
    for (const auto& [value, expected] : cases) {
        const auto r = zeb::test::runChildScenario(
            "poolsUnderSwitch", {{"ZEB_REGISTRY", registryWithPurify(dir, value)}});
        EXPECT_EQ(r.exitCode, 0) << (value ? value : "absent");
        EXPECT_EQ(r.output, expected) << (value ? value : "absent");
    }
}

// Objects whose storage outlives the pools' own statics: the holder below is
// constructed during static initialisation, before the pools exist, so it is
// destroyed after anything the pools' first use registered for exit.
struct LateHolder {
    std::unique_ptr<Record> record;
    String name;
    ~LateHolder() {
        record.reset();
        name = String();
    }
};
LateHolder g_lateHolder;

ZEB_CHILD_SCENARIO(releaseAfterStaticsEnd) {
    g_lateHolder.record = std::make_unique<Record>();
    g_lateHolder.record->name = "Released after the pools' statics";
    g_lateHolder.name = "Axis.1.0.12";
    std::exit(0); // runs the static destructors; the scenario's own result is not needed
}

TEST(AllocPoolLifetime, BlocksReleasedDuringStaticDestructionAfterThePools) {
    zeb::test::TempDir dir;
    const auto r = zeb::test::runChildScenario("releaseAfterStaticsEnd",
                                               {{"ZEB_REGISTRY", dir.file("registry.reg")}});
    EXPECT_EQ(r.exitCode, 0);
}

} // namespace
