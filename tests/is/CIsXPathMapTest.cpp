// The XPath map's section form: the bytes stored files hold, and how the
// reader deals with sections that end early or repeat an identifier.
#include "is/CIsXPathMap.h"

#include "tests/co/TraceLog.h"
#include "tests/support/SectionBytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytesOf(const CIsXPathMap& map) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(map, state);
    EXPECT_EQ(state, 0u);
    return bytes;
}

// Reads `bytes` as a section into `map`; the stream state afterwards.
DWORD readInto(const std::string& bytes, CIsXPathMap& map) {
    return zeb::test::readSection(bytes, map);
}

} // namespace

TEST(XPathMapSection, EntriesAreWrittenInIdentifierOrderAsLengthPrefixedText) {
    CIsXPathMap map;
    EXPECT_EQ(bytesOf(map), "0 ");
    ASSERT_TRUE(map.insert(String("types"), String("//ESType/@ESName")));
    ASSERT_TRUE(map.insert(String("drives"), String("//Device/ESType[@ESID=\"%estypeid\"]")));
    EXPECT_FALSE(map.insert(String("types"), String("other")));
    const std::string stored = "2 6 drives 34 //Device/ESType[@ESID=\"%estypeid\"]"
                               "5 types 16 //ESType/@ESName";
    EXPECT_EQ(bytesOf(map), stored);

    CIsXPathMap back;
    back.insert(String("stale"), String("x")); // the reader starts from an empty map
    EXPECT_EQ(readInto(stored, back), 0u);
    EXPECT_EQ(back.entries(), map.entries());
    // Readers skip separators, so a space after each entry reads the same.
    EXPECT_EQ(readInto("2 6 drives 34 //Device/ESType[@ESID=\"%estypeid\"] 5 types 16 "
                       "//ESType/@ESName ",
                       back),
              0u);
    EXPECT_EQ(back.entries(), map.entries());
}

ZEB_CHILD_SCENARIO(damagedXPathSections) {
    CIsXPathMap map;
    std::string out;
    // More entries announced than present: what was read stays.
    DWORD state = readInto("3 1 a1 x1 b1 y", map);
    out += std::to_string(state) + ":" + std::to_string(map.size());
    // A repeated identifier keeps the first text.
    state = readInto("2 1 a1 x1 a1 y", map);
    out += " " + std::to_string(state) + ":" + std::to_string(map.size()) +
           map.find(String("a"))->c_str();
    // A huge count with no data ends at once.
    state = readInto("4294967295 ", map);
    out += " " + std::to_string(state) + ":" + std::to_string(map.size());
    return out;
}

TEST(XPathMapSection, DamagedSectionsKeepWhatWasReadAndAreTraced) {
    zeb::test::TracedRun run = zeb::test::runTraced("damagedXPathSections");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "1:2 0:1x 1:0");
    EXPECT_EQ(run.linesWith("error reading installation data").size(), 3u) << run.text;
    EXPECT_EQ(run.linesWith("error inserting type entry for \"a\"").size(), 1u) << run.text;
}
