// The installation reached from other threads. The runtime hands out the
// object itself, not a proxy, so references are taken and dropped on other
// threads (interface table, holders), and a weak type object whose last
// holder lives on a worker thread dies there and calls the installation
// back. These paths must be safe while the owner's thread keeps working.
#include "tests/is/HandledInstallation.h"
#include "tests/is/ScriptedType.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using zeb::test::ScriptedClass;

class InstallationThreads : public zeb::test::HandledInstallation {
protected:
    // Installs the type and turns its cached object weak: the returned
    // reference is then the only one.
    ComPtr<IUnknown> installWeak(ScriptedClass& type, GUID& id) {
        DWORD ret = 0;
        EXPECT_EQ(inst->addTypeByClass(type.clsid, TC_Library, &ret), S_OK);
        EXPECT_EQ(ret, 0u);
        id = type.script->typeId;
        ComPtr<IUnknown> cached, native;
        EXPECT_EQ(inst->getTypeByID(id, &cached, &ret), S_OK);
        EXPECT_EQ(inst->createNativeTypeObject(id, ACCESS_NATIVE_OBJECT, &native, &ret), S_OK);
        EXPECT_EQ(ret, 0xBE020006u); // in use: the cached object turned weak
        type.script->cacheCalls = 0;
        return cached;
    }
};

TEST_F(InstallationThreads, ReferencesTakenOnOtherThreadsAreCounted) {
    IMC_Installation* raw = inst.get();
    std::atomic<bool> stop{false};
    std::atomic<int> running{0};
    auto hammer = [&] {
        ++running;
        while (running < 2)
            std::this_thread::yield();
        while (!stop) {
            for (int i = 0; i < 1000; ++i)
                raw->AddRef();
            for (int i = 0; i < 1000; ++i)
                raw->Release();
        }
    };
    std::thread a(hammer), b(hammer);
    while (running < 2)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(raw->AddRef(), 2u); // ours and this one: nothing lost, nothing extra
    EXPECT_EQ(raw->Release(), 1u);
}

TEST_F(InstallationThreads, AWeakObjectDyingOnAWorkerLeavesTheCacheWhileTheOwnerWorks) {
    ScriptedClass lib("Lib.1.0");
    GUID id{};
    ComPtr<IUnknown> weak = installWeak(lib, id);
    std::atomic<bool> go{false}, dead{false};
    std::thread worker([&, object = std::move(weak)]() mutable {
        while (!go)
            std::this_thread::yield();
        object.Release(); // the last reference: dies here and calls back
        dead = true;
    });
    // The owner keeps installing, looking up and removing other types.
    for (int round = 0; round < 400 && !(dead && round > 20); ++round) {
        if (round == 10) go = true;
        ScriptedClass other("Other" + std::to_string(round) + ".1.0");
        DWORD ret = 0, count = 0;
        EXPECT_EQ(inst->addTypeByClass(other.clsid, TC_Library, &ret), S_OK);
        ComPtr<IUnknown> obj;
        EXPECT_EQ(inst->getTypeByID(other.script->typeId, &obj, &ret), S_OK);
        GUID* ids = nullptr;
        EXPECT_EQ(inst->getTypeIDList(&count, &ids), S_OK);
        CoTaskMemFree(ids);
        obj.Release();
        EXPECT_EQ(inst->removeType(other.script->typeId, &ret), S_OK);
        EXPECT_EQ(ret, 0u);
    }
    go = true;
    worker.join();
    EXPECT_EQ(lib.script->alive, 0);
    EXPECT_EQ(lib.script->cacheCalls, 1);
    EXPECT_EQ(lib.script->lastCacheRet, 0u); // taken out of the cache
    EXPECT_EQ(inst->typeCont().findEntry(id)->m_spTypeObject, nullptr);
    DWORD ret = 0;
    ComPtr<IUnknown> native;
    EXPECT_EQ(inst->createNativeTypeObject(id, ACCESS_NATIVE_OBJECT, &native, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
}

TEST_F(InstallationThreads, AnObjectDyingOnAWorkerIsServedWhileTheOwnerWaitsForThatWorker) {
    ScriptedClass lib("Lib.1.0"), step("Step.1.0");
    GUID libId{};
    ComPtr<IUnknown> weak = installWeak(lib, libId);
    step.script->installStep = true;
    DWORD ret = 0;
    ASSERT_EQ(inst->addTypeByClass(step.clsid, TC_Library, &ret), S_OK);
    GUID stepId = step.script->typeId;
    zeb::Bstr key(u"BI_STEP"), value(u"1");
    ASSERT_EQ(inst->setAttributeByTypeID(stepId, key, value, &ret), S_OK);
    // The step's worker drops the last reference to the weak object before it
    // reports the step finished; the owner waits for that report meanwhile.
    step.script->onStep = [&weak] { weak.Release(); };
    ComPtr<IUnknown> native;
    EXPECT_EQ(inst->createNativeTypeObject(stepId, ACCESS_NATIVE_OBJECT, &native, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_NE(native, nullptr);
    EXPECT_EQ(step.script->steps, 1);
    EXPECT_EQ(lib.script->alive, 0);
    EXPECT_EQ(lib.script->lastCacheRet, 0u);
    EXPECT_EQ(inst->typeCont().findEntry(libId)->m_spTypeObject, nullptr);
}

} // namespace
