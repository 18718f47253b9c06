// The default stylesheets shipped for a new configuration directory: the
// arrangement applied after every refresh (k4bi00tx_tf.xsl) and the export
// form (k4bi00tx_tfb.xsl), run through our DOM and, for the arrangement,
// through xsltproc, since other tools must be able to apply them too.
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDom.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using zeb::xml::DomDocument;

namespace {

const std::string kArrange = std::string(ZEB_STYLESHEET_DIR) + "/k4bi00tx_tf.xsl";
const std::string kExport = std::string(ZEB_STYLESHEET_DIR) + "/k4bi00tx_tfb.xsl";

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string xmlOf(const DomDocument& doc) {
    return zeb::toNarrow(doc.xml());
}

// With `keepLayout` the whitespace-only text of hand-edited documents is
// kept as nodes, as when such a document is loaded with preserveWhiteSpace.
DomDocument parse(const std::string& text, bool keepLayout) {
    DomDocument doc = DomDocument::create();
    if (keepLayout) {
        EXPECT_EQ(doc.document()->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
    }
    EXPECT_TRUE(doc.loadXml(zeb::toWide(text))) << zeb::toNarrow(doc.parseErrorReason());
    return doc;
}

// The text of `input` transformed by the stylesheet file at `path`.
std::string transform(const std::string& path, const std::string& input, bool keepLayout = false) {
    DomDocument style = DomDocument::create();
    EXPECT_TRUE(style.load(path)) << path << ": " << zeb::toNarrow(style.parseErrorReason());
    DomDocument source = parse(input, keepLayout);
    DomDocument output = DomDocument::create();
    source.transformNodeToObject(style, output);
    return xmlOf(output);
}

std::string arrange(const std::string& input, bool keepLayout = false) {
    return transform(kArrange, input, keepLayout);
}

// A type as the document holds it.
std::string type(const std::string& cls, const std::string& id, const std::string& name,
                 const std::string& description = "") {
    return "<" + cls + "><ESType ESID=\"{" + id + "}\" ESName=\"" + name + "\"/>" + description +
           "</" + cls + ">";
}

std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    status = ::pclose(p);
    return out;
}

} // namespace

TEST(ArrangeStylesheet, TypesInNewStayAndDescribedTypesAreOrderedByClassThenName) {
    const std::string input = "<Installation><New>" + type("Program", "N1", "zeta.1") +
                              type("Device", "N2", "Axis") + "</New><Unclassified>" +
                              type("Program", "P1", "Beta.1") + type("GenericObject", "G1", "g") +
                              type("Program", "P2", "alpha.1") + type("Device", "D1", "motor") +
                              type("Library", "L1", "lib") + type("ProjectGlobal", "PG", "pg") +
                              type("SubObj", "S1", "sub") + type("ProcessingUnit", "PU", "cpu") +
                              type("Package", "PK", "pack") + type("TObject", "T1", "task") +
                              "</Unclassified><Classified>" + type("Device", "D2", "Drive") +
                              type("Device", "D3", "drive") + type("Device", "D4", "DRIVE") +
                              "</Classified></Installation>";
    EXPECT_EQ(arrange(input),
              kDeclaration + "<Installation><New>" + type("Program", "N1", "zeta.1") +
                  type("Device", "N2", "Axis") + "</New><Unclassified/><Classified>" +
                  // equal names without regard to case keep their document order
                  type("Device", "D2", "Drive") + type("Device", "D3", "drive") +
                  type("Device", "D4", "DRIVE") + type("Device", "D1", "motor") +
                  type("TObject", "T1", "task") + type("Package", "PK", "pack") +
                  type("ProcessingUnit", "PU", "cpu") + type("Program", "P2", "alpha.1") +
                  type("Program", "P1", "Beta.1") + type("SubObj", "S1", "sub") +
                  type("ProjectGlobal", "PG", "pg") + type("Library", "L1", "lib") +
                  type("GenericObject", "G1", "g") + "</Classified></Installation>\n");
}

TEST(ArrangeStylesheet, WhatIsNotADescribedTypeStaysInUnclassified) {
    EXPECT_EQ(arrange("<Installation><New/><Unclassified note=\"n\"><Device><Other/></Device>"
                      "<!-- kept -->" +
                      type("Device", "D1", "d") + "</Unclassified></Installation>"),
              kDeclaration +
                  "<Installation><New/><Unclassified note=\"n\"><Device><Other/></Device>"
                  "<!-- kept --></Unclassified><Classified>" +
                  type("Device", "D1", "d") + "</Classified></Installation>\n");
}

TEST(ArrangeStylesheet, UnknownClassesFollowGenericObjectAlphabetically) {
    EXPECT_EQ(arrange("<Installation><Unclassified>" + type("Zeta", "Z1", "a") +
                      type("Axis", "A2", "b") + type("GenericObject", "G1", "z") +
                      type("Axis", "A1", "a") + "</Unclassified></Installation>"),
              kDeclaration + "<Installation><New/><Unclassified/><Classified>" +
                  type("GenericObject", "G1", "z") + type("Axis", "A1", "a") +
                  type("Axis", "A2", "b") + type("Zeta", "Z1", "a") +
                  "</Classified></Installation>\n");
}

TEST(ArrangeStylesheet, OtherChildrenOfInstallationFollowClassifiedAndLoseTheirTypes) {
    EXPECT_EQ(arrange("<Installation version=\"2\"><Extra a=\"1\">text" +
                      type("Device", "D1", "d") +
                      "</Extra><Classified/><New/>"
                      "<Unclassified/><!-- note --></Installation>"),
              kDeclaration + "<Installation version=\"2\"><New/><Unclassified/><Classified>" +
                  type("Device", "D1", "d") +
                  "</Classified><Extra a=\"1\">text</Extra><!-- note --></Installation>\n");
}

TEST(ArrangeStylesheet, ATypeNestedInADescriptionMovesWithItsOwner) {
    const std::string owner =
        type("Device", "D1", "d", "<SubObj>" + type("Program", "P1", "inner") + "</SubObj>");
    EXPECT_EQ(arrange("<Installation><Unclassified>" + owner + type("Device", "D0", "a") +
                      "</Unclassified></Installation>"),
              kDeclaration + "<Installation><New/><Unclassified/><Classified>" +
                  type("Device", "D0", "a") + owner + "</Classified></Installation>\n");
}

TEST(ArrangeStylesheet, ADocumentWithoutInstallationBecomesTheSkeleton) {
    EXPECT_EQ(arrange("<!-- head --><Devices><Device/></Devices><?note x?>"),
              kDeclaration + "<!-- head -->\n"
                             "<Installation><New/><Unclassified/><Classified/></Installation>\n"
                             "<?note x?>\n");
}

TEST(ArrangeStylesheet, ArrangingTwiceGivesTheTextOfArrangingOnce) {
    const std::string input = "<!-- c --><Installation>\n  <New>" + type("Device", "N", "n") +
                              "</New>\n  <Unclassified>\n    " + type("Program", "P", "p") +
                              "\n    <Loose/>\n  </Unclassified>\n  <Classified>\n    " +
                              type("Device", "D", "d") +
                              "\n  </Classified>\n  <Extra/>\n"
                              "</Installation>";
    // Layout text inside Unclassified stays; between the reordered parts it
    // would be out of place and is dropped.
    const std::string once = arrange(input, true);
    EXPECT_EQ(once, kDeclaration + "<!-- c -->\n<Installation><New>" + type("Device", "N", "n") +
                        "</New><Unclassified>\n    \n    <Loose/>\n  </Unclassified><Classified>" +
                        type("Device", "D", "d") + type("Program", "P", "p") +
                        "</Classified><Extra/></Installation>\n");
    EXPECT_EQ(arrange(once, true), once);
}

TEST(ExportStylesheet, DropsWhitespaceOnlyTextAndKeepsEverythingElse) {
    EXPECT_EQ(transform(kExport,
                        "<!-- c --><Installation a=\"1\">\n  <New>\n    <Device>\n"
                        "      <ESType ESID=\"{X}\" ESName=\" spaced \"/>\n"
                        "      <Note> kept text </Note>\n      <!-- c2 -->\n"
                        "    </Device>\n  </New>\n  <Unclassified/>\n"
                        "</Installation><?pi data?>",
                        true),
              kDeclaration + "<!-- c -->\n<Installation a=\"1\"><New><Device>"
                             "<ESType ESID=\"{X}\" ESName=\" spaced \"/>"
                             "<Note> kept text </Note><!-- c2 --></Device></New>"
                             "<Unclassified/></Installation>\n<?pi data?>\n");
}

// xsltproc is an installed test peer: when it is missing the test fails.
TEST(ArrangeStylesheetPeer, XsltprocWritesTheSameTextAsOurDom) {
    const std::string input = "<Installation><New>" + type("Device", "N", "n") +
                              "</New><Unclassified>" + type("Program", "P2", "b") +
                              type("Zeta", "Z", "z") + type("Program", "P1", "A") +
                              "<Loose/></Unclassified><Classified>" + type("Device", "D", "d") +
                              "</Classified><Extra/></Installation>";
    zeb::test::TempDir dir;
    const std::string file = dir.file("classification.xml");
    zeb::test::writeFile(file, input);
    int status = -1;
    const std::string peer = run("xsltproc '" + kArrange + "' '" + file + "' 2>&1", status);
    ASSERT_EQ(status, 0) << "xsltproc failed or is missing: " << peer;
    // Our DOM ends the document text with a newline; xsltproc does not.
    EXPECT_EQ(peer + "\n", arrange(input));
}
