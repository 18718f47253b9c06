// The type container in section streams: the bytes of the type section and
// of the exchange block, reading them back, and hostile sections.
#include "base/fs/FsSecCl.h"
#include "is/CIsTOTypeEntry.h"
#include "is/CIsTypeCont.h"
#include "tests/co/TraceLog.h"
#include "tests/support/SectionBytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

constexpr GUID kTypeA = makeGuid("A0000000-0000-0000-0000-00000000000A");
constexpr GUID kTypeB = makeGuid("B0000000-0000-0000-0000-00000000000B");
constexpr GUID kSnapLow = makeGuid("51000000-0000-0000-0000-000000000001");
constexpr GUID kSnapHigh = makeGuid("5F000000-0000-0000-0000-000000000002");
constexpr GUID kExtLow = makeGuid("E1000000-0000-0000-0000-000000000001");
constexpr GUID kExtHigh = makeGuid("EF000000-0000-0000-0000-000000000002");
constexpr GUID kExtClsid = makeGuid("C0000000-0000-0000-0000-0000000000EC");
constexpr GUID kTypeClsid = makeGuid("C1000000-0000-0000-0000-0000000000C1");
constexpr GUID kFamily = makeGuid("FA000000-0000-0000-0000-0000000000FA");

// The internal type as one item of the type section.
const std::string kInternalItem = "{A562FDF0-F9DE-11D3-A6DD-00500439C839}  6 "
                                  "16 PmGlobCommon.1.1 "
                                  "{00000000-0000-0000-0000-000000000000}  0 0  "
                                  "{8FE10C30-FB51-11D3-85A8-0050046A30DE}  "
                                  "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}  "
                                  "0  0  0 ";

const std::string kIdA = "A0000000-0000-0000-0000-00000000000A";
const std::string kIdB = "B0000000-0000-0000-0000-00000000000B";

// A plain library type under kTypeA / kTypeB with the given name and no lists.
std::string plainItem(const std::string& id, const std::string& name, const char* typeClass = "7") {
    return "{" + id + "}  " + typeClass + " " + std::to_string(name.size()) + " " + name +
           " {FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}  65535 65535  "
           "{C1000000-0000-0000-0000-0000000000C1}  "
           "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}  0  0  0 ";
}

using zeb::test::memoryStream;
using zeb::test::streamBytes;

std::string written(const CIsTypeCont& cont) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(cont, state);
    EXPECT_EQ(state, 0u);
    return bytes;
}

// Reads bytes as a type section into cont; the stream state.
DWORD readInto(CIsTypeCont& cont, const std::string& bytes) {
    return zeb::test::readSection(bytes, cont);
}

DWORD importInto(CIsTypeCont& cont, const std::string& bytes) {
    ComPtr<IStream> s = memoryStream(bytes);
    FsSecCl sec(s);
    return cont.importTypeData(sec);
}

void putPlain(CIsTypeCont& cont, const GUID& id, const char* name) {
    auto e = createEntry(TC_Library);
    e->m_name = name;
    e->m_clsid = kTypeClsid;
    ASSERT_EQ(cont.insertEntry(id, std::move(e)), IS_OK);
}

// A technology-object type with every list filled. Snap-ins keep their
// order, extension types and attributes come out sorted.
void putFull(CIsTypeCont& cont) {
    auto e = createEntry(TC_TObject);
    e->m_name = "Axis_2.3.0";
    e->m_rtTypeID = RTTypeID{kFamily, 2, 7};
    e->m_clsid = kTypeClsid;
    e->addSnapIn(kSnapHigh);
    e->addSnapIn(kSnapLow);
    e->m_extTypes.emplace(kExtHigh, CIsExtTypeInfo{String("ExtB"), kExtClsid});
    e->m_extTypes.emplace(kExtLow, CIsExtTypeInfo{String("Ext\xc3\xa4"), kExtClsid});
    e->m_attributes.emplace(u"PBI_X", u"");
    e->m_attributes.emplace(u"BI_\u00e4", u"\u20ac1");
    ASSERT_EQ(cont.insertEntry(kTypeA, std::move(e)), IS_OK);
}

const std::string kFullSection =
    "1 {A0000000-0000-0000-0000-00000000000A}  1 "
    "10 Axis_2.3.0 "
    "{FA000000-0000-0000-0000-0000000000FA}  2 7  "
    "{C1000000-0000-0000-0000-0000000000C1}  "
    "{5F000000-0000-0000-0000-000000000002}  "
    "2 {5F000000-0000-0000-0000-000000000002}  {51000000-0000-0000-0000-000000000001}   "
    "2 {E1000000-0000-0000-0000-000000000001}  5 Ext\xc3\xa4 "
    "{C0000000-0000-0000-0000-0000000000EC}  "
    "{EF000000-0000-0000-0000-000000000002}  4 ExtB "
    "{C0000000-0000-0000-0000-0000000000EC}   "
    "2 4 B\0I\0_\0\xe4\0 2 \xac\x20"
    "1\0 "
    "5 P\0B\0I\0_\0X\0 0  "s;

TEST(TypeSectionBytes, EmptyContainerIsTheDigitZeroAndOneSpace) {
    CIsTypeCont cont;
    EXPECT_EQ(written(cont), "0 ");
    CIsTypeCont back;
    back.initTypeCont();
    EXPECT_EQ(readInto(back, "0 "), 0u);
    EXPECT_EQ(back.size(), 0u);
}

TEST(TypeSectionBytes, InternalTypeIsWrittenAndReadBack) {
    CIsTypeCont cont;
    cont.initTypeCont();
    EXPECT_EQ(written(cont), "1 " + kInternalItem);

    CIsTypeCont back;
    back.setModified(false);
    EXPECT_EQ(readInto(back, "1 " + kInternalItem), 0u);
    EXPECT_TRUE(back.isModified()); // loading replaces the content; the owner clears the flag
    const CIsBaseInstallEntry* e = back.findEntry(CIsTypeCont::kInternalTypeId);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_name.view(), "PmGlobCommon.1.1");
    EXPECT_EQ(e->m_typeClass, TC_ProjectGlobal);
    EXPECT_EQ(e->m_clsid, makeGuid("8FE10C30-FB51-11D3-85A8-0050046A30DE"));
    EXPECT_EQ(e->m_rtTypeID, (RTTypeID{GUID_NULL, 0, 0}));
    EXPECT_EQ(back.getTypeIdByName("pmglobcommon.1.1"), CIsTypeCont::kInternalTypeId);
}

TEST(TypeSectionBytes, ListsAreWrittenInTheirOrdersWithNonAsciiTextAsIs) {
    CIsTypeCont cont;
    putFull(cont);
    EXPECT_EQ(written(cont), kFullSection);
}

TEST(TypeSectionBytes, AFullEntryReadsBackUnchanged) {
    CIsTypeCont back;
    ASSERT_EQ(readInto(back, kFullSection), 0u);
    const CIsBaseInstallEntry* e = back.findEntry(kTypeA);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_typeClass, TC_TObject);
    EXPECT_NE(dynamic_cast<const CIsTOTypeEntry*>(e), nullptr);
    EXPECT_EQ(e->m_name.view(), "Axis_2.3.0");
    EXPECT_EQ(e->m_rtTypeID, (RTTypeID{kFamily, 2, 7}));
    EXPECT_EQ(e->m_defaultSnapIn, kSnapHigh);
    EXPECT_EQ(e->m_snapIns, (std::vector<CLSID>{kSnapHigh, kSnapLow}));
    ASSERT_EQ(e->m_extTypes.size(), 2u);
    EXPECT_EQ(e->m_extTypes.at(kExtLow).name.view(), "Ext\xc3\xa4");
    EXPECT_EQ(e->m_extTypes.at(kExtHigh).clsid, kExtClsid);
    EXPECT_EQ(e->m_attributes, (AttrMap{{u"BI_\u00e4", u"\u20ac1"}, {u"PBI_X", u""}}));
    EXPECT_EQ(back.getTypeIDByRTID(RTTypeID{kFamily, 2, 0}), kTypeA); // indexed as installed
}

TEST(TypeSectionBytes, NumericGuidsAndOtherSeparatorsAreRead) {
    CIsTypeCont back;
    ASSERT_EQ(readInto(back, "1\r\n2684354560 0 0 0 0 0 0 0 0 0 10\t7\n" +
                                 plainItem(kIdB, "Lib.1").substr(42)),
              0u);
    EXPECT_EQ(back.getTypeNameByID(kTypeA).view(), "Lib.1");
}

// ---- hostile and broken sections

TEST(TypeSectionReading, CountsWithoutDataEndInABadStateAtOnce) {
    CIsTypeCont back;
    EXPECT_EQ(readInto(back, "4294967295 "), FsSecCl::kEndOfData);
    EXPECT_EQ(back.size(), 0u);
    // The same inside an entry: the snap-in, extension and attribute counts.
    const std::string head = "1 " + kInternalItem.substr(0, kInternalItem.size() - 8);
    for (const std::string& tail : {"4294967295 "s, "0  4294967295 "s, "0  0  4294967295 "s}) {
        EXPECT_EQ(readInto(back, head + tail), FsSecCl::kEndOfData) << tail;
        EXPECT_EQ(back.size(), 0u) << tail;
    }
}

TEST(TypeSectionReading, AnEntryCutOffIsNotKept) {
    CIsTypeCont back;
    const std::string whole = "2 " + plainItem(kIdA, "Lib.1") + plainItem(kIdB, "Lib.2");
    EXPECT_EQ(readInto(back, whole.substr(0, whole.size() - 10)), FsSecCl::kEndOfData);
    EXPECT_EQ(back.size(), 1u);
    EXPECT_TRUE(back.isType(kTypeA));
    EXPECT_FALSE(back.isType(kTypeB));
}

TEST(TypeSectionReading, RepeatedExtensionOrAttributeKeysFailTheEntry) {
    const std::string ext = "{E1000000-0000-0000-0000-000000000001}  1 X "
                            "{C0000000-0000-0000-0000-0000000000EC}  ";
    std::string item = plainItem(kIdA, "Lib.1");
    item.resize(item.size() - 8); // up to the snap-in list
    CIsTypeCont back;
    EXPECT_EQ(readInto(back, "1 " + item + "0  2 " + ext + ext + " 0 "), FsSecCl::kBadPosition);
    EXPECT_EQ(back.size(), 0u);
    const std::string attr = "4 B\0I\0_\0X\0 1 1\0 "s;
    EXPECT_EQ(readInto(back, "1 " + item + "0  0  2 " + attr + attr), FsSecCl::kBadPosition);
    EXPECT_EQ(back.size(), 0u);
}

// Scenarios in a child process, whose traces are read back.
std::string describe(const CIsTypeCont& cont, DWORD state) {
    std::string text = "state=" + std::to_string(state) + " size=" + std::to_string(cont.size());
    for (const auto& [id, entry] : cont.entries())
        text += " " + std::string(entry->m_name.view());
    return text;
}

ZEB_CHILD_SCENARIO(readTypeSections) {
    std::string out;
    CIsTypeCont cont;
    out += describe(cont, readInto(cont, "0 ")) + "|";
    out += describe(cont, readInto(cont, "3 " + plainItem(kIdA, "Lib.1"))) + "|";
    return out;
}

TEST(TypeSectionTraces, AShortSectionKeepsTheItemsBeforeTheEnd) {
    auto run = zeb::test::runTraced("readTypeSections");
    EXPECT_EQ(run.output, "state=0 size=0|state=1 size=1 Lib.1|");
    // Only the second section is reported.
    auto lines = run.linesWith("error reading installation data");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("operator >> (CIsTypeCont)"), std::string::npos) << lines[0];
}

ZEB_CHILD_SCENARIO(readRepeatedType) {
    CIsTypeCont cont;
    return describe(
        cont, readInto(cont, "2 " + plainItem(kIdA, "First.1") + plainItem(kIdA, "Second.1")));
}

TEST(TypeSectionTraces, ARepeatedIdentifierKeepsTheFirstAndIsReported) {
    auto run = zeb::test::runTraced("readRepeatedType");
    EXPECT_EQ(run.output, "state=0 size=1 First.1");
    EXPECT_EQ(run.linesWith("error inserting type entry for \"Second.1\"").size(), 1u);
    EXPECT_EQ(run.linesWith("error reading installation data").size(), 1u);
}

ZEB_CHILD_SCENARIO(readUnknownClasses) {
    std::string out;
    CIsTypeCont cont;
    // Class 9 has no entry: its data are read as the next item, out of place.
    out += describe(cont, readInto(cont, "2 " + plainItem(kIdA, "Lib.1", "9") +
                                             plainItem(kIdB, "Lib.2"))) +
           "|";
    // As the last item nothing is left to misread: only the count tells.
    out += describe(
        cont, readInto(cont, "2 " + plainItem(kIdB, "Lib.2") + "{" + kIdA + "}  4294967295 "));
    return out;
}

TEST(TypeSectionTraces, AnUnknownClassIsReportedByTheCountCheck) {
    auto run = zeb::test::runTraced("readUnknownClasses");
    EXPECT_EQ(run.output, "state=5 size=0|state=0 size=1 Lib.2");
    EXPECT_EQ(run.linesWith("error reading installation data").size(), 2u);
}

// ---- exchange block

TEST(TypeDataExport, WritesTheRequestedTypesInTheOrderOfTheList) {
    CIsTypeCont cont;
    putPlain(cont, kTypeA, "Lib.1");
    putPlain(cont, kTypeB, "Lib.2");
    ComPtr<IStream> s = memoryStream();
    {
        FsSecCl sec(s);
        EXPECT_EQ(cont.exportTypeData({kTypeB, kTypeA}, sec), 0u);
    }
    EXPECT_EQ(streamBytes(s.get()), "2 " + plainItem(kIdB, "Lib.2") + plainItem(kIdA, "Lib.1"));
}

TEST(TypeDataExport, AMissingIdentifierGivesTenAndLeavesTheStreamUntouched) {
    CIsTypeCont cont;
    putPlain(cont, kTypeA, "Lib.1");
    ComPtr<IStream> s = memoryStream("kept");
    {
        FsSecCl sec(s);
        EXPECT_EQ(cont.exportTypeData({kTypeA, kTypeB}, sec), 10u);
        EXPECT_EQ(sec.state(), 0u);
        EXPECT_EQ(sec.position(), 0u);
    }
    EXPECT_EQ(streamBytes(s.get()), "kept");
}

TEST(TypeDataExport, AFailingStreamGivesFFFF) {
    CIsTypeCont cont;
    putPlain(cont, kTypeA, "Lib.1");
    ComPtr<IStream> s = memoryStream();
    FsSecCl sec(s);
    sec.getIStreamPtr()->Release(); // handed out: every write fails
    EXPECT_EQ(cont.exportTypeData({kTypeA}, sec), 0xFFFFu);
    sec.unlockStream();
}

TEST(TypeDataImport, ReplacesAnInstalledTypeAndAddsNewOnes) {
    CIsTypeCont cont;
    putFull(cont);
    cont.setModified(false);
    EXPECT_EQ(importInto(cont, "1 " + plainItem(kIdB, "Lib.2")), 0u);
    EXPECT_FALSE(cont.isModified()); // a new identifier alone: the caller decides about saving
    EXPECT_EQ(importInto(cont, "1 " + plainItem(kIdA, "Lib.1")), 0u);
    EXPECT_TRUE(cont.isModified());
    const CIsBaseInstallEntry* e = cont.findEntry(kTypeA);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_typeClass, TC_Library);
    EXPECT_EQ(e->m_name.view(), "Lib.1");
    EXPECT_TRUE(e->m_snapIns.empty());
    EXPECT_TRUE(e->m_attributes.empty());
    EXPECT_EQ(cont.getTypeIdByName("Axis_2.3.0"), GUID_NOTYPE); // out of the indexes too
    EXPECT_EQ(cont.getTypeIDByRTID(RTTypeID{kFamily, 2, 7}), GUID_NOTYPE);
    EXPECT_EQ(cont.size(), 2u);
}

TEST(TypeDataImport, ABlockCutOffInsideAnEntryLeavesTheInstalledTypeAlone) {
    CIsTypeCont cont;
    putFull(cont);
    const std::string block = "2 " + plainItem(kIdB, "Lib.2") + plainItem(kIdA, "Lib.1");
    EXPECT_EQ(importInto(cont, block.substr(0, block.size() - 10)), 27u);
    EXPECT_EQ(cont.getTypeNameByID(kTypeA).view(), "Axis_2.3.0");
    EXPECT_EQ(cont.findEntry(kTypeA)->m_snapIns.size(), 2u);
    EXPECT_TRUE(cont.isType(kTypeB)); // entries before the failure stay
}

TEST(TypeDataImport, CodesForCountsWithoutDataAndUnknownClasses) {
    CIsTypeCont cont;
    EXPECT_EQ(importInto(cont, "4294967295 "), 27u);
    EXPECT_EQ(importInto(cont, ""), 27u);
    EXPECT_EQ(importInto(cont, "0 "), 0u);
    EXPECT_EQ(importInto(cont, "1 " + plainItem(kIdA, "Lib.1", "9")), 0xFFFFu);
    EXPECT_EQ(cont.size(), 0u);
}

} // namespace

namespace {

// The indexes of a container read from a section are built at the first
// lookup: every lookup answers as on the container written, and changes
// after the read (a remove, a new insert) are seen by the next lookups.
TEST(TypeSectionReading, LookupsAfterAReadAnswerAsOnTheContainerWritten) {
    CIsTypeCont written;
    putFull(written);
    putPlain(written, kTypeB, "Tool.1.2");
    const std::string bytes = ::written(written);
    CIsTypeCont read;
    ASSERT_EQ(readInto(read, bytes), 0u);
    for (const CIsTypeCont* cont : {&written, &read}) {
        SCOPED_TRACE(cont == &read ? "read" : "written");
        EXPECT_EQ(cont->getTypeIdByName("AXIS_2.3.0"), kTypeA);
        EXPECT_EQ(cont->getTypeIdByVIDName("Tool"), kTypeB);
        EXPECT_EQ(cont->getTypeIDByRTID(RTTypeID{kFamily, 2, 7}), kTypeA);
        EXPECT_EQ(cont->getTypeIDListByClass(TC_Library), std::vector<GUID>{kTypeB});
    }
    ASSERT_EQ(read.removeType(kTypeA), 0u);
    EXPECT_TRUE(isNoType(read.getTypeIdByName("Axis_2.3.0")));
    EXPECT_TRUE(isNoType(read.getTypeIDByRTID(RTTypeID{kFamily, 2, 7})));
    // Read again over a container whose indexes were built: nothing stale stays.
    CIsTypeCont other;
    putPlain(other, kTypeA, "Other.1.0");
    EXPECT_EQ(other.getTypeIdByName("Other.1.0"), kTypeA);
    ASSERT_EQ(readInto(other, bytes), 0u);
    EXPECT_TRUE(isNoType(other.getTypeIdByName("Other.1.0")));
    EXPECT_EQ(other.getTypeIdByName("Tool.1.2"), kTypeB);
    putPlain(other, makeGuid("C0000000-0000-0000-0000-00000000000C"), "Late.1.0");
    EXPECT_EQ(other.getTypeIDListByClass(TC_Library).size(), 2u);
}

} // namespace
