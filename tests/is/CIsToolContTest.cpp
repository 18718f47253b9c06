// The tool container: its codes, its refusals leaving it unchanged, tool
// objects that call back while they are made or die, and the tool section's
// bytes (compared against the stored form written out by hand).
#include "is/CIsToolCont.h"

#include "tests/co/TraceLog.h"
#include "tests/is/ScriptedTool.h"
#include "tests/support/SectionBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zeb::test::freshGuid;
using zeb::test::ITestTool;
using zeb::test::ScriptedTool;

// Identifiers chosen so that insertion order and GUID order differ, and so
// that a signed comparison of Data1 would put them the other way round.
constexpr GUID kHigh = makeGuid("80000000-0000-0000-0000-000000000002");
constexpr GUID kLow = makeGuid("0000000A-0000-0000-0000-000000000001");
constexpr CLSID kClsidA = makeGuid("11111111-2222-3333-4444-555555555555");
constexpr CLSID kClsidB = makeGuid("66666666-7777-8888-9999-AAAAAAAAAAAA");

// The two tools below in their stored form: count, then per tool in GUID
// order the identifier (its own space plus one), name, CLSID (its own space
// plus one), value, one space.
const std::string kTwoTools = "2 {0000000A-0000-0000-0000-000000000001}  8 Tool.1.0 "
                              "{11111111-2222-3333-4444-555555555555}  5 "
                              "{80000000-0000-0000-0000-000000000002}  9 Other.2.1 "
                              "{66666666-7777-8888-9999-AAAAAAAAAAAA}  4294967295 ";

std::string written(const CIsToolCont& tools) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(tools, state);
    EXPECT_EQ(state, 0u);
    return bytes;
}

// Reads bytes as a tool section into tools; the stream state afterwards.
DWORD readInto(CIsToolCont& tools, const std::string& bytes) {
    return zeb::test::readSection(bytes, tools);
}

class ToolContainer : public ::testing::Test {
protected:
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    CIsToolCont tools;
};

TEST_F(ToolContainer, AToolWhoseComponentIsNotRegisteredIsEnteredButGivesNoObject) {
    const GUID id = freshGuid(), clsid = freshGuid();
    EXPECT_EQ(tools.addTool(id, u"Later.1.0", clsid, 7), 0u);
    EXPECT_TRUE(tools.isTool(id));
    CLSID got{};
    EXPECT_EQ(tools.getClsidByID(id, got), 0u);
    EXPECT_EQ(got, clsid);
    EXPECT_EQ(tools.findEntry(id)->m_value, 7u);
    IUnknown* object = reinterpret_cast<IUnknown*>(&got); // not null
    EXPECT_EQ(tools.getToolByID(id, &object), 22u);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ToolContainer, NamesMustCarryAVersionAndBeUniqueWithoutRegardToCase) {
    ScriptedTool a, b, c, d, e;
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool.1.0", a.clsid, 0), 0u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"TOOL.1.0", b.clsid, 0), 4u); // 4, where types say 3
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool", b.clsid, 0), 3u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool.a", b.clsid, 0), 3u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool.1.", b.clsid, 0), 3u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"_x.2.0.1", c.clsid, 0), 0u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool.1.1", d.clsid, 0), 0u);
    EXPECT_EQ(tools.size(), 3u);
}

TEST_F(ToolContainer, AnIdentifierOrClsidServesOneToolOnly) {
    ScriptedTool a, b;
    const GUID id = freshGuid();
    EXPECT_EQ(tools.addTool(id, u"Tool.1.0", a.clsid, 0), 0u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Other.1.0", a.clsid, 0), 4u);
    EXPECT_EQ(tools.addTool(id, u"Other.1.0", b.clsid, 0), 4u);
    EXPECT_EQ(b.script->created, 0); // refused before its object is made
    EXPECT_EQ(tools.size(), 1u);
}

TEST_F(ToolContainer, AnAbsentToolAnswersOneOneAndTen) {
    const GUID id = freshGuid();
    CLSID clsid = kClsidA;
    IUnknown* object = nullptr;
    EXPECT_EQ(tools.getClsidByID(id, clsid), 1u);
    EXPECT_EQ(tools.getToolByID(id, &object), 1u);
    EXPECT_EQ(tools.removeTool(id), 10u);
    EXPECT_EQ(tools.getToolByID(id, nullptr), 0xFFFFu);
    EXPECT_FALSE(tools.isTool(id));
}

TEST_F(ToolContainer, EveryRequestMakesANewToolObject) {
    ScriptedTool a;
    const GUID id = freshGuid();
    ASSERT_EQ(tools.addTool(id, u"Tool.1.0", a.clsid, 0), 0u);
    EXPECT_EQ(a.script->created, 1);
    EXPECT_EQ(a.script->alive, 0); // the object made by the add is not kept
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(tools.getToolByID(id, &first), 0u);
    ASSERT_EQ(tools.getToolByID(id, &second), 0u);
    EXPECT_NE(first.get(), second.get());
    ComQIPtr<ITestTool> one(first), two(second);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->serial(), 2);
    EXPECT_EQ(two->serial(), 3);
    tools.clearToolCache(); // holds nothing: the callers own their objects
    EXPECT_EQ(a.script->alive, 2);
}

TEST_F(ToolContainer, AFailedAddLeavesTheContainerAndTheFlagUnchanged) {
    ScriptedTool a, b;
    const GUID id = freshGuid();
    ASSERT_EQ(tools.addTool(id, u"Tool.1.0", a.clsid, 3), 0u);
    tools.setModified(false);
    EXPECT_EQ(tools.addTool(id, u"Tool.2.0", b.clsid, 9), 4u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"tool.1.0", b.clsid, 9), 4u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool.2.0", a.clsid, 9), 4u);
    EXPECT_EQ(tools.addTool(freshGuid(), u"Tool", b.clsid, 9), 3u);
    EXPECT_FALSE(tools.isModified());
    EXPECT_EQ(tools.size(), 1u);
    EXPECT_EQ(tools.findEntry(id)->m_name.view(), "Tool.1.0");
    EXPECT_EQ(tools.findEntry(id)->m_clsid, a.clsid);
    EXPECT_EQ(tools.findEntry(id)->m_value, 3u);
    EXPECT_EQ(written(tools).substr(0, 2), "1 ");
}

TEST_F(ToolContainer, ChangesSetTheModifiedFlag) {
    const GUID id = freshGuid();
    tools.setModified(false);
    ASSERT_EQ(tools.addTool(id, u"Tool.1.0", freshGuid(), 0), 0u);
    EXPECT_TRUE(tools.isModified());
    tools.setModified(false);
    ASSERT_EQ(tools.removeTool(id), 0u);
    EXPECT_TRUE(tools.isModified());
    tools.setModified(false);
    tools.clear();
    EXPECT_TRUE(tools.isModified());
}

// ---- tool objects that call back

TEST_F(ToolContainer, AToolWhoseCreationRemovesAnotherToolIsStillEntered) {
    ScriptedTool first, second;
    const GUID firstId = freshGuid(), secondId = freshGuid();
    ASSERT_EQ(tools.addTool(firstId, u"First.1.0", first.clsid, 0), 0u);
    second.script->onCreate = [&] { EXPECT_EQ(tools.removeTool(firstId), 0u); };
    EXPECT_EQ(tools.addTool(secondId, u"Second.1.0", second.clsid, 0), 0u);
    EXPECT_FALSE(tools.isTool(firstId));
    EXPECT_TRUE(tools.isTool(secondId));
}

TEST_F(ToolContainer, ATakenNameOrIdentifierSeenOnlyAfterTheObjectIsMadeIsRefused) {
    ScriptedTool tool, rival;
    const GUID id = freshGuid();
    tool.script->onCreate = [&] {
        EXPECT_EQ(tools.addTool(freshGuid(), u"TOOL.1.0", rival.clsid, 0), 0u);
    };
    EXPECT_EQ(tools.addTool(id, u"Tool.1.0", tool.clsid, 0), 4u);
    EXPECT_FALSE(tools.isTool(id));
    tools.clear();
    tool.script->onCreate = [&] { EXPECT_EQ(tools.addTool(id, u"Rival.1.0", rival.clsid, 0), 0u); };
    tools.setModified(false);
    EXPECT_EQ(tools.addTool(id, u"Tool.1.0", tool.clsid, 0), 0xFFFFu);
    EXPECT_EQ(tools.findEntry(id)->m_name.view(), "Rival.1.0");
}

TEST_F(ToolContainer, AToolThatRemovesOrClearsWhileItsObjectIsMadeIsServed) {
    ScriptedTool tool, other;
    const GUID id = freshGuid(), otherId = freshGuid();
    ASSERT_EQ(tools.addTool(id, u"Tool.1.0", tool.clsid, 0), 0u);
    ASSERT_EQ(tools.addTool(otherId, u"Other.1.0", other.clsid, 0), 0u);
    tool.script->onCreate = [&] { tools.removeTool(id); };
    ComPtr<IUnknown> object;
    EXPECT_EQ(tools.getToolByID(id, &object), 0u);
    EXPECT_TRUE(object);
    EXPECT_FALSE(tools.isTool(id));
    other.script->onCreate = [&] { tools.clear(); };
    ComPtr<IUnknown> again;
    EXPECT_EQ(tools.getToolByID(otherId, &again), 0u);
    EXPECT_EQ(tools.size(), 0u);
}

TEST_F(ToolContainer, AToolObjectThatRemovesItsToolWhenItDiesLeavesNoEntryBehind) {
    ScriptedTool tool;
    const GUID id = freshGuid();
    tool.script->onDeath = [&] { tools.removeTool(id); };
    EXPECT_EQ(tools.addTool(id, u"Tool.1.0", tool.clsid, 0), 0u);
    EXPECT_FALSE(tools.isTool(id));
    EXPECT_EQ(tool.script->alive, 0);
}

// ---- the tool section

TEST_F(ToolContainer, AnEmptyContainerIsTheDigitZeroAndASpace) {
    EXPECT_EQ(written(tools), "0 ");
    ASSERT_EQ(tools.addTool(freshGuid(), u"Tool.1.0", freshGuid(), 0), 0u);
    tools.setModified(false);
    EXPECT_EQ(readInto(tools, "0 "), 0u);
    EXPECT_EQ(tools.size(), 0u);
    EXPECT_TRUE(tools.isModified()); // the owner clears it after a load
}

TEST_F(ToolContainer, ToolsAreWrittenInGuidOrderAndReadBack) {
    ASSERT_EQ(tools.addTool(kHigh, u"Other.2.1", kClsidB, 0xFFFFFFFF), 0u);
    ASSERT_EQ(tools.addTool(kLow, u"Tool.1.0", kClsidA, 5), 0u);
    EXPECT_EQ(written(tools), kTwoTools);

    CIsToolCont back;
    EXPECT_EQ(readInto(back, kTwoTools), 0u);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.findEntry(kLow)->m_name.view(), "Tool.1.0");
    EXPECT_EQ(back.findEntry(kLow)->m_clsid, kClsidA);
    EXPECT_EQ(back.findEntry(kLow)->m_value, 5u);
    EXPECT_EQ(back.findEntry(kHigh)->m_name.view(), "Other.2.1");
    EXPECT_EQ(back.findEntry(kHigh)->m_clsid, kClsidB);
    EXPECT_EQ(back.findEntry(kHigh)->m_value, 0xFFFFFFFFu);
}

TEST_F(ToolContainer, AHostileSectionFailsWithoutEnteringHalfReadTools) {
    const std::string tool = "{0000000A-0000-0000-0000-000000000001}  8 Tool.1.0 "
                             "{11111111-2222-3333-4444-555555555555}  ";
    EXPECT_NE(readInto(tools, "4294967295 " + tool + "5 "), 0u);
    EXPECT_EQ(tools.size(), 1u);
    EXPECT_NE(readInto(tools, "1 {0000000A-0000-0000-0000-000000000001}  4000000000 Tool"), 0u);
    EXPECT_EQ(tools.size(), 0u);
    EXPECT_NE(readInto(tools, "1 " + tool + "-1 "), 0u);
    EXPECT_EQ(tools.size(), 0u);
    EXPECT_NE(readInto(tools, "-1 "), 0u);
    EXPECT_EQ(tools.size(), 0u);
}

ZEB_CHILD_SCENARIO(toolSectionShort) {
    CIsToolCont tools;
    // Three announced, two present.
    std::string bytes = "3" + kTwoTools.substr(1);
    DWORD state = readInto(tools, bytes);
    return std::to_string(state != 0) + " " + std::to_string(tools.size());
}

ZEB_CHILD_SCENARIO(toolSectionRepeated) {
    CIsToolCont tools;
    std::string bytes = "2 {0000000A-0000-0000-0000-000000000001}  8 Tool.1.0 "
                        "{11111111-2222-3333-4444-555555555555}  5 "
                        "{0000000A-0000-0000-0000-000000000001}  8 Dupl.1.0 "
                        "{66666666-7777-8888-9999-AAAAAAAAAAAA}  6 ";
    DWORD state = readInto(tools, bytes);
    return std::to_string(state) + " " + std::to_string(tools.size()) + " " +
           std::string(tools.findEntry(kLow)->m_name.view());
}

ZEB_CHILD_SCENARIO(toolSectionEmpty) {
    CIsToolCont tools;
    return std::to_string(readInto(tools, "0 ")) + " " + std::to_string(tools.size());
}

ZEB_CHILD_SCENARIO(toolNotRegistered) {
    CIsToolCont tools;
    const GUID id = freshGuid();
    DWORD added = tools.addTool(id, u"Later.1.0", freshGuid(), 0);
    ComPtr<IUnknown> object;
    return std::to_string(added) + " " + std::to_string(tools.getToolByID(id, &object));
}

TEST(ToolSectionTraces, ACountLargerThanTheItemsKeepsThoseReadAndIsTraced) {
    auto run = zeb::test::runTraced("toolSectionShort");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.output, "1 2");
    EXPECT_EQ(run.linesWith("error reading installation data").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("operator >> (CIsToolCont)").size(), 1u) << run.text;
}

TEST(ToolSectionTraces, ARepeatedIdentifierKeepsTheFirstAndIsTraced) {
    auto run = zeb::test::runTraced("toolSectionRepeated");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.output, "0 1 Tool.1.0");
    EXPECT_EQ(run.linesWith("error inserting tool entry for \"Dupl.1.0\"").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("error reading installation data").size(), 1u) << run.text;
}

TEST(ToolSectionTraces, AnEmptySectionReadsWithoutATrace) {
    auto run = zeb::test::runTraced("toolSectionEmpty");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.output, "0 0");
    EXPECT_TRUE(run.linesWith("CIsToolCont").empty()) << run.text;
}

TEST(ToolSectionTraces, AToolNotRegisteredYetIsAToleratedMiss) {
    auto run = zeb::test::runTraced("toolNotRegistered", "3");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.output, "0 22");
    EXPECT_EQ(run.linesWith("error calling CIsToolCont::createTypeObject").size(), 1u) << run.text;
    auto errors = zeb::test::runTraced("toolNotRegistered", "4");
    EXPECT_TRUE(errors.linesWith("error calling CIsToolCont::createTypeObject").empty())
        << errors.text;
    EXPECT_EQ(errors.linesWith("couldn't create class factory hr=").size(), 2u) << errors.text;
}

} // namespace
