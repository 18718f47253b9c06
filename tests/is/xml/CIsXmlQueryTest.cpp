#include "is/xml/CIsXmlClassification.h"
#include "is/xml/CIsXmlQueryText.h"
#include "is/xml/CIsXmlTypeQuery.h"

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zeb::xml::DomElement;
using zeb::xml::DomNode;

CIsXmlQueryText::Result fill(const char* xpath, std::vector<std::string> params) {
    return CIsXmlQueryText::fillParams(xpath, params);
}

TEST(QueryText, TextWithoutQuotesGivesThePlainlyPastedXPath) {
    auto r = fill("//E[@n=\"%param1%\" and @m='%param2%x%param1%']/@v", {"a b]|", "c"});
    EXPECT_EQ(r.code, CIsXmlQueryText::kOk);
    EXPECT_EQ(r.text, "//E[@n=\"a b]|\" and @m='cxa b]|']/@v");
    // A quote of the other kind fits the literal as it stands.
    r = fill("//E[@n=\"%param1%\"]", {"it's"});
    EXPECT_EQ(r.text, "//E[@n=\"it's\"]");
    std::string typed = ".//*[ESType/@ESID=\"%estypeid\"]/@A%estypeid";
    EXPECT_TRUE(CIsXmlQueryText::fillTypeId(typed, "{X}"));
    EXPECT_EQ(typed, ".//*[ESType/@ESID=\"{X}\"]/@A{X}");
    std::string none = "//@A";
    EXPECT_FALSE(CIsXmlQueryText::fillTypeId(none, "{X}"));
}

TEST(QueryText, LiteralsAreRebuiltAroundTheQuotesTheyReceive) {
    EXPECT_EQ(fill("//E[@n=\"%param1%\"]", {"say \"hi\""}).text, "//E[@n='say \"hi\"']");
    EXPECT_EQ(fill("//E[@n='%param1%']", {"it's"}).text, "//E[@n=\"it's\"]");
    EXPECT_EQ(fill("//E[@n=\"<%param1%>\"]", {"a\"b'c"}).text,
              "//E[@n=concat(\"<a\", '\"', \"b'c>\")]");
    EXPECT_EQ(CIsXmlQueryText::literal("\"\"x'"), "concat('\"\"', \"x'\")");
}

TEST(QueryText, PlaceholderProblemsAreReported) {
    auto r = fill("//E[@n=\"%param1%\"]", {});
    EXPECT_EQ(r.code, CIsXmlQueryText::kParamLeft);
    r = fill("//E[@n=\"%param1%\"]", {"a", "b"});
    EXPECT_EQ(r.code, CIsXmlQueryText::kParamMissing);
    EXPECT_EQ(r.param, 2u);
    // Text pasted for parameter 1 is not searched for parameter 2.
    r = fill("//E[@n=\"%param1%\"]/@%param2%", {"%param2%", "v"});
    EXPECT_EQ(r.code, CIsXmlQueryText::kParamLeft);
    // Outside literals: numbers and names only.
    EXPECT_EQ(fill("//E[@i=%param1%]", {"-2.5"}).text, "//E[@i=-2.5]");
    EXPECT_EQ(fill("//%param1%", {"p:Name"}).text, "//p:Name");
    for (const char* bad : {"", "1 or 1=1", "a|b", "*", "1]", "x'", "@a", "1.2.3"}) {
        r = fill("//E[@i=%param1%]", {bad});
        EXPECT_EQ(r.code, CIsXmlQueryText::kUnsafeParam) << bad;
    }
    // A literal the stored text leaves open takes no quotes.
    EXPECT_EQ(fill("//E[@n=\"%param1%", {"x\""}).code, CIsXmlQueryText::kUnsafeParam);
}

TEST(TypeQuery, RecognisesOnlyTheIndexedFormFollowedBySteps) {
    std::string id, rest;
    ASSERT_TRUE(CIsXmlTypeQuery::parse(".//*[ESType/@ESID=\"{A}\"]/@Vendor", id, rest));
    EXPECT_EQ(id, "{A}");
    EXPECT_EQ(rest, "/@Vendor");
    ASSERT_TRUE(CIsXmlTypeQuery::parse("//*[ESType/@ESID = '{B}']", id, rest));
    EXPECT_EQ(id, "{B}");
    EXPECT_EQ(rest, "");
    EXPECT_TRUE(CIsXmlTypeQuery::parse(
        ".//*[ESType/@ESID=\"x\"]//p:Prop[@n=\"a]\" and (1)][2]/child::text()", id, rest));
    for (const char* other : {
             ".//*[ESType/@ESID=\"x\"]/@a | //b", // a union
             ".//*[ESType/@ESID=\"x\"][1]/@a",    // a second predicate
             ".//*[ESType/@ESID=\"x\"]/@a = 1",   // an operator
             ".//*[ESType/@ESID=\"x\"]/count(a)", // a function
             "/*[ESType/@ESID=\"x\"]/@a",         // another first step
             ".//*[ESType/@ESID=\"x\" or 1]/@a",  // another predicate
             ".//*[ESType/@ESID=\"x\"]/@a[1",     // open predicate
             ".//Device[ESType/@ESID=\"x\"]/@a",  // a named class element
             " .//*[ESType/@ESID=\"x\"]/@a",      // white space
         })
        EXPECT_FALSE(CIsXmlTypeQuery::parse(other, id, rest)) << other;
}

// ---- the indexed selection against plain XPath

const char* const kIds[] = {"{00000001-0000-0000-0000-000000000000}",
                            "{00000002-0000-0000-0000-000000000000}", "a\"b", "{X}"};

std::string randomElement(std::mt19937& rng, int depth) {
    static const char* const names[] = {"Device", "TObject", "ESType", "X", "Contents"};
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    std::string name = names[pick(5)];
    std::string out = "<" + name;
    if (pick(3) == 0) out += " v=\"" + std::to_string(pick(4)) + "\"";
    if (pick(4) == 0) out += " ESID='" + std::string(kIds[pick(4)]) + "'";
    out += ">";
    const int children = depth > 3 ? 0 : pick(4);
    for (int i = 0; i < children; ++i) {
        switch (pick(6)) {
        case 0:
            out += "<ESType ESID='" + std::string(kIds[pick(4)]) + "' ESName=\"n" +
                   std::to_string(pick(9)) + "\"/>";
            break;
        case 1: // not the ESType the XPath name test means
            out += pick(2)
                       ? "<p:ESType xmlns:p=\"urn:p\" ESID='" + std::string(kIds[pick(4)]) + "'/>"
                       : "<ESType xmlns=\"urn:d\" ESID='" + std::string(kIds[pick(4)]) + "'/>";
            break;
        case 2: // an identifier in a namespace
            out += "<ESType xmlns:q=\"urn:q\" q:ESID='" + std::string(kIds[pick(4)]) + "'/>";
            break;
        case 3:
            out += "text" + std::to_string(pick(3));
            break;
        default:
            out += randomElement(rng, depth + 1);
        }
    }
    return out + "</" + name + ">";
}

std::string randomQuery(std::mt19937& rng) {
    static const char* const starts[] = {".//*[ESType/@ESID=\"%s\"]", "//*[ESType/@ESID='%s']",
                                         ".//*[ESType/@ESID = \"%s\"]"};
    static const char* const rests[] = {"",
                                        "/@v",
                                        "/@*",
                                        "/ESType/@ESName",
                                        "//@v",
                                        "/..",
                                        "/../@v",
                                        "/ESType[1]/@ESID",
                                        "/*[@v]/@v",
                                        "/ancestor::*/@v",
                                        "/following-sibling::*/@v",
                                        "/descendant::ESType[last()]/@ESName",
                                        "/text()",
                                        "/node()",
                                        "/@v | //X",
                                        "[1]/@v",
                                        "/@v[. = '1']",
                                        "/@v/..//@ESID",
                                        "/X[",
                                        "/@@v"};
    const char* id = kIds[rng() % 4];
    if (std::string(id).find('"') != std::string::npos) id = "{X}";
    std::string start = starts[rng() % 3];
    start.replace(start.find("%s"), 2, id);
    return start + rests[rng() % (sizeof rests / sizeof rests[0])];
}

// Plain XPath through the DOM: the nodes, or false when the DOM refuses.
bool plain(const zeb::xml::DomDocument& doc, const std::string& xpath, std::vector<DomNode>& out) {
    try {
        out = doc.selectNodes(zeb::toWide(xpath));
        return true;
    } catch (const zeb::ComError&) {
        out.clear();
        return false;
    }
}

void expectSameSelection(CIsXmlClassification& c, const std::string& xpath) {
    std::vector<DomNode> indexed, expected;
    const bool ok = SUCCEEDED(c.selectQuery(xpath, indexed));
    ASSERT_EQ(ok, plain(c.document(), xpath, expected)) << xpath;
    ASSERT_EQ(indexed.size(), expected.size()) << xpath;
    for (size_t i = 0; i < indexed.size(); ++i)
        ASSERT_TRUE(indexed[i] == expected[i]) << xpath << " node " << i;
}

// Random edits made through the live document, as a caller holding it
// (getInstallationDocument) would, and through the classification's own
// operations, which update the index in place.
void randomEdit(CIsXmlClassification& c, std::mt19937& rng) {
    zeb::xml::DomDocument doc = c.document();
    std::vector<DomNode> all = doc.selectNodes(u"//*");
    if (all.empty()) return;
    DomElement target = all[rng() % all.size()].asElement();
    const GUID ids[] = {makeGuid("00000001-0000-0000-0000-000000000000"),
                        makeGuid("00000002-0000-0000-0000-000000000000")};
    switch (rng() % 6) {
    case 0:
        target.setAttribute(u"ESID", zeb::toWide(kIds[rng() % 4]));
        break;
    case 1:
        if (DomNode parent = target.parentNode(); parent && parent.nodeType() == NODE_ELEMENT)
            parent.removeChild(target);
        break;
    case 2: {
        DomElement cls = doc.createElement(u"Device");
        DomElement type = doc.createElement(u"ESType");
        type.setAttribute(u"ESID", zeb::toWide(kIds[rng() % 4]));
        cls.appendChild(type);
        target.appendChild(cls);
        break;
    }
    case 3:
        target.removeAttribute(u"ESID");
        break;
    case 4:
        c.addXMLType(ids[rng() % 2], String("T.1"), TypeClass(rng() % 9));
        break;
    default:
        c.removeXMLType(ids[rng() % 2]);
        break;
    }
}

TEST(IndexedQueries, SelectExactlyWhatPlainXPathSelects) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 60; ++round) {
        CIsXmlClassification c;
        std::string xml = "<Installation>";
        for (int i = 0; i < 6; ++i)
            xml += randomElement(rng, 0);
        xml += "</Installation>";
        ASSERT_TRUE(c.setXMLText(zeb::Bstr(xml))) << xml;
        for (int step = 0; step < 40; ++step) {
            expectSameSelection(c, randomQuery(rng));
            if (step % 3 == 0) randomEdit(c, rng);
        }
    }
}

// Literal text plain XPath refuses (no XML character, no UTF-8) is refused
// by the indexed selection too.
TEST(IndexedQueries, RefuseTheLiteralsPlainXPathRefuses) {
    CIsXmlClassification c;
    ASSERT_TRUE(c.setXMLText(zeb::Bstr("<Installation><Device><ESType ESID=\"x\"/></Device>"
                                       "</Installation>")));
    for (const char* q : {".//*[ESType/@ESID=\"\x01\"]/@v", ".//*[ESType/@ESID=\"\xff\"]/@v",
                          ".//*[ESType/@ESID=\"\xed\xa0\x80\"]/@v", ".//*[ESType/@ESID=\"x\"]"})
        expectSameSelection(c, q);
}

TEST(IndexedQueries, FindElementsAddedAndRemovedThroughTheLiveDocument) {
    CIsXmlClassification c;
    const GUID id = makeGuid("00000001-0000-0000-0000-000000000000");
    ASSERT_EQ(c.addXMLType(id, String("Drive.1"), TC_Device), 0u);
    const std::string q = ".//*[ESType/@ESID=\"{00000001-0000-0000-0000-000000000000}\"]/@v";
    std::vector<DomNode> nodes;
    ASSERT_EQ(c.selectQuery(q, nodes), S_OK);
    EXPECT_TRUE(nodes.empty());
    // A second class element for the same identifier, made behind the index.
    zeb::xml::DomDocument doc = c.document();
    DomElement other = doc.createElement(u"TObject");
    other.setAttribute(u"v", u"second");
    DomElement type = doc.createElement(u"ESType");
    type.setAttribute(u"ESID", u"{00000001-0000-0000-0000-000000000000}");
    other.appendChild(type);
    doc.documentElement().appendChild(other);
    c.findTypeElement(id).setAttribute(u"v", u"first");
    ASSERT_EQ(c.selectQuery(q, nodes), S_OK);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].text(), u"first");
    EXPECT_EQ(nodes[1].text(), u"second");
    doc.documentElement().removeChild(other);
    ASSERT_EQ(c.selectQuery(q, nodes), S_OK);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].text(), u"first");
}

} // namespace
