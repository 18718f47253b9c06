#include "is/CZEBIntInstallation.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"
#include "tests/co/TraceLog.h"
#include "tests/is/ScriptedType.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using zeb::test::freshGuid;
using zeb::test::ScriptedClass;

// The class elements of the document's inbox, as "<class element>:<ESID>".
std::vector<std::string> inbox(CZEBIntInstallation& inst) {
    std::vector<std::string> out;
    for (const auto& node : inst.classification().document().selectNodes(u"Installation/New/*")) {
        auto id = node.selectSingleNode(u"ESType").asElement().getAttribute(u"ESID");
        out.push_back(zeb::toNarrow(node.nodeName()) + ":" + zeb::toNarrow(id.value_or(u"")));
    }
    return out;
}

class Installation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst), S_OK);
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> inst;
};

TEST_F(Installation, NullPointersAnswerEPointerAndChangeNothing) {
    GUID id = TYPEID_SampleDrive, g{};
    DWORD ret = 0, count = 0;
    GUID* ids = nullptr;
    char* name = nullptr;
    IUnknown* unk = nullptr;
    LONG cls = 0;
    RTTypeID rt{};
    ZEB_AttrPair* pairs = nullptr;
    const HRESULT results[] = {
        inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, nullptr),
        inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, id, nullptr, &ret),
        inst->removeType(id, nullptr),
        inst->saveChanges(nullptr),
        inst->getDefaultSnapInByTypeID(id, nullptr, &ret),
        inst->getSnapInListByTypeID(id, &count, nullptr, &ret),
        inst->addExtensionTypeByTypeID(id, nullptr, g, &ret),
        inst->getExtensionTypeNameByTypeID(id, g, nullptr, &ret),
        inst->isExtensionType(id, g, nullptr),
        inst->getAttributeByTypeID(id, nullptr, nullptr, &ret),
        inst->getTypeStorage(id, ACCESS_TYPE_STORAGE, nullptr, &ret),
        inst->setTypeStorage(id, ACCESS_TYPE_STORAGE, nullptr, &ret),
        inst->createNativeTypeObject(id, ACCESS_NATIVE_OBJECT, &unk, nullptr),
        inst->clearTypeCache(ACCESS_CLEAR_CACHE, nullptr),
        inst->getAttrListByTypeID(id, &count, nullptr, &ret),
        inst->getTypeIDList(nullptr, &ids),
        inst->getTypeIDListByVIDName(nullptr, &count, &ids),
        inst->getTypeNameMap(&count, nullptr),
        inst->getTypeByID(id, nullptr, &ret),
        inst->getTypeNameByID(id, &name, nullptr),
        inst->getTypeIdByName(nullptr, &g, &ret),
        inst->getTypeIdByVIDName("Drive", nullptr, &ret),
        inst->isType(id, nullptr),
        inst->getTypeClass(id, &cls, nullptr),
        inst->getTypeIDByRTID(rt, nullptr, &ret),
        inst->getRTIDByTypeID(id, nullptr, &ret),
        inst->isTool(id, nullptr),
        inst->getAttributes(id, &count, &pairs, nullptr),
        inst->getAttributes(id, static_cast<ZEB_AttrBlock*>(nullptr), &ret),
    };
    for (size_t i = 0; i < std::size(results); ++i)
        EXPECT_EQ(results[i], E_POINTER) << "operation " << i;
    EXPECT_EQ(inst->typeCont().size(), 1u); // only the internal type
}

TEST_F(Installation, ClassArgumentsOutsideTheAcceptedSetAreRefused) {
    DWORD ret = 0;
    for (LONG c : {6, 8, 9, -1}) {
        EXPECT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, c, &ret), S_OK);
        EXPECT_EQ(ret, PRET_BAD_CLASS) << c;
    }
    for (LONG c : {3, 5, 6}) {
        EXPECT_EQ(inst->addTypeByClass(CLSID_SampleGenericType, c, freshGuid(), "Gen.1.0", &ret),
                  S_OK);
        EXPECT_EQ(ret, PRET_BAD_CLASS) << c;
    }
    EXPECT_EQ(inst->removeTypeByClass(CIsTypeCont::kInternalTypeId, TC_ProjectGlobal, &ret), S_OK);
    EXPECT_EQ(ret, PRET_BAD_CLASS);
    EXPECT_EQ(inst->typeCont().size(), 1u);
    GUID generic = freshGuid();
    EXPECT_EQ(
        inst->addTypeByClass(CLSID_SampleGenericType, TC_GenericObject, generic, "Gen.1.0", &ret),
        S_OK);
    EXPECT_EQ(ret, 0u);
    // Keyed by the type identifier, under the class element of its class.
    EXPECT_EQ(inbox(*inst),
              std::vector<std::string>{"GenericObject:" + zeb::guidToString(generic)});
}

TEST_F(Installation, TheGenericOverloadRefusesTheNoTypeIdentifier) {
    DWORD ret = 0;
    EXPECT_EQ(inst->addTypeByClass(CLSID_SampleGenericType, TC_GenericObject, GUID_NOTYPE,
                                   "Gen.1.0", &ret),
              S_OK);
    EXPECT_EQ(ret, 0xBE02000Au);
    EXPECT_TRUE(inbox(*inst).empty());
    EXPECT_EQ(inst->typeCont().size(), 1u);
}

TEST_F(Installation, WrongAccessCodesAreRefusedWithoutEffect) {
    DWORD ret = 0;
    IUnknown* unk = nullptr;
    CLSID clsid{};
    IStorage* storage = nullptr;
    const DWORD wrong = 0x12345678;
    EXPECT_EQ(inst->getTypeStorage(CIsTypeCont::kInternalTypeId, wrong, &storage, &ret), S_OK);
    EXPECT_EQ(ret, PRET_PROTECTION);
    ret = 0;
    EXPECT_EQ(
        inst->createNativeTypeObject(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE, &unk, &ret),
        S_OK);
    EXPECT_EQ(ret, PRET_PROTECTION);
    ret = 0;
    EXPECT_EQ(inst->removeTypeObjectFromCache(CIsTypeCont::kInternalTypeId, ACCESS_NATIVE_OBJECT,
                                              nullptr, &ret),
              S_OK);
    EXPECT_EQ(ret, PRET_PROTECTION);
    ret = 0;
    EXPECT_EQ(inst->clearTypeCache(wrong, &ret), S_OK);
    EXPECT_EQ(ret, PRET_PROTECTION);
    ret = 0;
    EXPECT_EQ(inst->getClsidByToolTypeID(freshGuid(), ACCESS_TYPE_STORAGE, &clsid, &ret), S_OK);
    EXPECT_EQ(ret, PRET_PROTECTION);
    EXPECT_EQ(inst->getClsidByToolTypeID(freshGuid(), ACCESS_CLEAR_CACHE, &clsid, &ret), S_OK);
    EXPECT_NE(ret, PRET_PROTECTION); // both tool codes pass the check
}

TEST_F(Installation, UnknownIdentifiersAndNamesAnswerTheirResultWords) {
    GUID absent = freshGuid(), id = freshGuid();
    DWORD ret = 7;
    EXPECT_EQ(inst->getTypeIdByName("Nobody.1.0", &id, &ret), S_OK);
    EXPECT_EQ(id, GUID_NULL);
    EXPECT_EQ(ret, PRET_NO_SUCH_NAME);
    char* name = reinterpret_cast<char*>(&ret);
    EXPECT_EQ(inst->getTypeNameByID(absent, &name, &ret), S_OK);
    EXPECT_EQ(name, reinterpret_cast<char*>(&ret)); // left as passed
    EXPECT_EQ(ret, PRET_NO_NAME);
    EXPECT_EQ(inst->getTypeVIDNameByID(absent, &name, &ret), S_OK);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(ret, PRET_NO_NAME);
    LONG cls = 0;
    EXPECT_EQ(inst->getTypeClass(absent, &cls, &ret), S_OK);
    EXPECT_EQ(cls, TC_NotInstalled);
    EXPECT_EQ(ret, PRET_NOT_INSTALLED);
    EXPECT_EQ(inst->getTypeIDByRTID(RTTypeID{absent, 1, 0}, &id, &ret), S_OK);
    EXPECT_EQ(id, GUID_NOTYPE);
    EXPECT_EQ(ret, PRET_INVALID_ID);
    // A program type has no runtime identity: no runtime identifier finds it.
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleProgramType, TC_Program, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    const GUID allOnes = makeGuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
    EXPECT_EQ(inst->getTypeIDByRTID(RTTypeID{allOnes, 0xFFFF, 0}, &id, &ret), S_OK);
    EXPECT_EQ(id, allOnes);
    EXPECT_EQ(ret, 0xBE020005u);
    RTTypeID rt{};
    EXPECT_EQ(inst->getRTIDByTypeID(absent, &rt, &ret), S_OK);
    EXPECT_TRUE(isInvalid(rt));
    EXPECT_EQ(ret, translateRet(IS_TYPE_ID));
    IStorage* storage = reinterpret_cast<IStorage*>(&ret);
    EXPECT_EQ(inst->getTypeStorage(absent, ACCESS_TYPE_STORAGE, &storage, &ret), S_OK);
    EXPECT_EQ(ret, PRET_INVALID_ID);
    EXPECT_EQ(
        inst->getTypeStorage(CIsTypeCont::kInternalTypeId, ACCESS_TYPE_STORAGE, &storage, &ret),
        S_OK);
    EXPECT_EQ(ret, 0u); // the installation file is not open: nothing, and no failure
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(inst->removeTypeObjectFromCache(absent, ACCESS_TYPE_STORAGE, nullptr, &ret), S_OK);
    EXPECT_EQ(ret, PRET_INVALID_ID);
    EXPECT_EQ(inst->saveChanges(&ret), S_OK);
    EXPECT_EQ(ret, PRET_SAVE_FAILED); // no installation file attached
    BOOL yes = TRUE;
    EXPECT_EQ(inst->isType(absent, &yes), S_OK);
    EXPECT_EQ(yes, FALSE);
}

TEST_F(Installation, ProgramTypesAreRemovedOnlyByClass) {
    DWORD ret = 0;
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleProgramType, TC_Program, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    EXPECT_EQ(inst->removeType(TYPEID_SampleProgram, &ret), S_OK);
    EXPECT_EQ(ret, PRET_PROGRAM_TYPE);
    EXPECT_EQ(inbox(*inst).size(), 1u);
    // A document without the type's node does not stop the removal.
    ASSERT_EQ(inst->classification().removeXMLType(TYPEID_SampleProgram), 0u);
    EXPECT_EQ(inst->removeTypeByClass(TYPEID_SampleProgram, TC_Program, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_FALSE(inst->typeCont().isType(TYPEID_SampleProgram));
}

TEST_F(Installation, RemovingByAWrongClassLeavesTheTypeAndItsDocumentNode) {
    DWORD ret = 0;
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    ASSERT_EQ(ret, 0u);
    EXPECT_EQ(inst->removeTypeByClass(TYPEID_SampleDrive, TC_Library, &ret), S_OK);
    EXPECT_EQ(ret, 0xBE020038u);
    EXPECT_EQ(inst->removeTypeByClass(freshGuid(), TC_Device, &ret), S_OK); // not installed
    EXPECT_EQ(ret, 0xBE020038u);
    // The document is touched only for a real removal.
    const std::vector<std::string> drive{"Device:{5A3E1001-7B1C-4C2A-9E10-3D5F00000001}"};
    EXPECT_EQ(inbox(*inst), drive);
    EXPECT_TRUE(inst->typeCont().isType(TYPEID_SampleDrive));
    EXPECT_EQ(inst->removeTypeByClass(TYPEID_SampleDrive, TC_Device, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_TRUE(inbox(*inst).empty());
}

TEST_F(Installation, ResultsAreHandedOverInTaskMemory) {
    DWORD ret = 0, count = 0;
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleAxisType, TC_TObject, &ret), S_OK);
    GUID* ids = nullptr;
    EXPECT_EQ(inst->getTypeIDListByClass(TC_Library, &count, &ids), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(ids, nullptr); // an array even for no elements
    CoTaskMemFree(ids);
    EXPECT_EQ(inst->getTypeIDList(&count, &ids), S_OK);
    EXPECT_EQ(count, 3u);
    CoTaskMemFree(ids);

    ZEB_TypeNameEntry* map = nullptr;
    EXPECT_EQ(inst->getTypeNameMapByClass(TC_Device, &count, &map), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(map[0].typeId, TYPEID_SampleDrive);
    EXPECT_STREQ(map[0].name, kSampleDriveName);
    CoTaskMemFree(map[0].name);
    CoTaskMemFree(map);

    zeb::Bstr key(u"PBI_NOTE"), value(u"hello");
    EXPECT_EQ(inst->setAttributeByTypeID(TYPEID_SampleAxis, key, value, &ret), S_OK);
    ZEB_AttrPair* pairs = nullptr;
    EXPECT_EQ(inst->getAttrListByTypeID(TYPEID_SampleAxis, &count, &pairs, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    ASSERT_EQ(count, 2u); // the proxy identifier and the note
    EXPECT_EQ(std::u16string(pairs[1].key), u"PBI_NOTE");
    for (DWORD i = 0; i < count; ++i) {
        SysFreeString(pairs[i].key);
        SysFreeString(pairs[i].value);
    }
    CoTaskMemFree(pairs);
    EXPECT_EQ(inst->getAttributes(freshGuid(), &count, &pairs, &ret), S_OK);
    EXPECT_EQ(ret, DWORD(IS_TYPE_ID)); // the raw code

    char* name = nullptr;
    EXPECT_EQ(inst->getTypeVIDNameByID(TYPEID_SampleDrive, &name, &ret), S_OK);
    EXPECT_STREQ(name, "SampleDrive");
    CoTaskMemFree(name);
    GUID id{};
    EXPECT_EQ(inst->getTypeIdByVIDName("sampledrive", &id, &ret), S_OK);
    EXPECT_EQ(id, TYPEID_SampleDrive);
    EXPECT_EQ(ret, 0u);
}

TEST_F(Installation, ADyingWeakTypeObjectLeavesTheCacheThroughTheProjectHandler) {
    ComPtr<CSampleProjectHdl> hdl;
    CSampleProjectHdl::createObject(&hdl);
    hdl->setInstallation(static_cast<IMC_Installation*>(inst.get()));
    ComPtr<IMC_PrjHdlHolder> holder;
    hdl->getProjectHdlHolder(&holder);
    inst->setPrjHdlHolder(holder);
    DWORD ret = 0;
    ASSERT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
    ComPtr<IUnknown> cached, native;
    EXPECT_EQ(inst->getTypeByID(TYPEID_SampleDrive, &cached, &ret), S_OK);
    EXPECT_EQ(inst->createNativeTypeObject(TYPEID_SampleDrive, ACCESS_NATIVE_OBJECT, &native, &ret),
              S_OK);
    EXPECT_EQ(ret, translateRet(IS_NO_INTERFACE)); // in use: the cached object turned weak
    cached.Release();                              // dies and takes itself out of the cache
    EXPECT_EQ(inst->typeCont().findEntry(TYPEID_SampleDrive)->m_spTypeObject, nullptr);
    EXPECT_EQ(inst->createNativeTypeObject(TYPEID_SampleDrive, ACCESS_NATIVE_OBJECT, &native, &ret),
              S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_NE(native, nullptr);
    native.Release();
    inst->setPrjHdlHolder(nullptr);
    hdl->setInstallation(nullptr);
}

TEST_F(Installation, AnExceptionInsideAnOperationAnswersEFail) {
    // As after a failed creation of the document: its operations raise.
    inst->classification().replaceDocument(zeb::xml::DomDocument());
    DWORD ret = 0;
    EXPECT_EQ(inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), E_FAIL);
    EXPECT_TRUE(inst->typeCont().isType(TYPEID_SampleDrive)); // no rollback of the container
}

ZEB_CHILD_SCENARIO(throwingTypeObject) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ScriptedClass thrower("Thrower.1.0");
    thrower.script->throwInGetName = true;
    ComPtr<CZEBIntInstallation> inst;
    CZEBIntInstallation::createObject(&inst);
    DWORD ret = 0;
    HRESULT hr = inst->addTypeByClass(thrower.clsid, TC_Library, &ret);
    char text[64];
    std::snprintf(text, sizeof text, "%X %X", unsigned(hr), ret);
    return text;
}

TEST(InstallationTraces, AThrowingTypeObjectIsTracedAndCountsAsFailure) {
    auto run = zeb::test::runTraced("throwingTypeObject");
    EXPECT_EQ(run.output, "0 BE020003");
    EXPECT_EQ(run.linesWith("caught exeption calling spIType->getName(&spName)").size(), 1u);
    EXPECT_EQ(run.linesWith("error calling spIType->getName(&spName) hr = 0x80004005").size(), 1u);
    EXPECT_EQ(run.linesWith("couldn't get type name").size(), 1u);
}

} // namespace
