#include "is/CIsTypeCont.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

constexpr CLSID kViewA = makeGuid("11111111-0000-0000-0000-000000000001");
constexpr CLSID kViewB = makeGuid("11111111-0000-0000-0000-000000000002");
constexpr CLSID kViewC = makeGuid("11111111-0000-0000-0000-000000000003");

TEST(InstallEntryFactory, CreatesTheEntryOfEachClassAndRefusesOtherValues) {
    for (TypeClass c = TC_Device; c <= TC_GenericObject; ++c) {
        auto entry = createEntry(c);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->m_typeClass, c);
        EXPECT_TRUE(isInvalid(entry->m_rtTypeID));
        EXPECT_EQ(entry->m_defaultSnapIn, GUID_NOTYPE);
    }
    EXPECT_FALSE(createEntry(9));
    EXPECT_FALSE(createEntry(-1));
    EXPECT_FALSE(createEntry(TC_NotInstalled));
}

TEST(InstallEntrySnapIns, RemovingTheDefaultSnapInPromotesTheFirstRemaining) {
    auto e = createEntry(TC_Device);
    EXPECT_EQ(e->addSnapIn(kViewA), IS_OK);
    EXPECT_EQ(e->addSnapIn(kViewB), IS_OK);
    EXPECT_EQ(e->addSnapIn(kViewC), IS_OK);
    EXPECT_EQ(e->addSnapIn(kViewB), IS_ALREADY_PRESENT);
    CLSID def{};
    EXPECT_EQ(e->getDefaultSnapIn(def), IS_OK);
    EXPECT_EQ(def, kViewA); // the first snap-in became the default
    EXPECT_EQ(e->setDefaultSnapIn(kViewC), IS_OK);
    EXPECT_EQ(e->removeSnapIn(kViewC), IS_OK);
    EXPECT_EQ(e->getDefaultSnapIn(def), IS_OK);
    EXPECT_EQ(def, kViewA);
    EXPECT_EQ(e->setDefaultSnapIn(kViewC), IS_NOT_FOUND);
    EXPECT_EQ(e->removeSnapIn(kViewC), IS_NOT_FOUND);
}

TEST(InstallEntrySnapIns, RemovingTheLastSnapInLeavesNoDefault) {
    auto e = createEntry(TC_Library);
    e->addSnapIn(kViewA);
    e->removeSnapIn(kViewA);
    CLSID def = kViewB;
    EXPECT_EQ(e->getDefaultSnapIn(def), IS_EMPTY);
    EXPECT_EQ(def, GUID_NOTYPE);
}

TEST(InstallEntryAttributes, OnlyPrefixedNamesAreAcceptedAndBiNamesMarkARefresh) {
    auto e = createEntry(TC_Device);
    EXPECT_EQ(e->setOrAddAttr(u"PBI_COLOR", u"red"), IS_OK);
    EXPECT_FALSE(e->m_needsRefresh);
    EXPECT_EQ(e->setOrAddAttr(u"bi_order", u"1"), IS_INVALID_ATTR);
    EXPECT_EQ(e->setOrAddAttr(u"ORDER", u"1"), IS_INVALID_ATTR);
    EXPECT_FALSE(e->m_needsRefresh);
    EXPECT_EQ(e->setOrAddAttr(u"BI_ORDER", u"1"), IS_OK);
    EXPECT_TRUE(e->m_needsRefresh);
    EXPECT_EQ(e->setOrAddAttr(u"BI_ORDER", u"2"), IS_OK);
    EXPECT_EQ(e->m_attributes.size(), 2u);

    BSTR value = nullptr;
    EXPECT_EQ(e->getAttr(u"BI_ORDER", &value), IS_OK);
    EXPECT_EQ(std::u16string(value, SysStringLen(value)), u"2");
    SysFreeString(value);
    EXPECT_EQ(e->getAttr(u"BI_NONE", &value), IS_NOT_FOUND);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(e->delAttr(u"BI_NONE"), IS_NOT_FOUND);

    AttrList list;
    e->getAttrList(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, u"BI_ORDER"); // code-unit order: 'B' < 'P'
    EXPECT_EQ(e->delAttr(u"BI_ORDER"), IS_OK);
    EXPECT_EQ(e->m_attributes.size(), 1u);
}

TEST(InstallEntryCacheSlot, MovesBetweenEmptyHeldAndWeak) {
    auto e = createEntry(TC_Device);
    ComPtr<CSampleProjectHdl> object; // any object will do
    CSampleProjectHdl::createObject(&object);
    IUnknown* unk = static_cast<IMC_InternalProjectHdl*>(object.get());
    e->setTypeObject(unk); // held
    EXPECT_EQ(unk->AddRef(), 3u);
    unk->Release();
    e->makeWeak();
    EXPECT_TRUE(e->m_weakRef);
    EXPECT_EQ(unk->AddRef(), 2u); // the cache gave its reference up
    unk->Release();
    e->setTypeObject(nullptr); // no release for a weak slot
    EXPECT_FALSE(e->m_weakRef);
    EXPECT_EQ(e->m_spTypeObject, nullptr);
    EXPECT_EQ(unk->AddRef(), 2u);
    unk->Release();
}

// Extensions are created through a project handler; the sample plugin
// serves them through the registry store.
class InstallEntryExtensions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        ASSERT_EQ(CSampleProjectHdl::createObject(&m_hdl), S_OK);
        m_pIHdl = static_cast<IMC_InternalProjectHdl*>(m_hdl.get());
    }
    zeb::test::TempDir m_dir;
    zeb::test::ScopedEnv m_registry{"ZEB_REGISTRY", m_dir.file("registry.reg")};
    ComPtr<CSampleProjectHdl> m_hdl;
    IUnknown* m_pIHdl = nullptr;
};

TEST_F(InstallEntryExtensions, NamesClashWithoutRegardToCaseAndClassesMustDiffer) {
    auto e = createEntry(TC_Device);
    EXPECT_EQ(e->addExtType(kSampleExtensionName, CLSID_SampleExtension, m_pIHdl), IS_OK);
    EXPECT_TRUE(e->isExtType(EXTTYPEID_SampleExtension));
    EXPECT_EQ(e->addExtType("SAMPLEEXT", CLSID_SampleOemExtension, m_pIHdl), IS_ALREADY_PRESENT);
    EXPECT_EQ(e->addExtType("OtherName", CLSID_SampleExtension, m_pIHdl), IS_ALREADY_PRESENT);
    EXPECT_EQ(e->m_extTypes.size(), 1u);
    String name;
    EXPECT_EQ(e->getExtTypeName(EXTTYPEID_SampleExtension, name), IS_OK);
    EXPECT_EQ(name.view(), kSampleExtensionName);
    EXPECT_EQ(e->delExtType(EXTTYPEID_SampleExtension), IS_OK);
    EXPECT_EQ(e->delExtType(EXTTYPEID_SampleExtension), IS_NOT_FOUND);
}

TEST_F(InstallEntryExtensions, RefusesObjectsThatAreNotWhatTheyClaim) {
    auto e = createEntry(TC_Device);
    // The object's own name differs from the one given.
    EXPECT_EQ(e->addExtType("Renamed", CLSID_SampleExtension, m_pIHdl), IS_EXT_NAME_MISMATCH);
    // The class is no extension: the project handler is not one.
    EXPECT_EQ(e->addExtType("Hdl", CLSID_SampleProjectHdl, m_pIHdl), IS_NO_INTERFACE);
    // Nothing can be created without a project handler, or for an unknown class.
    EXPECT_EQ(e->addExtType(kSampleExtensionName, CLSID_SampleExtension, nullptr), IS_INTERNAL);
    EXPECT_EQ(e->addExtType("Nothing", makeGuid("0BADC1A5-0000-0000-0000-000000000000"), m_pIHdl),
              IS_NOT_CREATED);
    EXPECT_TRUE(e->m_extTypes.empty());
}

TEST_F(InstallEntryExtensions, OemExtensionsAreHandedOutThroughTheirReverseObject) {
    auto e = createEntry(TC_Device);
    ASSERT_EQ(e->addExtType(kSampleOemExtensionName, CLSID_SampleOemExtension, m_pIHdl), IS_OK);
    EXPECT_TRUE(e->isExtType(EXTTYPEID_SampleOemExtension));

    ComPtr<IMC_TypeIdent> spIType;
    ComPtr<IUnknown> ext;
    ASSERT_EQ(CoCreateInstance(CLSID_SampleExtension, nullptr, CLSCTX_ALL, uuidof<IMC_TypeIdent>(),
                               reinterpret_cast<void**>(&spIType)),
              S_OK);
    EXPECT_EQ(e->getExtType(spIType, EXTTYPEID_SampleOemExtension, m_pIHdl, &ext), IS_OK);
    ComQIPtr<IMC_InternalOemRevObjAdmin> admin(ext);
    EXPECT_TRUE(admin); // the reverse object, not the OEM object itself
    ext.Release();
    // Access is refused without a type object: the extension's code is passed on.
    EXPECT_EQ(e->getExtType(nullptr, EXTTYPEID_SampleOemExtension, m_pIHdl, &ext), 0x10u);
    EXPECT_EQ(ext, nullptr);
    EXPECT_EQ(e->getExtType(spIType, EXTTYPEID_SampleExtension, m_pIHdl, &ext), IS_NOT_FOUND);
    EXPECT_EQ(e->getExtType(spIType, EXTTYPEID_SampleOemExtension, m_pIHdl, nullptr), IS_INTERNAL);
}

TEST(CreateOEMReverseObject, RefusesNullArgumentsAndReportsAFailedCreationAsFailure) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ComPtr<CSampleProjectHdl> hdl;
    CSampleProjectHdl::createObject(&hdl);
    IUnknown* pIHdl = static_cast<IMC_InternalProjectHdl*>(hdl.get());
    IUnknown* out = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(createOEMReverseObject(nullptr, pIHdl, &out, CLSID_OemReverseObject), E_INVALIDARG);
    EXPECT_EQ(createOEMReverseObject(pIHdl, nullptr, &out, CLSID_OemReverseObject), E_INVALIDARG);
    EXPECT_EQ(createOEMReverseObject(pIHdl, pIHdl, nullptr, CLSID_OemReverseObject), E_INVALIDARG);
    // A class nobody serves: a failure, and nothing handed out.
    out = nullptr;
    EXPECT_TRUE(FAILED(createOEMReverseObject(pIHdl, pIHdl, &out,
                                              makeGuid("0BADC1A5-0000-0000-0000-000000000001"))));
    EXPECT_EQ(out, nullptr);
}

} // namespace
