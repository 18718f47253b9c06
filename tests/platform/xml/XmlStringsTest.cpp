// The conversions between the DOM's BSTRs and libxml2's UTF-8: ASCII runs
// are converted apart from the rest, so the tests put other characters,
// broken sequences and lone surrogates before, between and after ASCII runs
// longer and shorter than the eight bytes taken at a time.
#include "platform/xml/XmlStrings.h"
#include "platform/com/Bstr.h"

#include <gtest/gtest.h>

#include <string>

using zeb::xml::toBstr;
using zeb::xml::toUtf8;

namespace {

std::u16string widened(std::string_view utf8) {
    BSTR b = toBstr(utf8);
    std::u16string out(b, SysStringLen(b));
    SysFreeString(b);
    return out;
}

bool narrowed(const std::u16string& text, std::string& out) {
    zeb::Bstr b(text);
    return toUtf8(b, out);
}

} // namespace

TEST(XmlStrings, Utf8BecomesUtf16AroundAsciiRuns) {
    EXPECT_EQ(widened(""), u"");
    EXPECT_EQ(widened("<Installation ESID=\"x\"/>"), u"<Installation ESID=\"x\"/>");
    EXPECT_EQ(widened("Gr\xC3\xB6\xC3\x9F"
                      "e of the drive axis \xE2\x82\xAC"),
              u"Gr\u00F6\u00DFe of the drive axis \u20AC");
    EXPECT_EQ(widened("\xF0\x9F\x98\x80"
                      "abcdefghij\xC3\xA4"),
              u"\U0001F600abcdefghij\u00E4");
    // Broken sequences become U+FFFD each, as the one conversion makes them;
    // the ASCII byte after a cut sequence stays itself.
    EXPECT_EQ(widened("abcdefgh\xE2\x82"
                      "y and more"),
              u"abcdefgh\uFFFD\uFFFDy and more");
    EXPECT_EQ(widened("ab\xFF"
                      "cd\xC0\xAF"),
              u"ab\uFFFDcd\uFFFD"); // overlong: one
}

TEST(XmlStrings, Utf16BecomesUtf8AndALoneSurrogateIsRefused) {
    std::string out;
    ASSERT_TRUE(narrowed(u"", out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(narrowed(u"Gr\u00F6\u00DFe of the drive axis \u20AC\U0001F600!", out));
    EXPECT_EQ(out, "Gr\xC3\xB6\xC3\x9F"
                   "e of the drive axis \xE2\x82\xAC\xF0\x9F\x98\x80!");
    ASSERT_TRUE(narrowed(u"0123456789abcdefghij", out));
    EXPECT_EQ(out, "0123456789abcdefghij");

    // The limits of each encoded length, and a pair across a word boundary.
    ASSERT_TRUE(narrowed(u"abc\u007F\u0080\u07FF\u0800\uFFFDxyz\U00010000\U0010FFFF", out));
    EXPECT_EQ(out, "abc\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBDxyz"
                   "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");

    out = "kept";
    std::u16string swapped = u"abc\U0001F600d";
    std::swap(swapped[3], swapped[4]); // low before high
    EXPECT_FALSE(narrowed(swapped, out));
    std::u16string lone = u"abcdefghijklm\u00E4nop";
    lone[14] = char16_t(0xDC00);
    EXPECT_FALSE(narrowed(lone, out));
    lone = u"abcdefghijklmnop";
    lone[15] = char16_t(0xD800); // a high surrogate at the very end
    EXPECT_FALSE(narrowed(lone, out));
    EXPECT_EQ(out, "kept");
}
