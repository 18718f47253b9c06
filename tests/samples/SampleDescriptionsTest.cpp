// The description interfaces of the sample type objects keep the memory
// contract the installation relies on when it writes the classification
// document: every string and list handed out is a task allocation of its own
// that the caller frees (ASan reports a shared, static or twice-freed block),
// and a null out-pointer gives E_POINTER.
#include "h/IMC_TypeDescription.h"
#include "h/IMC_TypeObject.h"
#include "platform/com/Activation.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "samples/SampleIds.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

// Everything one caller received; freed the way the installation frees it.
struct Received {
    std::vector<void*> blocks;
    std::vector<BSTR> texts;
    void add(void* p) { blocks.push_back(p); }
    ~Received() {
        for (void* p : blocks)
            CoTaskMemFree(p);
        for (BSTR s : texts)
            SysFreeString(s);
    }
};

// Named after the folder, so that `ctest -R samples` selects these tests.
class samples : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zeb::samples::registerServer()); }
    // The type object as the class factory hands it out, then the interface.
    template <class I> ComQIPtr<I> create(const CLSID& clsid) {
        ComPtr<IMC_TypeIdent> spIType;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, uuidof<IMC_TypeIdent>(),
                                   reinterpret_cast<void**>(&spIType)),
                  S_OK);
        return ComQIPtr<I>(spIType);
    }
    // Asks every description of the samples once, keeping what comes back.
    void describeAll(Received& r) {
        DWORD n = 0, ret = 0;
        auto drive = create<IMC_SubObjects>(CLSID_SampleDriveType);
        ASSERT_TRUE(drive);
        ZEB_SubObjectEntry* subs = nullptr;
        ASSERT_EQ(drive->getSubObjectEntryList(&n, &subs), S_OK);
        r.add(subs);
        for (DWORD i = 0; i < n; ++i)
            r.add(subs[i].lpszName);
        ComQIPtr<IMC_ConnectorProps> conn(drive);
        ZEB_ConnectorProps* props = nullptr;
        ASSERT_EQ(conn->getConnectorPropsList(&n, &props, &ret), S_OK);
        r.add(props);
        for (DWORD i = 0; i < n; ++i)
            r.add(props[i].lpszName);
        for (const CLSID& clsid : {CLSID_SampleDriveType, CLSID_SampleAxisType}) {
            auto cls = create<IMC_ObjectClassification>(clsid);
            ASSERT_TRUE(cls);
            r.texts.resize(r.texts.size() + 2);
            ASSERT_EQ(cls->getTypeESTypeGroup(&r.texts.end()[-2]), S_OK);
            ASSERT_EQ(cls->getTypeESTypeSubGroup(&r.texts.end()[-1]), S_OK);
        }
        auto axis = create<IMC_TPTNavigate>(CLSID_SampleAxisType);
        ASSERT_TRUE(axis);
        RTTypeID* rtIds = nullptr;
        ASSERT_EQ(axis->getTObjectTypeRTIDList(&n, &rtIds, &ret), S_OK);
        r.add(rtIds);
        for (const CLSID& clsid : {CLSID_SampleDriveType, CLSID_SampleCamType}) {
            auto sd = create<IMC_SDNavigate>(clsid);
            ASSERT_TRUE(sd);
            ZEB_SDHeaderDetails header{};
            ASSERT_EQ(sd->getSDHeaderDetails(&header, &ret), S_OK);
            r.add(header.lpszName);
            r.add(header.pRanges);
            const ZEB_OAApplSelection all{};
            ZEB_OAApplDetails* apps = nullptr;
            DWORD appCount = 0;
            ASSERT_EQ(sd->getApplicationTypeDetailsList(0, &all, &appCount, &apps, &ret), S_OK);
            r.add(apps);
            for (DWORD a = 0; a < appCount; ++a) {
                r.add(apps[a].lpszOAApplSymbol);
                DWORD* classes = nullptr;
                DWORD classCount = 0;
                ASSERT_EQ(sd->getApplicationSupportedDOClasses(0, apps[a].rtID, &classCount,
                                                               &classes, &ret),
                          S_OK);
                r.add(classes);
                for (DWORD c = 0; c < classCount; ++c) {
                    // The per-class list is what the OAApp elements come from:
                    // it names the application that supports the class.
                    ZEB_OAApplSelection byClass{};
                    byClass.dwType = classes[c];
                    ZEB_OAApplDetails* ofClass = nullptr;
                    ASSERT_EQ(sd->getApplicationTypeDetailsList(0, &byClass, &n, &ofClass, &ret),
                              S_OK);
                    r.add(ofClass);
                    bool named = false;
                    for (DWORD k = 0; k < n; ++k) {
                        r.add(ofClass[k].lpszOAApplSymbol);
                        named = named || ofClass[k].rtID == apps[a].rtID;
                    }
                    EXPECT_TRUE(named) << "class " << classes[c];
                }
            }
        }
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
};

TEST_F(samples, EveryStringAndListIsATaskAllocationOfItsOwn) {
    Received r;
    describeAll(r);
    describeAll(r); // a second caller's copies are not the first's
    std::set<void*> distinct(r.blocks.begin(), r.blocks.end());
    distinct.erase(nullptr); // count 0 comes with a null list (the drive has no applications)
    EXPECT_EQ(distinct.size() + std::count(r.blocks.begin(), r.blocks.end(), nullptr),
              r.blocks.size());
    EXPECT_EQ(std::set<BSTR>(r.texts.begin(), r.texts.end()).size(), r.texts.size());
}

TEST_F(samples, NullOutPointersGiveEPointer) {
    DWORD n = 0, ret = 0;
    auto subs = create<IMC_SubObjects>(CLSID_SampleDriveType);
    ZEB_SubObjectEntry* entries = nullptr;
    EXPECT_EQ(subs->getSubObjectEntryList(nullptr, &entries), E_POINTER);
    EXPECT_EQ(subs->getSubObjectEntryList(&n, nullptr), E_POINTER);
    ComQIPtr<IMC_ConnectorProps> conn(subs);
    ZEB_ConnectorProps* props = nullptr;
    EXPECT_EQ(conn->getConnectorPropsList(nullptr, &props, &ret), E_POINTER);
    EXPECT_EQ(conn->getConnectorPropsList(&n, nullptr, &ret), E_POINTER);
    EXPECT_EQ(conn->getConnectorPropsList(&n, &props, nullptr), E_POINTER);
    auto tpt = create<IMC_TPTNavigate>(CLSID_SampleAxisType);
    RTTypeID* rtIds = nullptr;
    EXPECT_EQ(tpt->getTObjectTypeRTIDList(nullptr, &rtIds, &ret), E_POINTER);
    EXPECT_EQ(tpt->getTObjectTypeRTIDList(&n, nullptr, &ret), E_POINTER);
    EXPECT_EQ(tpt->getTObjectTypeRTIDList(&n, &rtIds, nullptr), E_POINTER);
    auto pack = create<IMC_TPackageType>(CLSID_SamplePackageType);
    EXPECT_EQ(pack->getFeatures(nullptr, &ret), E_POINTER);
    EXPECT_EQ(pack->getFeatures(&n, nullptr), E_POINTER);
    auto cls = create<IMC_ObjectClassification>(CLSID_SampleAxisType);
    const RTTypeID rt{};
    EXPECT_EQ(cls->getTypeESTypeGroup(nullptr), E_POINTER);
    EXPECT_EQ(cls->getTypeESTypeSubGroup(nullptr), E_POINTER);
    EXPECT_EQ(cls->getTypeCategory(nullptr), E_POINTER);
    EXPECT_EQ(cls->getTypeClass(nullptr), E_POINTER);
    EXPECT_EQ(cls->getRuntimeID(nullptr), E_POINTER);
    EXPECT_EQ(cls->getRuntimeIDBase(nullptr), E_POINTER);
    auto sd = create<IMC_SDNavigate>(CLSID_SampleCamType);
    ZEB_SDHeaderDetails header{};
    EXPECT_EQ(sd->getSDHeaderDetails(nullptr, &ret), E_POINTER);
    EXPECT_EQ(sd->getSDHeaderDetails(&header, nullptr), E_POINTER);
    const ZEB_OAApplSelection all{};
    ZEB_OAApplDetails* apps = nullptr;
    EXPECT_EQ(sd->getApplicationTypeDetailsList(0, nullptr, &n, &apps, &ret), E_POINTER);
    EXPECT_EQ(sd->getApplicationTypeDetailsList(0, &all, nullptr, &apps, &ret), E_POINTER);
    EXPECT_EQ(sd->getApplicationTypeDetailsList(0, &all, &n, nullptr, &ret), E_POINTER);
    EXPECT_EQ(sd->getApplicationTypeDetailsList(0, &all, &n, &apps, nullptr), E_POINTER);
    DWORD* classes = nullptr;
    EXPECT_EQ(sd->getApplicationSupportedDOClasses(0, rt, nullptr, &classes, &ret), E_POINTER);
    EXPECT_EQ(sd->getApplicationSupportedDOClasses(0, rt, &n, nullptr, &ret), E_POINTER);
    EXPECT_EQ(sd->getApplicationSupportedDOClasses(0, rt, &n, &classes, nullptr), E_POINTER);
}

TEST_F(samples, TypesWithoutDescriptionsOfferNone) {
    for (const CLSID& clsid : {CLSID_SampleProgramType, CLSID_SampleAsyncType}) {
        EXPECT_FALSE(create<IMC_SubObjects>(clsid));
        EXPECT_FALSE(create<IMC_ConnectorProps>(clsid));
        EXPECT_FALSE(create<IMC_TPTNavigate>(clsid));
        EXPECT_FALSE(create<IMC_SDNavigate>(clsid));
        EXPECT_FALSE(create<IMC_TPackageType>(clsid));
        EXPECT_FALSE(create<IMC_ObjectClassification>(clsid));
    }
}

} // namespace
