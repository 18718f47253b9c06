// XSLT over the DOM, and what stylesheets are not allowed to do.
#include "XmlTestHelpers.h"

#include "tests/support/TempDir.h"

#include <filesystem>

using namespace zeb;
using namespace zeb::test;
using zeb::xml::DomDocument;

TEST(XmlDomXslt, TransformNodeToObjectFillsTheOutputDocument) {
    DomDocument source = loaded("<Types><T id=\"1\">Motor</T><T id=\"2\">Axis</T></Types>");
    DomDocument style =
        loaded("<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
               "<xsl:template match=\"/Types\"><List><xsl:for-each select=\"T\">"
               "<Item key=\"{@id}\"><xsl:value-of select=\".\"/></Item>"
               "</xsl:for-each></List></xsl:template></xsl:stylesheet>");
    DomDocument out = DomDocument::create();
    const uint64_t before = out.changeCount();
    source.transformNodeToObject(style, out);
    EXPECT_EQ(u8(out.documentElement().xml()),
              "<List><Item key=\"1\">Motor</Item><Item key=\"2\">Axis</Item></List>");
    EXPECT_GT(out.changeCount(), before);
    // The source is unchanged.
    EXPECT_EQ(u8(source.documentElement().xml()),
              "<Types><T id=\"1\">Motor</T><T id=\"2\">Axis</T></Types>");
    // transformNode gives the text.
    Bstr text;
    EXPECT_EQ(source.get()->transformNode(style.get(), &text), S_OK);
    EXPECT_EQ(text.toUtf8(),
              "<?xml version=\"1.0\"?>\n"
              "<List><Item key=\"1\">Motor</Item><Item key=\"2\">Axis</Item></List>\n");
}

TEST(XmlDomXslt, AStylesheetThatWritesAFileIsRefusedAndWritesNothing) {
    TempDir dir;
    const std::string target = dir.file("written.xml");
    DomDocument source = loaded("<R/>");
    DomDocument style =
        loaded(("<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\""
                " xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
                "<xsl:template match=\"/\"><exsl:document href=\"" +
                target + "\"><Leak/></exsl:document><Done/></xsl:template></xsl:stylesheet>")
                   .c_str());
    DomDocument out = DomDocument::create();
    Variant output(static_cast<IUnknown*>(out.get()));
    EXPECT_EQ(source.get()->transformNodeToObject(style.get(), output),
              static_cast<HRESULT>(0x80070005));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(out.documentElement());
}

TEST(XmlDomXslt, BadStylesheetsAndOutputsGiveErrors) {
    DomDocument source = loaded("<R/>");
    DomDocument notXslt = loaded("<NotAStylesheet/>");
    DomDocument out = DomDocument::create();
    Variant output(static_cast<IUnknown*>(out.get()));
    EXPECT_EQ(source.get()->transformNodeToObject(notXslt.get(), output), E_FAIL);
    // The output must be a document of ours.
    DomDocument style =
        loaded("<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
               "<xsl:template match=\"/\"><X/></xsl:template></xsl:stylesheet>");
    EXPECT_EQ(source.get()->transformNodeToObject(style.get(), Variant(1)), E_INVALIDARG);
    Variant elementOut(static_cast<IUnknown*>(source.documentElement().get()));
    EXPECT_EQ(source.get()->transformNodeToObject(style.get(), elementOut), E_INVALIDARG);
}

TEST(XmlDomXslt, DocumentsAStylesheetReadsAreLocalAndHardened) {
    TempDir dir;
    writeFile(dir.file("data.xml"), "<Data>local</Data>");
    writeFile(dir.file("xxe.xml"),
              "<!DOCTYPE d [<!ENTITY x SYSTEM \"" + dir.file("data.xml") + "\">]><d>&x;</d>");
    const auto styleReading = [](const std::string& uri) {
        return loaded(
            ("<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:template match=\"/\"><Out><xsl:value-of select=\"document('" +
             uri + "')\"/></Out></xsl:template></xsl:stylesheet>")
                .c_str());
    };
    DomDocument source = loaded("<R/>");
    DomDocument out = DomDocument::create();
    // A local file is read.
    source.transformNodeToObject(styleReading(dir.file("data.xml")), out);
    EXPECT_EQ(u8(out.documentElement().xml()), "<Out>local</Out>");
    // A file with an external entity is not loaded: nothing comes of it.
    source.transformNodeToObject(styleReading(dir.file("xxe.xml")), out);
    EXPECT_EQ(u8(out.documentElement().xml()), "<Out/>");
    // A network address is refused outright.
    Variant output(static_cast<IUnknown*>(out.get()));
    EXPECT_EQ(source.get()->transformNodeToObject(styleReading("http://127.0.0.1:9/data.xml").get(),
                                                  output),
              static_cast<HRESULT>(0x80070005));
}
