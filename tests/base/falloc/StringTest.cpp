#include "base/falloc/String.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(StringValue, CopiesAreDeepAndIndependent) {
    String a("Drive.1.0");
    String b(a);
    String c;
    c = a;
    b += String(".7");
    c = "Axis.2";
    EXPECT_STREQ(a.c_str(), "Drive.1.0");
    EXPECT_STREQ(b.c_str(), "Drive.1.0.7");
    EXPECT_STREQ(c.c_str(), "Axis.2");
    String moved(std::move(b));
    EXPECT_STREQ(moved.c_str(), "Drive.1.0.7");
    EXPECT_TRUE(b.empty()); // NOLINT(bugprone-use-after-move): a moved-from String is empty
}

TEST(StringValue, ConstructionHonoursExplicitAndImpliedLength) {
    EXPECT_STREQ(String("abcdef", 3).c_str(), "abc");
    EXPECT_EQ(String("abc\0def", 7).length(), 7u);
    EXPECT_EQ(String("abcdef", -1).length(), 6u);
    EXPECT_TRUE(String(nullptr, 5).empty());
    EXPECT_EQ(String("ab", -1, 40).capacity(), 52u); // 64-byte block
}

TEST(StringValue, BlockSizesFollowTheDoublingRule) {
    EXPECT_EQ(String("abcd").capacity(), 4u);   // 16-byte block
    EXPECT_EQ(String("abcde").capacity(), 20u); // 32-byte block
    EXPECT_EQ(String(std::string(20, 'x')).capacity(), 20u);
    EXPECT_EQ(String(std::string(21, 'x')).capacity(), 52u);  // 64-byte block
    EXPECT_EQ(String(std::string(53, 'x')).capacity(), 116u); // 128-byte heap block
    EXPECT_EQ(StringBuffer::blockSize(String::maxCapacity()), 1u << 30);
    EXPECT_EQ(StringBuffer::blockSize(String::maxCapacity() + 1), 0u);
}

TEST(StringValue, AssignmentReusesALargeEnoughBufferAndSurvivesSelfOverlap) {
    String s(std::string(40, 'x'));
    const char* before = s.c_str();
    s = "short";
    EXPECT_EQ(s.c_str(), before);
    EXPECT_STREQ(s.c_str(), "short");

    String t("Prefix.Body.Tail");
    t = t.mid(7);
    EXPECT_STREQ(t.c_str(), "Body.Tail");
    t.append(t.c_str(), t.length()); // appending itself, forcing a reallocation
    EXPECT_STREQ(t.c_str(), "Body.TailBody.Tail");
    t.assign(t.c_str() + 5, 4);
    EXPECT_STREQ(t.c_str(), "Tail");
}

TEST(StringCompare, ExactComparisonOrdersByBytesThenLength) {
    EXPECT_EQ(String("abc").compare("abc"), 0);
    EXPECT_LT(String("abc").compare("abd"), 0);
    EXPECT_EQ(String("abc").compare("abcd"), -1);
    EXPECT_GT(String("b").compare("abc"), 0);
    EXPECT_NE(String("abc").compare("ABC"), 0);
    EXPECT_LT(String("z").compare("\xC3\xA4"), 0); // non-ASCII bytes sort as unsigned
}

TEST(StringCompare, CaseFoldingCoversOnlyAsciiLetters) {
    EXPECT_LT(String("abc").compareNoCase("ABD"), 0);
    EXPECT_EQ(String("abc").compareNoCase("abcd"), -1);
    EXPECT_EQ(String("Drive_1.0").compareNoCase("DRIVE_1.0"), 0);
    EXPECT_NE(String("\xC3\xA4").compareNoCase("\xC3\x84"), 0); // a-umlaut is not folded
    EXPECT_NE(String("[").compareNoCase("{"), 0);               // neither are neighbours of A-Z
    EXPECT_STREQ(String("MiXeD_\xC3\x84.1").toLower().c_str(), "mixed_\xC3\x84.1");
}

TEST(StringParts, SearchLeftAndMidClipToTheText) {
    String s("PmGlobCommon.1.1");
    EXPECT_EQ(s.find('.'), 12u);
    EXPECT_EQ(s.find('.', 13), 14u);
    EXPECT_EQ(s.find('#'), String::npos);
    EXPECT_STREQ(s.left(s.find('.')).c_str(), "PmGlobCommon");
    EXPECT_STREQ(s.left(100).c_str(), "PmGlobCommon.1.1");
    EXPECT_STREQ(s.mid(13, 1).c_str(), "1");
    EXPECT_TRUE(s.mid(100).empty());
    EXPECT_STREQ((String("a") + String("b")).c_str(), "ab");
}

TEST(StringRegex, FirstMatchAndWholeMatch) {
    EXPECT_STREQ(String("PmGlobCommon.1.1").firstMatch(String::identifierPattern()).c_str(),
                 "PmGlobCommon");
    EXPECT_STREQ(String("1.2.Axis_3.4").firstMatch(String::identifierPattern()).c_str(), "Axis_3");
    EXPECT_TRUE(String("123.456").firstMatch(String::identifierPattern()).empty());
    const boost::regex versioned("^[A-Za-z_][A-Za-z0-9_]*\\.[0-9]+(\\.[0-9]+)*$",
                                 boost::regex::perl);
    EXPECT_TRUE(String("Axis_2.3.0.12").matches(versioned));
    EXPECT_FALSE(String("Drive").matches(versioned));
    EXPECT_FALSE(String("Drive.1.").matches(versioned));
}

struct HandlerCapture {
    static inline std::string seen;
    static void handler(const char* cls, const char* msg) { seen = std::string(cls) + ": " + msg; }
};

TEST(StringLimit, OverLongRequestsAreReportedToTheCallerNotFatal) {
    String::ErrorHandler old = String::setErrorHandler(&HandlerCapture::handler);
    String s("keep");
    EXPECT_FALSE(s.reserve(String::maxCapacity() + 1));
    EXPECT_EQ(HandlerCapture::seen, "String: Requested length out of range");
    EXPECT_STREQ(s.c_str(), "keep");

    HandlerCapture::seen.clear();
    EXPECT_THROW(String("x", -1, String::maxCapacity() + 1), std::length_error);
    EXPECT_FALSE(HandlerCapture::seen.empty());

    HandlerCapture::seen.clear();
    EXPECT_FALSE(s.append("y", size_t(String::maxCapacity())));
    EXPECT_FALSE(HandlerCapture::seen.empty());
    EXPECT_STREQ(s.c_str(), "keep");
    String::setErrorHandler(old);
}

} // namespace
