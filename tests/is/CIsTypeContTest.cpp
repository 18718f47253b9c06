#include "is/CIsTypeCont.h"
#include "tests/is/ScriptedType.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using zeb::test::freshGuid;
using zeb::test::ScriptedClass;

constexpr GUID kFamily = makeGuid("FA000000-0000-0000-0000-000000000001");
constexpr GUID kAllOnes = makeGuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");

class TypeContainer : public ::testing::Test {
protected:
    // Installs a scripted type; returns the container's code.
    DWORD install(ScriptedClass& type, TypeClass c = TC_Device) {
        GUID id{};
        return cont.addType(c, type.clsid, id);
    }
    // An entry built without a type object, as the stream reader builds them.
    GUID put(const char* name, TypeClass c = TC_Library, RTTypeID rt = RTTYPEID_INVALID,
             GUID id = freshGuid()) {
        auto e = createEntry(c);
        e->m_name = name;
        e->m_rtTypeID = rt;
        e->m_clsid = freshGuid();
        EXPECT_EQ(cont.insertEntry(id, std::move(e)), IS_OK);
        return id;
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    CIsTypeCont cont;
};

TEST_F(TypeContainer, InternalTypeIsInsertedOnce) {
    cont.initTypeCont();
    cont.initTypeCont();
    EXPECT_EQ(cont.size(), 1u);
    EXPECT_EQ(cont.getTypeNameByID(CIsTypeCont::kInternalTypeId).view(), "PmGlobCommon.1.1");
    EXPECT_EQ(cont.getTypeClass(CIsTypeCont::kInternalTypeId), TC_ProjectGlobal);
    RTTypeID rt{};
    EXPECT_EQ(cont.getRTIDByTypeID(CIsTypeCont::kInternalTypeId, rt), IS_OK);
    EXPECT_EQ(rt, (RTTypeID{GUID_NULL, 0, 0}));
}

TEST_F(TypeContainer, NamesMustCarryAVersionAndBeUniqueWithoutRegardToCase) {
    ScriptedClass drive("Drive.1.0"), upper("drive.1.0"), bare("Drive"), letters("Drive.a"),
        deep("Drive.2.0.1"), underscore("_x.1");
    EXPECT_EQ(install(drive), IS_OK);
    EXPECT_EQ(install(upper), IS_NAME_RULE);
    EXPECT_EQ(install(bare), IS_NAME_RULE);
    EXPECT_EQ(install(letters), IS_NAME_RULE);
    EXPECT_EQ(install(deep), IS_OK);
    EXPECT_EQ(install(underscore), IS_OK);
    EXPECT_EQ(cont.size(), 3u);
}

TEST_F(TypeContainer, RuntimeIdentityMayOnlyBeSharedByMajorVersionsOfOneFamily) {
    ScriptedClass a10("A.1.0", {kFamily, 1, 0}), a11("A.1.1", {kFamily, 1, 1}),
        a20("A.2.0", {kFamily, 2, 0}), b30("B.3.0", {kFamily, 3, 0}),
        free1("Free.1", RTTYPEID_INVALID), free2("Free2.1", RTTYPEID_INVALID);
    EXPECT_EQ(install(a10), IS_OK);
    EXPECT_EQ(install(a11), IS_TYPE_ID);
    EXPECT_EQ(install(a20), IS_OK);
    EXPECT_EQ(install(b30), IS_TYPE_ID);
    EXPECT_EQ(install(free1), IS_OK); // the invalid value is exempt
    EXPECT_EQ(install(free2), IS_OK);
    // Only guidVersion and nMajor make the identity: with those of the
    // invalid value a type has none and conflicts with nobody; types without
    // one are no family of the all-0xFF guidVersion either.
    ScriptedClass nearly("Nearly.1", {kAllOnes, 0xFFFF, 0}), odd("Odd.5", {kAllOnes, 5, 0}),
        odd2("Odd2.5", {kAllOnes, 5, 1});
    EXPECT_EQ(install(nearly), IS_OK);
    EXPECT_EQ(install(odd), IS_OK);
    EXPECT_EQ(install(odd2), IS_TYPE_ID); // odd has that identity
}

TEST_F(TypeContainer, RegistrationFailuresLeaveTheContainerUnchanged) {
    ScriptedClass drive("Drive.1.0"), sameId("Other.1.0", RTTYPEID_INVALID, drive.script->typeId),
        noRt("NoRt.1.0"), throwing("Throw.1.0"), noId("NoId.1.0", RTTYPEID_INVALID, GUID_NOTYPE),
        failingId("FailId.1.0");
    noRt.script->rtResult = E_FAIL;
    throwing.script->throwInGetName = true;
    failingId.script->typeIdResult = E_FAIL;
    ASSERT_EQ(install(drive), IS_OK);
    cont.setModified(false);
    EXPECT_EQ(install(drive), IS_ALREADY_PRESENT); // the CLSID is in use
    EXPECT_EQ(install(sameId), IS_TYPE_ID);
    EXPECT_EQ(install(noRt), IS_NOT_CREATED);   // devices need their runtime identifier
    EXPECT_EQ(install(throwing), IS_NAME_RULE); // a throwing object counts as failing
    EXPECT_EQ(install(noId), IS_TYPE_ID);
    EXPECT_EQ(install(failingId), IS_TYPE_ID);
    EXPECT_EQ(install(noRt, 9), IS_INTERNAL); // not a class
    GUID id{};
    EXPECT_EQ(cont.addType(TC_Device, freshGuid(), id), IS_NOT_CREATED); // nobody serves it
    EXPECT_EQ(cont.size(), 1u);
    EXPECT_FALSE(cont.isModified());
    EXPECT_EQ(drive.script->alive, 0); // no object kept by a registration
}

TEST_F(TypeContainer, GenericTypesTakeTheCallersIdentifierAndName) {
    ScriptedClass lib("Ignored.1.0", RTTYPEID_INVALID);
    GUID id = freshGuid();
    EXPECT_EQ(cont.addGenericTypeByClass(TC_GenericObject, lib.clsid, id, "Gen.1.0"), IS_OK);
    EXPECT_EQ(cont.addGenericTypeByClass(TC_GenericObject, lib.clsid, id, "Gen2.1.0"),
              IS_ALREADY_PRESENT);
    EXPECT_EQ(cont.addGenericTypeByClass(TC_GenericObject, lib.clsid, freshGuid(), "gen.1.0"),
              IS_NAME_RULE);
    // The CLSID may be shared by generic types.
    EXPECT_EQ(cont.addGenericTypeByClass(TC_GenericObject, lib.clsid, freshGuid(), "Gen3.1.0"),
              IS_OK);
    EXPECT_EQ(cont.getTypeNameByID(id).view(), "Gen.1.0");
    // The no-type value is what failed lookups answer: no type may carry it.
    EXPECT_EQ(cont.addGenericTypeByClass(TC_GenericObject, lib.clsid, GUID_NOTYPE, "Gen4.1.0"),
              10u);
    EXPECT_FALSE(cont.isType(GUID_NOTYPE));
    EXPECT_EQ(cont.getTypeIdByName("Gen4.1.0"), GUID_NOTYPE);
}

TEST_F(TypeContainer, RemovingChecksPresenceAndClass) {
    GUID id = put("Lib.1.0", TC_Library);
    EXPECT_EQ(cont.removeType(TC_Device, id), IS_WRONG_CLASS);
    EXPECT_EQ(cont.removeType(TC_Library, id), IS_OK);
    EXPECT_EQ(cont.removeType(id), IS_TYPE_ID);
    EXPECT_EQ(cont.getTypeIdByName("Lib.1.0"), GUID_NOTYPE); // gone from the indexes too
    EXPECT_EQ(cont.getTypeClass(id), TC_NotInstalled);
}

TEST_F(TypeContainer, VidLookupFindsTheNewestVersionAtLeastTheOneAsked) {
    put("Drive.1.9");
    put("Drive.1.10");
    GUID v2 = put("Drive.2.0");
    put("Other.5.0");
    EXPECT_EQ(cont.getTypeIdByVIDName("Drive"), v2);
    EXPECT_EQ(cont.getTypeIdByVIDName("drive.1"), v2);
    EXPECT_EQ(cont.getTypeIdByVIDName("Drive.3"), GUID_NOTYPE);
    EXPECT_EQ(cont.getTypeIdByVIDNameAndClass(TC_Device, "Drive"), GUID_NOTYPE);
    EXPECT_EQ(cont.getTypeVIDNameByID(v2).view(), "Drive");
    EXPECT_EQ(cont.getTypeIDListByVIDName("DRIVE").size(), 3u);
    EXPECT_GT(CIsTypeCont::compareVersion("Drive.1.10", "Drive.1.9"), 0);
    EXPECT_GT(CIsTypeCont::compareVersion("Drive.2.0", "Drive"), 0);
    EXPECT_EQ(CIsTypeCont::compareVersion("drive.01", "Drive.1"), 0);
    EXPECT_LT(CIsTypeCont::compareVersion("A.99999999999999999999", "A.100000000000000000000"), 0);
}

TEST_F(TypeContainer, RuntimeLookupIgnoresTheMinorVersionAndNeverMatchesTheInvalidValue) {
    GUID id = put("Rt.1.0", TC_Device, {kFamily, 4, 7});
    put("NoRt.1.0", TC_Device);
    EXPECT_EQ(cont.getTypeIDByRTID({kFamily, 4, 0}), id);
    EXPECT_EQ(cont.getTypeIDByRTID(TC_Device, {kFamily, 4, 9}), id);
    EXPECT_EQ(cont.getTypeIDByRTID(TC_Library, {kFamily, 4, 9}), GUID_NOTYPE);
    EXPECT_EQ(cont.getTypeIDByRTID({kFamily, 5, 0}), GUID_NOTYPE);
    EXPECT_EQ(cont.getTypeIDByRTID(RTTYPEID_INVALID), GUID_NOTYPE);
    EXPECT_EQ(cont.getTypeIDByRTID({kAllOnes, 0xFFFF, 0}), GUID_NOTYPE); // nMinor never matters
    EXPECT_EQ(cont.getTypeIDByRTID(TC_Device, {kAllOnes, 0xFFFF, 3}), GUID_NOTYPE);
    RTTypeID rt{};
    EXPECT_EQ(cont.getRTIDByTypeID(TC_Library, id, rt), IS_TYPE_ID);
    EXPECT_TRUE(isInvalid(rt));
}

TEST_F(TypeContainer, ForwardingSetsTheModifiedFlagOnlyForRealChanges) {
    GUID id = put("Fw.1.0");
    GUID absent = freshGuid();
    cont.setModified(false);
    EXPECT_EQ(cont.setOrAddAttr(id, u"BI_A", u"1"), IS_OK);
    EXPECT_TRUE(cont.isModified());
    cont.setModified(false);
    EXPECT_EQ(cont.setOrAddAttr(id, u"BI_A", u"1"), IS_OK); // same value: nothing changes
    EXPECT_FALSE(cont.isModified());
    EXPECT_EQ(cont.addSnapIn(id, absent), IS_OK);
    cont.setModified(false);
    EXPECT_EQ(cont.setDefaultSnapIn(id, absent), IS_OK); // already the default
    EXPECT_FALSE(cont.isModified());

    std::vector<CLSID> list{absent};
    CLSID def{};
    String name("x");
    BSTR value = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(cont.addSnapIn(absent, id), IS_TYPE_ID);
    EXPECT_EQ(cont.getDefaultSnapIn(absent, def), IS_TYPE_ID);
    EXPECT_EQ(def, GUID_NOTYPE);
    EXPECT_EQ(cont.getSnapInList(absent, list), IS_TYPE_ID);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(cont.getExtTypeName(absent, id, name), IS_TYPE_ID);
    EXPECT_TRUE(name.empty());
    EXPECT_EQ(cont.getAttr(absent, u"BI_A", &value), IS_TYPE_ID);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(cont.setOrAddAttr(absent, u"BI_A", u"1"), IS_TYPE_ID);
    EXPECT_EQ(cont.addExtType(id, "Ext", freshGuid()), IS_INTERNAL); // no project handler yet
    EXPECT_FALSE(cont.isExtType(absent, id));
    EXPECT_FALSE(cont.isModified());
}

// The indexes answer exactly what a scan in GUID order answers.
TEST_F(TypeContainer, IndexedLookupsAgreeWithALinearScan) {
    std::mt19937 rng(7);
    // "Cam-2" has a VID name ("Cam") other than its part before the first dot.
    const char* stems[] = {"Drive", "drive", "Axis", "AXIS", "Cam-2", "x_1"};
    std::vector<GUID> ids;
    for (int i = 0; i < 300; ++i) {
        std::string name = std::string(stems[rng() % 6]) + "." + std::to_string(rng() % 4) + "." +
                           std::to_string(rng() % 12);
        RTTypeID rt =
            (rng() % 3) ? RTTypeID{freshGuid(), uint16_t(rng() % 3), 0} : RTTYPEID_INVALID;
        if (rng() % 2) rt.guidVersion = kFamily;
        GUID id = freshGuid();
        id.Data2 = uint16_t(rng()); // shuffle the GUID order against insertion order
        ids.push_back(put(name.c_str(), TypeClass(rng() % 9), rt, id));
    }
    for (int i = 0; i < 100; ++i) // removals keep the indexes in step
        cont.removeType(ids[rng() % ids.size()]);

    auto scanName = [&](std::string_view n) {
        for (const GUID& id : cont.getTypeIDList())
            if (cont.getTypeNameByID(id).equalsNoCase(n)) return id;
        return GUID_NOTYPE;
    };
    auto scanVid = [&](std::string_view n) {
        GUID best = GUID_NOTYPE;
        std::string bestName(n);
        for (const GUID& id : cont.getTypeIDList()) {
            String name = cont.getTypeNameByID(id);
            if (String(CIsTypeCont::vidName(name)).equalsNoCase(CIsTypeCont::vidName(bestName)) &&
                CIsTypeCont::compareVersion(name, bestName) >= 0) {
                best = id;
                bestName = name.c_str();
            }
        }
        return best;
    };
    auto scanRt = [&](RTTypeID rt) {
        for (const GUID& id : cont.getTypeIDList()) {
            RTTypeID have{};
            cont.getRTIDByTypeID(id, have);
            if (sameRuntimeIdentity(have, rt)) return id;
        }
        return GUID_NOTYPE;
    };
    auto scanDot = [&](std::string_view n) {
        std::vector<GUID> ids;
        for (const GUID& id : cont.getTypeIDList()) {
            String name = cont.getTypeNameByID(id);
            if (name.left(name.find('.')).equalsNoCase(n)) ids.push_back(id);
        }
        return ids;
    };
    for (const char* stem : stems)
        EXPECT_EQ(cont.getTypeIDListByVIDName(stem), scanDot(stem)) << stem;
    for (int i = 0; i < 400; ++i) {
        std::string name = std::string(stems[rng() % 6]) + "." + std::to_string(rng() % 4) + "." +
                           std::to_string(rng() % 12);
        EXPECT_EQ(cont.getTypeIdByName(name), scanName(name)) << name;
        EXPECT_EQ(cont.getTypeIdByVIDName(name), scanVid(name)) << name;
        EXPECT_EQ(cont.getTypeIdByVIDName(stems[i % 6]), scanVid(stems[i % 6]));
        RTTypeID rt{kFamily, uint16_t(rng() % 3), 0};
        EXPECT_EQ(cont.getTypeIDByRTID(rt), scanRt(rt));
    }
}

} // namespace
