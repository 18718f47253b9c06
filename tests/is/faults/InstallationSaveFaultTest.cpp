// A save that fails anywhere: every call of its file I/O fails in turn (EIO,
// or a disk that fills up), and every allocation it makes fails in turn.
// Each time the file holds exactly the old or the new content, nothing is
// left beside it, a save that reports success has written the new content,
// and the installation goes on: the next save writes what the failed one
// did not.
#include "tests/is/faults/CountingAllocator.h"
#include "tests/is/faults/FailingIo.h"
#include "tests/is/faults/FaultInstallation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace zeb::test::faults {
namespace {

std::string listed(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

class SaveFaults : public FaultTest {
protected:
    // Changes the installation (round `round`), saves it under `inject` and
    // checks file and object. `inject` runs the save and answers whether
    // its fault was met; with `mustMeet` it must be.
    void saveUnder(ComPtr<CZEBIntInstallation>& inst, long round, Change change,
                   const std::function<bool(HRESULT&, DWORD&)>& inject, bool mustMeet = true) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string whole;
        const Rounds before = roundsOnDisk(whole);
        ASSERT_EQ(whole, "");
        ASSERT_TRUE(applyChange(*inst, round, change));
        const Rounds after = readRounds(*inst);
        ASSERT_NE(after, before);

        HRESULT hr = E_UNEXPECTED;
        DWORD ret = 0xFFFF;
        const bool met = inject(hr, ret);
        if (mustMeet) {
            EXPECT_TRUE(met) << "the fault was never met";
        }
        const bool reported = hr != S_OK || ret != 0;

        const Rounds found = roundsOnDisk(whole);
        EXPECT_EQ(whole, "");
        EXPECT_TRUE(found == before || found == after)
            << "on disk: " << found.describe() << "; before: " << before.describe()
            << "; after: " << after.describe();
        if (!reported) {
            EXPECT_EQ(found, after) << "the save reported success but did not write";
        }
        EXPECT_EQ(listed(leftBeside()), "");
        // The object goes on: it answers, and the next save writes.
        EXPECT_EQ(readRounds(*inst), after);
        EXPECT_EQ(checkWhole(*inst), "");
        ret = 0xFFFF;
        EXPECT_EQ(inst->saveChanges(&ret), S_OK);
        EXPECT_EQ(ret, 0u);
        EXPECT_EQ(roundsOnDisk(whole), after) << "the save after the failed one";
        EXPECT_EQ(whole, "");
    }
};

// The rename that puts the file in place fails once: the types changed are
// not saved, and the next save must write them rather than find nothing
// changed.
TEST_F(SaveFaults, TypesChangedByASaveThatFailedAreWrittenByTheNextSave) {
    ComPtr<CZEBIntInstallation> inst = makeInstallation();
    ASSERT_TRUE(inst);
    ASSERT_TRUE(applyChange(*inst, 7, Change::Types));
    DWORD ret = 0;
    {
        FailingIo io(7, FailingIo::Eio); // mkstemp, close, open, write, fsync, close, rename
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_TRUE(io.fired());
    }
    EXPECT_EQ(ret, 0xBE020006u); // the save failed
    std::string whole;
    EXPECT_EQ(roundsOnDisk(whole).types[0], 0);
    ret = 1;
    ASSERT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    const Rounds found = roundsOnDisk(whole);
    EXPECT_EQ(whole, "");
    EXPECT_EQ(found.types[0], 7);
    EXPECT_EQ(found.types[2], 7);
    EXPECT_EQ(found.tools, 0);
}

TEST_F(SaveFaults, EveryFailingCallOfTheFileWritesLeavesTheOldOrNewFileAndASaveThatGoesOn) {
    ComPtr<CZEBIntInstallation> inst = makeInstallation();
    ASSERT_TRUE(inst);
    unsigned calls = 0;
    ASSERT_TRUE(applyChange(*inst, 1, Change::Everything));
    {
        FailingIo io(0, FailingIo::Eio);
        DWORD ret = 1;
        ASSERT_EQ(inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u);
        calls = io.calls();
    }
    // mkstemp, its close, open, write, fsync, close, rename, and the
    // directory's open, fsync and close.
    ASSERT_EQ(calls, 10u);
    long round = 2;
    int swept = 0;
    for (FailingIo::Fault fault : {FailingIo::Eio, FailingIo::FullDisk}) {
        for (unsigned n = 1; n <= calls; ++n) {
            SCOPED_TRACE(std::string(fault == FailingIo::Eio ? "EIO" : "full disk") + " at call " +
                         std::to_string(n));
            // Each call with each kind of change.
            for (Change change : {Change::Types, Change::Tool, Change::Everything}) {
                saveUnder(inst, round++, change, [&](HRESULT& hr, DWORD& ret) {
                    FailingIo io(n, fault);
                    hr = inst->saveChanges(&ret);
                    return io.fired();
                });
                ++swept;
                if (HasFatalFailure()) return;
            }
        }
    }
    std::printf("save faults: %d failing I/O calls swept (%u calls a save)\n", swept, calls);
}

TEST_F(SaveFaults, EveryFailingAllocationOfASaveLeavesTheOldOrNewFileAndASaveThatGoesOn) {
    ComPtr<CZEBIntInstallation> inst = makeInstallation();
    ASSERT_TRUE(inst);
    // Rounds of three digits: texts of one length, the same allocations.
    long round = 100;
    uint64_t swept = 0;
    for (Change change : {Change::Types, Change::Tool, Change::Everything}) {
        // A dry run counts the allocations of this kind of save.
        uint64_t count = 0;
        ASSERT_TRUE(applyChange(*inst, round++, change));
        {
            CountingAllocator armed(0);
            DWORD ret = 1;
            ASSERT_EQ(inst->saveChanges(&ret), S_OK);
            ASSERT_EQ(ret, 0u);
            count = armed.count();
        }
        ASSERT_GT(count, 10u);
        for (uint64_t n = 1; n <= count; ++n) {
            SCOPED_TRACE("change " + std::to_string(int(change)) + ", allocation " +
                         std::to_string(n) + " of " + std::to_string(count));
            // The dry run's last allocation may grow a container that has
            // room ever after: it need not come again.
            saveUnder(
                inst, round++, change,
                [&](HRESULT& hr, DWORD& ret) {
                    CountingAllocator armed(n);
                    hr = inst->saveChanges(&ret);
                    return armed.failed();
                },
                n < count);
            if (HasFatalFailure()) return;
        }
        swept += count;
    }
    std::printf("save faults: %llu failing allocations swept\n", (unsigned long long)swept);
}

} // namespace
} // namespace zeb::test::faults
