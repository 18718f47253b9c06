// A load that runs out of memory: every allocation of opening an existing
// installation fails in turn. The load either fails (no object, or an object
// without a file) or holds everything the file holds: never a part of it
// that a later save would write back. Nothing is left beside the file, and
// the next writer is not refused.
#include "samples/SampleIds.h"
#include "tests/is/faults/CountingAllocator.h"
#include "tests/is/faults/FaultInstallation.h"

#include <gtest/gtest.h>

#include <string>

namespace zeb::test::faults {
namespace {

class LoadFaults : public FaultTest {};

TEST_F(LoadFaults, EveryFailingAllocationOfALoadFailsOrLoadsEverything) {
    {
        ComPtr<CZEBIntInstallation> inst = makeInstallation();
        ASSERT_TRUE(inst);
        ASSERT_TRUE(applyChange(*inst, 100, Change::Everything));
        ASSERT_TRUE(inst->save(true));
    }
    std::string whole;
    Rounds stored = roundsOnDisk(whole);
    ASSERT_EQ(whole, "");
    uint64_t count = 0;
    {
        ComPtr<CZEBIntInstallation> inst;
        HRESULT hr = E_UNEXPECTED;
        {
            CountingAllocator armed(0);
            hr = CZEBIntInstallation::createObject(&inst, config);
            count = armed.count();
        }
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(checkWhole(*inst), "");
    }
    ASSERT_GT(count, 100u);
    uint64_t swept = 0, loaded = 0;
    long round = 101;
    for (uint64_t n = 1; n <= count; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(count));
        ComPtr<CZEBIntInstallation> inst;
        HRESULT hr = E_UNEXPECTED;
        bool failed = false;
        {
            CountingAllocator armed(n);
            hr = CZEBIntInstallation::createObject(&inst, config);
            failed = armed.failed();
        }
        ++swept;
        if (n + 1 < count) {
            EXPECT_TRUE(failed) << "the allocation never came";
        }
        if (hr == S_OK && inst->isFileOpen()) {
            ++loaded;
            EXPECT_FALSE(inst->isReadOnly());
            EXPECT_EQ(checkWhole(*inst), "");
            EXPECT_EQ(readRounds(*inst), stored);
            // What a save of the loaded object writes is whole.
            ASSERT_TRUE(applyChange(*inst, round++, Change::Tool));
            DWORD ret = 0xFFFF;
            EXPECT_EQ(inst->saveChanges(&ret), S_OK);
            EXPECT_EQ(ret, 0u);
            stored = readRounds(*inst);
            inst.Release();
            EXPECT_EQ(roundsOnDisk(whole), stored);
            EXPECT_EQ(whole, "");
        } else if (hr == S_OK) {
            // Loaded nothing: it answers, and it writes nothing over the file.
            EXPECT_EQ(inst->typeCont().isType(zeb::samples::numberedTypeId(0)), false);
            inst.Release();
        } else {
            EXPECT_FALSE(inst);
        }
        EXPECT_EQ(roundsOnDisk(whole), stored);
        EXPECT_EQ(whole, "");
        EXPECT_TRUE(leftBeside().empty()) << *leftBeside().begin();
        if (HasFailure()) return; // one allocation's faults tell enough
    }
    std::printf("load faults: %llu failing allocations swept, %llu of them loaded everything\n",
                (unsigned long long)swept, (unsigned long long)loaded);
}

} // namespace
} // namespace zeb::test::faults
