// The deferred save ("SaveAsync" = 1): a save that may wait starts a
// two-minute timer of the owner's thread and writes nothing; the timer,
// delivered by the owner's message loop, writes. A save asked for on another
// thread starts the owner's timer, never one of its own. Releasing the
// object writes what is pending; a timer that outlives its object does
// nothing. Timer and other threads' saves never deadlock.
//
// Two minutes are not waited for: the tests deliver the WM_TIMER that the
// platform would deliver (posted, then dispatched by the thread's loop, which
// calls the procedure only for a live timer of that very thread).
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsFileMan.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using zeb::test::readFile;

namespace {

const char* const kBasisKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis";

ComPtr<CZEBIntInstallation> open(const std::string& dir) {
    ComPtr<CZEBIntInstallation> inst;
    EXPECT_EQ(CZEBIntInstallation::createObject(&inst, dir), S_OK);
    return inst;
}

// A change: the attribute "PBI_NOTE" of the container's internal type.
void note(CZEBIntInstallation* inst, const char* value) {
    zeb::Bstr key("PBI_NOTE"), text(value);
    DWORD ret = 1;
    EXPECT_EQ(inst->setAttributeByTypeID(CIsTypeCont::kInternalTypeId, key, text, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
}

// The note as the installation file holds it (read by a new object: call it
// when no other object of the directory lives).
std::string storedNote(const std::string& dir) {
    auto inst = open(dir);
    zeb::Bstr key("PBI_NOTE");
    BSTR value = nullptr;
    DWORD ret = 1;
    inst->getAttributeByTypeID(CIsTypeCont::kInternalTypeId, key, &value, &ret);
    std::string text = value ? zeb::toNarrow(std::u16string_view(value, SysStringLen(value))) : "";
    SysFreeString(value);
    return text;
}

DWORD saveChanges(CZEBIntInstallation* inst) {
    DWORD ret = 1;
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    return ret;
}

// Runs what the calling thread's queue holds, as its message loop would.
void pumpPosted() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Delivers timer `id` to the calling thread's loop.
void fireTimer(UINT_PTR id) {
    PostThreadMessageW(GetCurrentThreadId(), WM_TIMER, id,
                       reinterpret_cast<LPARAM>(&CZEBIntInstallation::autoSave));
    pumpPosted();
}

class SaveTimer : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(config.c_str(), 0755);
        ASSERT_TRUE(zeb::RegistryStore::writeDword(kBasisKey, "SaveAsync", 1));
    }
    std::string file() const { return config + "/k4bi00tx.dat"; }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = dir.file("config");
};

// Releases the object with its timer armed, then delivers that timer and
// others that never named an object, and saves while the timer runs.
ZEB_CHILD_SCENARIO(timerMessagesWithoutObject) {
    const std::string config = std::getenv("ZEB_TEST_CONFIG");
    ::mkdir(config.c_str(), 0755);
    zeb::RegistryStore::writeDword(kBasisKey, "SaveAsync", 1);
    auto inst = open(config);
    const std::string before = readFile(config + "/k4bi00tx.dat");
    note(inst.get(), "pending");
    saveChanges(inst.get());
    saveChanges(inst.get()); // restarts the running timer
    const UINT_PTR id = inst->saveTimerId();
    CZEBIntInstallation::autoSave(nullptr, WM_TIMER, 4242, 0);
    CZEBIntInstallation::autoSave(nullptr, WM_USER, id, 0);
    CZEBIntInstallation::autoSave(nullptr, WM_TIMER, 0, 0);
    std::string out = readFile(config + "/k4bi00tx.dat") == before ? "unchanged" : "written";
    inst.Release();
    out += readFile(config + "/k4bi00tx.dat") == before ? " unchanged" : " written";
    CZEBIntInstallation::autoSave(nullptr, WM_TIMER, id, 0); // the released object's timer
    return out + " " + std::to_string(id);
}

} // namespace

TEST_F(SaveTimer, ADeferredSaveWritesOnlyWhenTheOwnersTimerFires) {
    auto inst = open(config);
    const std::string before = readFile(file());
    note(inst.get(), "one");
    EXPECT_EQ(saveChanges(inst.get()), 0u);
    EXPECT_EQ(readFile(file()), before);
    EXPECT_TRUE(inst->isSaveTimerRunning());
    const UINT_PTR first = inst->saveTimerId();
    ASSERT_NE(first, 0u);
    // Two minutes: not due yet.
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_TIMER), DWORD(WAIT_TIMEOUT));
    // Another save restarts the two minutes; the first timer is gone.
    note(inst.get(), "two");
    EXPECT_EQ(saveChanges(inst.get()), 0u);
    const UINT_PTR second = inst->saveTimerId();
    EXPECT_NE(second, first);
    fireTimer(first);
    EXPECT_EQ(readFile(file()), before);
    fireTimer(second);
    EXPECT_NE(readFile(file()), before);
    EXPECT_FALSE(inst->isSaveTimerRunning());
    EXPECT_EQ(inst->saveTimerId(), 0u);
    inst.Release();
    EXPECT_EQ(storedNote(config), "two");
}

TEST_F(SaveTimer, ASaveOnAWorkerStartsTheTimerOfTheOwnersThread) {
    auto inst = open(config);
    const std::string before = readFile(file());
    note(inst.get(), "from a worker");
    std::atomic<int> stage{0};
    std::atomic<UINT_PTR> id{0};
    std::thread worker([&] {
        EXPECT_EQ(saveChanges(inst.get()), 0u);
        EXPECT_EQ(inst->saveTimerId(), 0u) << "no timer of the worker's";
        stage = 1;
        while (stage != 2)
            Sleep(1);
        // The owner's timer, delivered on this thread, calls nothing.
        MSG msg{nullptr, WM_TIMER, id, reinterpret_cast<LPARAM>(&CZEBIntInstallation::autoSave), 0};
        DispatchMessageW(&msg);
        stage = 3;
    });
    while (stage != 1)
        Sleep(1);
    EXPECT_TRUE(inst->isSaveTimerRunning()) << "pending from the request on";
    EXPECT_EQ(readFile(file()), before);
    pumpPosted(); // the owner's loop takes the request and starts the timer
    id = inst->saveTimerId();
    EXPECT_NE(id, 0u);
    stage = 2;
    while (stage != 3)
        Sleep(1);
    worker.join();
    EXPECT_EQ(readFile(file()), before);
    fireTimer(id);
    EXPECT_NE(readFile(file()), before);
    EXPECT_FALSE(inst->isSaveTimerRunning());
    inst.Release();
    EXPECT_EQ(storedNote(config), "from a worker");
}

TEST_F(SaveTimer, ASaveWritesAtOnceWhenTheOwnersThreadHasEnded) {
    ComPtr<CZEBIntInstallation> inst;
    std::thread([&] { inst = open(config); }).join();
    const std::string before = readFile(file());
    note(inst.get(), "orphan");
    EXPECT_EQ(saveChanges(inst.get()), 0u);
    EXPECT_NE(readFile(file()), before);
    EXPECT_FALSE(inst->isSaveTimerRunning());
    EXPECT_EQ(inst->saveTimerId(), 0u);
    inst.Release();
    EXPECT_EQ(storedNote(config), "orphan");
}

TEST_F(SaveTimer, ReleasingWithASavePendingWritesIt) {
    {
        auto inst = open(config);
        note(inst.get(), "timer armed");
        EXPECT_EQ(saveChanges(inst.get()), 0u);
        EXPECT_NE(inst->saveTimerId(), 0u);
    }
    EXPECT_EQ(storedNote(config), "timer armed");
    {
        // Asked for on a worker; the owner's loop has not started it yet.
        auto inst = open(config);
        note(inst.get(), "request posted");
        std::thread([&] { EXPECT_EQ(saveChanges(inst.get()), 0u); }).join();
        EXPECT_TRUE(inst->isSaveTimerRunning());
        EXPECT_EQ(inst->saveTimerId(), 0u);
    }
    EXPECT_EQ(storedNote(config), "request posted");
    pumpPosted(); // the request of the released object finds nothing
    {
        // setTypeStorage starts the timer whatever "SaveAsync" says.
        ASSERT_TRUE(zeb::RegistryStore::writeDword(kBasisKey, "SaveAsync", 0));
        auto inst = open(config);
        DWORD ret = 1;
        ComPtr<IStorage> storage;
        ASSERT_EQ(
            inst->getTypeStorage(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE, &storage, &ret),
            S_OK);
        ASSERT_EQ(ret, 0u);
        const std::string before = readFile(file());
        EXPECT_EQ(inst->setTypeStorage(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE,
                                       storage.get(), &ret),
                  S_OK);
        EXPECT_EQ(ret, 0u);
        EXPECT_NE(inst->saveTimerId(), 0u);
        EXPECT_EQ(readFile(file()), before);
        inst.Release();
        EXPECT_NE(readFile(file()), before);
    }
}

TEST_F(SaveTimer, ATimerThatNamesNoObjectIsTracedAndDoesNothing) {
    auto run =
        zeb::test::runTraced("timerMessagesWithoutObject", "all", {{"ZEB_TEST_CONFIG", config}});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto space = run.output.rfind(' ');
    ASSERT_NE(space, std::string::npos);
    EXPECT_EQ(run.output.substr(0, space), "unchanged written");
    const std::string id = run.output.substr(space + 1);
    EXPECT_EQ(run.linesWith("redundant call: saveTimer has already been started").size(), 1u);
    EXPECT_EQ(run.linesWith("found no installation interface for cookie 4242").size(), 1u);
    EXPECT_EQ(run.linesWith("found no installation interface for cookie " + id).size(), 1u);
    EXPECT_EQ(run.linesWith("received wrong message").size(), 1u);
    EXPECT_EQ(run.linesWith("no cookie specified").size(), 1u);
    EXPECT_TRUE(run.linesWith("error save changes").empty());
}

// The owner's timer fires while a worker replaces a type's storage, which
// holds the object while it copies and then stops the running timer. The
// timer procedure must not hold the timer map while it waits for the object,
// or the worker, waiting for the map, never lets go of the object.
TEST_F(SaveTimer, ATimerFiringWhileAWorkerHoldsTheObjectDoesNotDeadlock) {
    constexpr int kRounds = 4;
    ComPtr<CZEBIntInstallation> inst;
    // A storage big enough that copying it takes a while.
    ComPtr<IStorage> big;
    ASSERT_TRUE(FsFileMan::createMemStorage(&big));
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(big->CreateStream(u"bulk", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                    0, &stream),
                  S_OK);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 24; ++i)
            ASSERT_EQ(stream->Write(chunk.data(), ULONG(chunk.size()), nullptr), S_OK);
    }
    std::atomic<int> go{0}, copied{0}, finished{0};
    std::thread owner([&] {
        inst = open(config);
        DWORD ret = 1;
        ComPtr<IStorage> section; // made on first use
        inst->getTypeStorage(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE, &section, &ret);
        for (int round = 1; round <= kRounds; ++round) {
            note(inst.get(), ("round " + std::to_string(round)).c_str());
            saveChanges(inst.get()); // the owner's timer runs
            const UINT_PTR id = inst->saveTimerId();
            go = round;
            Sleep(20); // the worker copies, holding the object
            fireTimer(id);
            while (copied != round) {
                pumpPosted();
                Sleep(1);
            }
        }
        ++finished;
    });
    std::thread worker([&] {
        for (int round = 1; round <= kRounds; ++round) {
            while (go != round)
                Sleep(1);
            DWORD ret = 1;
            inst->setTypeStorage(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE, big.get(),
                                 &ret);
            copied = round;
        }
        ++finished;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (finished < 2 && std::chrono::steady_clock::now() < deadline)
        Sleep(10);
    if (finished < 2) {
        std::fprintf(stderr, "the timer save and the worker deadlocked\n");
        std::_Exit(1);
    }
    owner.join();
    worker.join();
    inst.Release();
    EXPECT_EQ(storedNote(config), "round 4");
}
