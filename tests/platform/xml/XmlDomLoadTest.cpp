// Loading documents we did not write: malformed text, entities, DTDs,
// nesting, encodings and where load() may read from.
#include "XmlTestHelpers.h"

#include "tests/support/TempDir.h"

using namespace zeb;
using namespace zeb::test;
using zeb::xml::DomDocument;

namespace {

// A refused load: S_FALSE, VARIANT_FALSE, the reason, and an empty document.
void expectRefused(const std::u16string& text, const std::string& reasonPart) {
    DomDocument doc = loaded("<Before/>");
    LoadResult r = loadRaw(doc.document(), text);
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.ok, VARIANT_FALSE);
    EXPECT_NE(r.reason.find(reasonPart), std::string::npos) << r.reason;
    EXPECT_FALSE(doc.documentElement());
    ComPtr<IXMLDOMParseError> error;
    ASSERT_EQ(doc.document()->get_parseError(&error), S_OK);
    LONG code = 0;
    EXPECT_EQ(error->get_errorCode(&code), S_OK);
    EXPECT_EQ(static_cast<uint32_t>(code), 0x80004005u);
}

std::u16string wide(const std::string& s) {
    return zeb::toWide(s);
}

} // namespace

TEST(XmlDomLoad, MalformedTextIsRefusedWithItsPosition) {
    DomDocument doc = DomDocument::create();
    LoadResult r = loadRaw(doc.document(), u"<R>\n  <A></B>\n</R>");
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.ok, VARIANT_FALSE);
    EXPECT_NE(r.reason.find("mismatch"), std::string::npos) << r.reason;
    ComPtr<IXMLDOMParseError> error;
    ASSERT_EQ(doc.document()->get_parseError(&error), S_OK);
    LONG line = 0;
    EXPECT_EQ(error->get_line(&line), S_OK);
    EXPECT_EQ(line, 2);
    expectRefused(u"", "");
    expectRefused(u"just text", "");
    expectRefused(u"<R/><S/>", "");
}

TEST(XmlDomLoad, ASuccessfulLoadClearsTheParseError) {
    DomDocument doc = DomDocument::create();
    EXPECT_FALSE(doc.loadXml(u"<R>"));
    EXPECT_TRUE(doc.loadXml(u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R>\u00e9</R>"));
    ComPtr<IXMLDOMParseError> error;
    ASSERT_EQ(doc.document()->get_parseError(&error), S_OK);
    LONG code = -1;
    EXPECT_EQ(error->get_errorCode(&code), S_OK);
    EXPECT_EQ(code, 0);
    // The declared encoding of a loaded string is ignored: the text is UTF-16.
    EXPECT_EQ(u8(doc.documentElement().text()), "\xC3\xA9");
}

TEST(XmlDomLoad, ExternalEntitiesAreRefusedAndNothingIsRead) {
    TempDir dir;
    writeFile(dir.file("secret.txt"), "TOP SECRET");
    expectRefused(wide("<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + dir.file("secret.txt") +
                       "\">]><r>&x;</r>"),
                  "entity declarations are not allowed");
    expectRefused(
        wide("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dir.file("secret.txt") + "\"> %p;]><r/>"),
        "entity declarations are not allowed");
    expectRefused(u"<!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]><r>&x;</r>",
                  "entity declarations are not allowed");
}

TEST(XmlDomLoad, BillionLaughsIsRefusedNotExpanded) {
    std::string text = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    for (int i = 1; i < 10; ++i)
        text += "<!ENTITY lol" + std::to_string(i) + " \"" + [&] {
            std::string refs;
            for (int k = 0; k < 10; ++k)
                refs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
            return refs;
        }() + "\">";
    text += "]><lolz>&lol9;</lolz>";
    expectRefused(wide(text), "entity declarations are not allowed");
    // An internal entity is refused too: no document of ours declares one.
    expectRefused(u"<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>",
                  "entity declarations are not allowed");
}

TEST(XmlDomLoad, TheExternalDtdIsNotLoaded) {
    TempDir dir;
    writeFile(dir.file("types.dtd"), "<!ATTLIST r added CDATA \"from-dtd\">");
    // A document that only names a DTD loads, and the DTD adds nothing.
    DomDocument doc = DomDocument::create();
    ASSERT_TRUE(doc.loadXml(wide("<!DOCTYPE r SYSTEM \"" + dir.file("types.dtd") + "\"><r/>")))
        << u8(doc.parseErrorReason());
    EXPECT_EQ(doc.documentElement().getAttribute(u"added"), std::nullopt);
    // An entity the DTD would declare stays undeclared: refused.
    writeFile(dir.file("ents.dtd"), "<!ENTITY e \"from-dtd\">");
    expectRefused(wide("<!DOCTYPE r SYSTEM \"" + dir.file("ents.dtd") + "\"><r>&e;</r>"),
                  "entity references are not allowed");
}

TEST(XmlDomLoad, NestingDeeperThan256IsRefused) {
    const auto nested = [](int depth) {
        std::string open, close;
        for (int i = 0; i < depth; ++i) {
            open += "<a>";
            close += "</a>";
        }
        return open + close;
    };
    DomDocument doc = DomDocument::create();
    EXPECT_TRUE(doc.loadXml(wide(nested(200))));
    expectRefused(wide(nested(300)), "depth");
}

TEST(XmlDomLoad, InvalidTextIsRefused) {
    TempDir dir;
    // A file with a byte sequence that is not UTF-8.
    writeFile(dir.file("bad.xml"), "<r>\xC3\x28</r>");
    DomDocument doc = DomDocument::create();
    EXPECT_FALSE(doc.load(dir.file("bad.xml")));
    EXPECT_NE(u8(doc.parseErrorReason()).find("UTF-8"), std::string::npos)
        << u8(doc.parseErrorReason());
    // A string with an unpaired surrogate.
    std::u16string lone = u"<r>x</r>";
    lone[3] = char16_t(0xD800);
    expectRefused(lone, "UTF-16");
}

TEST(XmlDomLoad, LoadReadsLocalFilesOnly) {
    TempDir dir;
    writeFile(dir.file("good.xml"), "<?xml version=\"1.0\"?>\n<Good n=\"1\"/>\n");
    DomDocument doc = DomDocument::create();
    EXPECT_TRUE(doc.load(dir.file("good.xml")));
    EXPECT_EQ(doc.documentElement().getAttribute(u"n"), u"1");
    EXPECT_TRUE(doc.load("file://" + dir.file("good.xml")));
    EXPECT_FALSE(doc.load("http://127.0.0.1:9/good.xml"));
    EXPECT_EQ(u8(doc.parseErrorReason()), "only local files can be loaded");
    EXPECT_FALSE(doc.load(dir.file("missing.xml")));
    // load of something that is not a path is an argument error.
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(doc.document()->load(Variant(5), &ok), E_INVALIDARG);
    EXPECT_EQ(ok, VARIANT_FALSE);
}

TEST(XmlDomLoad, NodesOfAReplacedTreeStayValid) {
    DomDocument doc = loaded("<Old><Kept>k</Kept></Old>");
    xml::DomNode kept = doc.selectSingleNode(u"//Kept");
    ASSERT_TRUE(doc.loadXml(u"<New/>"));
    EXPECT_EQ(u8(kept.xml()), "<Kept>k</Kept>");
    EXPECT_EQ(u8(doc.documentElement().xml()), "<New/>");
    // The old root has no parent any more and takes no new nodes.
    xml::DomNode oldRoot = kept.parentNode();
    EXPECT_EQ(u8(oldRoot.nodeName()), "Old");
    EXPECT_FALSE(oldRoot.parentNode());
    ComPtr<IXMLDOMNode> out;
    EXPECT_EQ(oldRoot.get()->appendChild(doc.createElement(u"X").get(), &out), E_FAIL);
    // Moving a node of the old tree into the new one inserts a copy.
    doc.documentElement().appendChild(kept);
    EXPECT_EQ(u8(doc.documentElement().xml()), "<New><Kept>k</Kept></New>");
    EXPECT_EQ(u8(oldRoot.xml()), "<Old><Kept>k</Kept></Old>");
}

TEST(XmlDomLoad, SaveWritesTheSerialisedTextThatLoadReads) {
    TempDir dir;
    DomDocument doc = loaded("<R a=\"\xC3\xA9\"><B/></R>");
    EXPECT_EQ(doc.document()->save(Variant(dir.file("out.xml").c_str())), S_OK);
    EXPECT_EQ(readFile(dir.file("out.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R a=\"\xC3\xA9\"><B/></R>\n");
    DomDocument again = DomDocument::create();
    EXPECT_TRUE(again.load(dir.file("out.xml")));
    EXPECT_EQ(u8(again.xml()), u8(doc.xml()));
    EXPECT_EQ(doc.document()->save(Variant(dir.file("no/such/dir/out.xml").c_str())),
              static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(doc.document()->save(Variant(3)), E_INVALIDARG);
}

TEST(XmlDomLoad, CreateNodeMakesElementsInANamespaceAndTextNodes) {
    DomDocument doc = loaded("<R/>");
    ComPtr<IXMLDOMNode> element, text;
    Bstr name(u"p:Item"), uri(u"urn:p"), none;
    ASSERT_EQ(doc.document()->createNode(Variant(1), name, uri, &element), S_OK);
    ASSERT_EQ(doc.document()->createNode(Variant(u"text"), none, none, &text), S_OK);
    Bstr words(u"a<b");
    EXPECT_EQ(text->put_text(words), S_OK);
    xml::DomNode(element).appendChild(xml::DomNode(text));
    doc.documentElement().appendChild(xml::DomNode(element));
    EXPECT_EQ(u8(doc.documentElement().xml()), "<R><p:Item xmlns:p=\"urn:p\">a&lt;b</p:Item></R>");
    ComPtr<IXMLDOMNode> comment;
    EXPECT_EQ(doc.document()->createNode(Variant(8), none, none, &comment),
              static_cast<HRESULT>(0x80004001));
}
