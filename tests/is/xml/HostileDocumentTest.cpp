// Texts the classification document must refuse (external and internal
// entities, entity expansion, parameter entities, nesting beyond 256, broken
// UTF-16), and what the installation document is after such a refusal: empty,
// with none of the refused text in it, none of the types it held before found
// any more, and ready for the next add, which writes the usual skeleton.
#include "is/xml/CIsXmlClassification.h"

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zeb::Bstr;

namespace {

constexpr GUID kDrive = makeGuid("0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F");
constexpr GUID kAxis = makeGuid("11111111-2222-4333-8444-555555555555");

// The text of an empty document.
const std::string kEmptyText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// The text after adding kDrive as "Drive.1" of class Device to an empty document.
const std::string kDriveOnlyText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<Installation><New><Device><ESType "
                                   "ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" "
                                   "ESName=\"Drive.1\"/></Device></New></Installation>\n";
// A loadable document that holds kAxis.
const char* const kAxisDocument = "<Installation><New><TObject><ESType "
                                  "ESID=\"{11111111-2222-4333-8444-555555555555}\" "
                                  "ESName=\"Axis.1\"/></TObject></New></Installation>";

std::string textOf(CIsXmlClassification& doc) {
    BSTR text = nullptr;
    EXPECT_TRUE(doc.getXMLText(&text));
    std::string out = zeb::toNarrow(std::u16string_view(text, SysStringLen(text)));
    SysFreeString(text);
    return out;
}

bool loadUtf8(CIsXmlClassification& doc, const std::string& text) {
    Bstr s{std::string_view(text)};
    return doc.setXMLText(s);
}

bool loadUnits(CIsXmlClassification& doc, const std::u16string& units) {
    Bstr s{std::u16string_view(units)};
    return doc.setXMLText(s);
}

// The document after a refused load: empty, nothing found, and an add that
// works from scratch, both through the lookup and through the XPath.
void expectEmptyAndUsable(CIsXmlClassification& doc) {
    EXPECT_FALSE(doc.document().documentElement());
    EXPECT_EQ(textOf(doc), kEmptyText);
    EXPECT_FALSE(doc.findTypeElement(kAxis));
    EXPECT_FALSE(doc.findTypeElement(kDrive));
    ASSERT_EQ(doc.addXMLType(kDrive, String("Drive.1"), TC_Device), 0u);
    EXPECT_EQ(textOf(doc), kDriveOnlyText);
    zeb::xml::DomElement found = doc.findTypeElement(kDrive);
    ASSERT_TRUE(found);
    EXPECT_TRUE(found == doc.document().selectSingleNode(
                             u".//*[ESType/@ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\"]"));
    EXPECT_FALSE(doc.findTypeElement(kAxis));
}

std::string nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<Device>";
    text += "<ESType ESID=\"{11111111-2222-4333-8444-555555555555}\"/>";
    for (int i = 0; i < depth; ++i)
        text += "</Device>";
    return text;
}

} // namespace

TEST(HostileClassificationText, AnExternalEntityIsRefusedAndTheFileItNamesNeverShows) {
    zeb::test::TempDir dir;
    const std::string secret = dir.file("secret.txt");
    zeb::test::writeFile(secret, "SECRET-CONTENT-4711");
    const std::string inAttribute =
        "<!DOCTYPE Installation [<!ENTITY x SYSTEM \"file://" + secret +
        "\">]><Installation><New><Device><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" "
        "ESName=\"&x;\"/></Device></New></Installation>";
    const std::string inContent = "<!DOCTYPE Installation [<!ENTITY x SYSTEM \"" + secret +
                                  "\">]><Installation>&x;</Installation>";
    const std::string asParameter = "<!DOCTYPE Installation [<!ENTITY % p SYSTEM \"file://" +
                                    secret + "\"> %p;]><Installation/>";
    for (const std::string& text : {inAttribute, inContent, asParameter}) {
        SCOPED_TRACE(text);
        CIsXmlClassification doc;
        ASSERT_TRUE(loadUtf8(doc, kAxisDocument));
        ASSERT_TRUE(doc.findTypeElement(kAxis));
        EXPECT_FALSE(loadUtf8(doc, text));
        EXPECT_EQ(textOf(doc).find("SECRET"), std::string::npos);
        expectEmptyAndUsable(doc);
        EXPECT_EQ(textOf(doc).find("SECRET"), std::string::npos);
    }
}

TEST(HostileClassificationText, EntityDeclarationsAndTheirExpansionAreRefused) {
    std::string laughs = "<!DOCTYPE Installation [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><Installation><New><Device><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-"
              "9A8B7C6D5E4F}\" ESName=\"&l9;\"/></Device></New></Installation>";
    const std::vector<std::string> texts = {
        laughs,
        // An internal entity carrying an identifier.
        "<!DOCTYPE Installation [<!ENTITY id \"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\">]>"
        "<Installation><New><Device><ESType ESID=\"&id;\"/></Device></New></Installation>",
        // Parameter entities that declare a general entity.
        "<!DOCTYPE Installation [<!ENTITY % decl \"<!ENTITY g 'x'>\"> %decl;]>"
        "<Installation>&g;</Installation>",
        // A reference to an entity declared nowhere.
        "<Installation><New><Device><ESType ESID=\"&id;\"/></Device></New></Installation>",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        CIsXmlClassification doc;
        ASSERT_TRUE(loadUtf8(doc, kAxisDocument));
        EXPECT_FALSE(loadUtf8(doc, text));
        expectEmptyAndUsable(doc);
    }
}

TEST(HostileClassificationText, NestingBeyond256AndBrokenUtf16AreRefused) {
    CIsXmlClassification doc;
    // 253 class levels under Installation/New stay within the limit and load.
    ASSERT_TRUE(loadUtf8(doc, "<Installation><New>" + nested(253) + "</New></Installation>"));
    EXPECT_TRUE(doc.findTypeElement(kAxis));
    EXPECT_FALSE(loadUtf8(doc, "<Installation><New>" + nested(300) + "</New></Installation>"));
    expectEmptyAndUsable(doc);

    const std::u16string before = u"<Installation><New><TObject><ESType ESName=\"";
    const std::u16string after = u"\" ESID=\"{11111111-2222-4333-8444-555555555555}\"/>"
                                 u"</TObject></New></Installation>";
    const std::u16string loneSurrogates[] = {u"\xD800", u"x\xDC00",
                                             u"\xDBFF"
                                             u"A"};
    for (const std::u16string& bad : loneSurrogates) {
        SCOPED_TRACE(zeb::toNarrow(bad));
        CIsXmlClassification other;
        ASSERT_TRUE(loadUtf8(other, kAxisDocument));
        EXPECT_FALSE(loadUnits(other, before + bad + after));
        expectEmptyAndUsable(other);
    }
    // The same text with a well-formed pair loads.
    CIsXmlClassification paired;
    EXPECT_TRUE(loadUnits(paired, before + u"\xD83D\xDE00" + after));
    EXPECT_TRUE(paired.findTypeElement(kAxis));
}
