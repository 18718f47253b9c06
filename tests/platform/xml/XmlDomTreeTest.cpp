// The tree operations of the DOM: identity of node objects, insertion,
// removal, copies, attributes, text, XPath and serialisation.
#include "XmlTestHelpers.h"

#include "platform/xml/XmlDocument.h"

#include <cstring>

using namespace zeb;
using namespace zeb::test;
using zeb::xml::DomDocument;
using zeb::xml::DomElement;
using zeb::xml::DomNode;

namespace {

// The vtable slot of a virtual member function (Itanium C++ ABI: the pointer
// holds 1 + the slot's byte offset).
template <class M> std::size_t slotOf(M method) {
    static_assert(sizeof(M) == 2 * sizeof(void*));
    uintptr_t raw[2];
    std::memcpy(raw, &method, sizeof raw);
    return (raw[0] - 1) / sizeof(void*);
}

IUnknown* identityOf(IUnknown* p) {
    ComPtr<IUnknown> unk;
    EXPECT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    return unk.get(); // the object stays alive through other references
}

} // namespace

TEST(XmlDomIdentity, TheSameNodeAskedTwiceIsTheSameObject) {
    DomDocument doc = loaded("<Root><A/><B/></Root>");
    DomNode viaXPath = doc.selectSingleNode(u"/Root/B");
    DomNode viaChildren = doc.documentElement().childNodes().at(1);
    ASSERT_TRUE(viaXPath);
    EXPECT_EQ(identityOf(viaXPath.get()), identityOf(viaChildren.get()));
    // The parent of the root element is the document object itself.
    EXPECT_EQ(identityOf(doc.documentElement().parentNode().get()), identityOf(doc.get()));
    // An element answers IXMLDOMElement; a text node does not.
    DomDocument text = loaded("<R>words</R>");
    ComPtr<IXMLDOMElement> element;
    EXPECT_EQ(text.documentElement().childNodes().at(0).get()->QueryInterface(
                  uuidof<IXMLDOMElement>(), reinterpret_cast<void**>(&element)),
              E_NOINTERFACE);
}

TEST(XmlDomIdentity, InterfacesKeepTheirPublicIdentifiers) {
    EXPECT_EQ(uuidof<IXMLDOMNode>(), makeGuid("2933BF80-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMDocument>(), makeGuid("2933BF81-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMNodeList>(), makeGuid("2933BF82-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMAttribute>(), makeGuid("2933BF85-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMElement>(), makeGuid("2933BF86-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMDocument2>(), makeGuid("2933BF95-7B36-11D2-B20E-00C04F983E60"));
    EXPECT_EQ(uuidof<IXMLDOMParseError>(), makeGuid("3EFAA426-272F-11D2-836F-0000F87A7782"));
}

TEST(XmlDomIdentity, SlotsFollowThePublicLayout) {
    // IUnknown 0-2, IDispatch 3-6, then the node's 36 slots.
    EXPECT_EQ(slotOf(&IXMLDOMNode::get_nodeName), 7u);
    EXPECT_EQ(slotOf(&IXMLDOMNode::appendChild), 21u);
    EXPECT_EQ(slotOf(&IXMLDOMNode::get_text), 26u);
    EXPECT_EQ(slotOf(&IXMLDOMNode::get_xml), 34u);
    EXPECT_EQ(slotOf(&IXMLDOMNode::selectSingleNode), 37u);
    EXPECT_EQ(slotOf(&IXMLDOMNode::transformNodeToObject), 42u);
    EXPECT_EQ(slotOf(&IXMLDOMElement::get_tagName), 43u);
    EXPECT_EQ(slotOf(&IXMLDOMElement::normalize), 51u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument::get_doctype), 43u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument::createElement), 47u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument::load), 58u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument::loadXML), 65u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument::put_ontransformnode), 75u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument2::get_namespaces), 76u);
    EXPECT_EQ(slotOf(&IXMLDOMDocument2::getProperty), 81u);
    EXPECT_EQ(slotOf(&IXMLDOMNodeList::get__newEnum), 11u);
    EXPECT_EQ(slotOf(&IXMLDOMParseError::get_filepos), 13u);
}

TEST(XmlDomTree, BuildingATreeSerialisesAsLibxml2Writes) {
    DomDocument doc = DomDocument::create();
    DomElement root = doc.createElement(u"Devices");
    doc.appendChild(root);
    DomElement device = doc.createElement(u"Device");
    device.setAttribute(u"id", u"7");
    device.setAttribute(u"name", u"A&B <\"x\">");
    device.setText(u"motor ü");
    root.appendChild(device);
    EXPECT_EQ(u8(doc.xml()), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<Devices><Device id=\"7\" name=\"A&amp;B &lt;&quot;x&quot;&gt;\">"
                             "motor \xC3\xBC</Device></Devices>\n");
    EXPECT_EQ(u8(device.xml()),
              "<Device id=\"7\" name=\"A&amp;B &lt;&quot;x&quot;&gt;\">motor \xC3\xBC</Device>");
    // Serialising and loading again gives the same text.
    DomDocument again = loaded(u8(doc.xml()).c_str());
    EXPECT_EQ(u8(again.xml()), u8(doc.xml()));
}

TEST(XmlDomTree, RemovedNodeStaysUsableAndCanBeInsertedAgain) {
    DomDocument doc = loaded("<R><A k=\"1\"><Inner>t</Inner></A><B/></R>");
    DomElement root = doc.documentElement();
    DomNode a = doc.selectSingleNode(u"/R/A");
    DomNode inner = doc.selectSingleNode(u"/R/A/Inner");
    DomNode removed = root.removeChild(a);
    EXPECT_TRUE(removed == a);
    EXPECT_EQ(u8(doc.xml()), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R><B/></R>\n");
    EXPECT_FALSE(a.parentNode());
    // Release the removed root's own handles; the subtree lives on through
    // the inner node's object.
    a = DomNode();
    removed = DomNode();
    EXPECT_EQ(u8(inner.xml()), "<Inner>t</Inner>");
    EXPECT_EQ(u8(inner.parentNode().xml()), "<A k=\"1\"><Inner>t</Inner></A>");
    // Inserted again at the end.
    root.appendChild(inner.parentNode());
    EXPECT_EQ(u8(root.xml()), "<R><B/><A k=\"1\"><Inner>t</Inner></A></R>");
}

TEST(XmlDomTree, InsertBeforeAndNavigation) {
    DomDocument doc = loaded("<R><A/><C/></R>");
    DomElement rootElement = doc.documentElement();
    IXMLDOMNode* root = rootElement.get();
    DomNode c = doc.selectSingleNode(u"/R/C");
    DomElement b = doc.createElement(u"B");
    ComPtr<IXMLDOMNode> out;
    EXPECT_EQ(root->insertBefore(b.get(), Variant(static_cast<IUnknown*>(c.get())), &out), S_OK);
    EXPECT_TRUE(DomNode(out) == b);
    // No reference node appends.
    DomElement d = doc.createElement(u"D");
    out = nullptr;
    EXPECT_EQ(root->insertBefore(d.get(), Variant(), &out), S_OK);
    EXPECT_EQ(u8(doc.documentElement().xml()), "<R><A/><B/><C/><D/></R>");
    // A reference node that is not a child is refused.
    DomElement e = doc.createElement(u"E");
    out = nullptr;
    EXPECT_EQ(root->insertBefore(e.get(), Variant(static_cast<IUnknown*>(e.get())), &out),
              E_INVALIDARG);
    // Navigation.
    ComPtr<IXMLDOMNode> first, last, next, previous;
    EXPECT_EQ(root->get_firstChild(&first), S_OK);
    EXPECT_EQ(root->get_lastChild(&last), S_OK);
    EXPECT_TRUE(DomNode(last) == d);
    EXPECT_EQ(first->get_nextSibling(&next), S_OK);
    EXPECT_TRUE(DomNode(next) == b);
    EXPECT_EQ(first->get_previousSibling(&previous), S_FALSE);
    EXPECT_EQ(previous.get(), nullptr);
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(first->hasChildNodes(&has), S_FALSE);
    EXPECT_EQ(has, VARIANT_FALSE);
    // Removing a node that is not a child is refused and changes nothing.
    out = nullptr;
    EXPECT_EQ(root->removeChild(e.get(), &out), E_INVALIDARG);
    EXPECT_EQ(u8(doc.documentElement().xml()), "<R><A/><B/><C/><D/></R>");
}

TEST(XmlDomTree, AppendingAnAttachedNodeMovesIt) {
    DomDocument doc = loaded("<R><A/><B><C/></B></R>");
    DomNode c = doc.selectSingleNode(u"//C");
    doc.selectSingleNode(u"/R/A").appendChild(c);
    EXPECT_EQ(u8(doc.documentElement().xml()), "<R><A><C/></A><B/></R>");
    // A node cannot become its own descendant.
    ComPtr<IXMLDOMNode> out;
    EXPECT_EQ(c.get()->appendChild(doc.selectSingleNode(u"/R/A").get(), &out), E_FAIL);
    // The document takes one element only.
    DomElement second = doc.createElement(u"Second");
    EXPECT_EQ(doc.get()->appendChild(second.get(), &out), E_FAIL);
}

TEST(XmlDomTree, TextNodesInsertedNextToEachOtherStayDistinct) {
    DomDocument doc = loaded("<R>one<X/></R>");
    DomNode first = doc.documentElement().childNodes().at(0);
    DomNode x = doc.selectSingleNode(u"/R/X");
    doc.documentElement().removeChild(x);
    // Moving a text node next to another one must not merge (and free) it.
    DomNode clone = first.cloneNode(true);
    doc.documentElement().appendChild(clone);
    EXPECT_EQ(doc.documentElement().childNodes().size(), 2u);
    EXPECT_EQ(u8(clone.xml()), "one");
    EXPECT_EQ(u8(doc.documentElement().text()), "oneone");
}

TEST(XmlDomTree, CloneIsDeepOrShallowAndDetached) {
    DomDocument doc = loaded("<R><A k=\"v\"><B>t</B></A></R>");
    DomNode a = doc.selectSingleNode(u"/R/A");
    DomNode deep = a.cloneNode(true);
    DomNode shallow = a.cloneNode(false);
    EXPECT_EQ(u8(deep.xml()), "<A k=\"v\"><B>t</B></A>");
    EXPECT_EQ(u8(shallow.xml()), "<A k=\"v\"/>");
    EXPECT_FALSE(deep.parentNode());
    EXPECT_FALSE(deep == a);
    // Changing the copy leaves the original alone.
    deep.asElement().setAttribute(u"k", u"changed");
    EXPECT_EQ(u8(a.xml()), "<A k=\"v\"><B>t</B></A>");
}

TEST(XmlDomTree, NodesOfAnotherDocumentAreInsertedAsCopies) {
    DomDocument target = loaded("<T/>");
    DomDocument source = loaded("<S><Item n=\"1\"/></S>");
    DomNode item = source.selectSingleNode(u"/S/Item");
    DomNode inserted = target.documentElement().appendChild(item);
    EXPECT_EQ(u8(target.documentElement().xml()), "<T><Item n=\"1\"/></T>");
    EXPECT_EQ(u8(source.documentElement().xml()), "<S><Item n=\"1\"/></S>");
    EXPECT_FALSE(inserted == item);
}

TEST(XmlDomAttributes, SetGetAndRemove) {
    DomDocument doc = loaded("<R a=\"1\"/>");
    DomElement root = doc.documentElement();
    EXPECT_EQ(root.getAttribute(u"a"), u"1");
    EXPECT_EQ(root.getAttribute(u"missing"), std::nullopt);
    root.setAttribute(u"a", u"2");
    root.setAttribute(u"b", u"");
    EXPECT_EQ(u8(root.xml()), "<R a=\"2\" b=\"\"/>");
    EXPECT_EQ(u8(doc.selectSingleNode(u"/R/@a").xml()), "a=\"2\"");
    root.removeAttribute(u"a");
    EXPECT_EQ(u8(root.xml()), "<R b=\"\"/>");
    // Values that are not strings arrive as their text; booleans as numbers.
    Bstr name(u"n");
    EXPECT_EQ(root.asElement().get() ? S_OK : E_FAIL, S_OK);
    ComPtr<IXMLDOMElement> raw;
    ASSERT_EQ(root.get()->QueryInterface(uuidof<IXMLDOMElement>(), reinterpret_cast<void**>(&raw)),
              S_OK);
    EXPECT_EQ(raw->setAttribute(name, Variant(42)), S_OK);
    EXPECT_EQ(u8(root.xml()), "<R b=\"\" n=\"42\"/>");
    // A missing attribute is S_FALSE with VT_NULL.
    Bstr missing(u"zz");
    Variant v;
    EXPECT_EQ(raw->getAttribute(missing, &v), S_FALSE);
    EXPECT_EQ(v.vt, VT_NULL);
    // A name that is not an XML name is refused.
    Bstr bad(u"1x");
    EXPECT_EQ(raw->setAttribute(bad, Variant(u"v")), E_INVALIDARG);
}

TEST(XmlDomText, CharactersAnXmlDocumentCannotHoldAreRefusedAsContent) {
    DomDocument doc = loaded("<R a=\"1\">t</R>");
    ComPtr<IXMLDOMElement> raw;
    ASSERT_EQ(doc.documentElement().get()->QueryInterface(uuidof<IXMLDOMElement>(),
                                                          reinterpret_cast<void**>(&raw)),
              S_OK);
    Bstr name(u"a");
    const std::u16string refused[] = {u"x\u0001y", u"\u001F", std::u16string(u"nul\0in", 6),
                                      u"\uFFFE", u"\uFFFF"};
    for (const std::u16string& bad : refused) {
        Bstr text(bad);
        EXPECT_EQ(raw->setAttribute(name, Variant(std::u16string_view(bad))), E_INVALIDARG);
        EXPECT_EQ(raw->put_text(text), E_INVALIDARG);
    }
    // Nothing changed, and what the document holds loads again.
    EXPECT_EQ(u8(doc.documentElement().xml()), "<R a=\"1\">t</R>");
    Bstr allowed(u"tab\tline\ncr\r\uD7FF\uE000\uFFFD");
    EXPECT_EQ(raw->setAttribute(name, Variant(static_cast<BSTR>(allowed))), S_OK);
    EXPECT_EQ(raw->put_text(allowed), S_OK);
    DomDocument again = DomDocument::create();
    EXPECT_TRUE(again.loadXml(doc.xml())) << u8(again.parseErrorReason());
    EXPECT_EQ(again.documentElement().getAttribute(u"a"), doc.documentElement().getAttribute(u"a"));
}

TEST(XmlDomAttributes, AnAttributeNodeHeldWhileRemovedStaysValid) {
    DomDocument doc = loaded("<R a=\"1\"/>");
    ComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc.document()->get_documentElement(&root), S_OK);
    ComPtr<IXMLDOMAttribute> attr;
    Bstr name(u"a");
    ASSERT_EQ(root->getAttributeNode(name, &attr), S_OK);
    EXPECT_EQ(root->removeAttribute(name), S_OK);
    Variant value;
    EXPECT_EQ(attr->get_value(&value), S_OK);
    EXPECT_EQ(std::u16string(value.bstrVal), u"1");
    Bstr nodeName;
    EXPECT_EQ(attr->get_name(&nodeName), S_OK);
    EXPECT_EQ(nodeName.toUtf8(), "a");
}

TEST(XmlDomText, TextConcatenatesDescendantsAndTrimsTheEnds) {
    DomDocument doc = loaded("<R>  a <B>b<!--c--></B><![CDATA[ d ]]><?pi e?>  </R>");
    EXPECT_EQ(u8(doc.documentElement().text()), "a b d");
    // An attribute's text is its value, blanks included.
    DomDocument attr = loaded("<R a=\" 5 \"/>");
    EXPECT_EQ(u8(attr.selectSingleNode(u"/R/@a").text()), " 5 ");
    // With preserveWhiteSpace the text is as stored.
    DomDocument kept = DomDocument::create();
    ASSERT_EQ(kept.document()->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
    ASSERT_TRUE(kept.loadXml(u"<R>  a <B> </B> </R>"));
    EXPECT_EQ(u8(kept.documentElement().text()), "  a   ");
    // Whitespace-only text between elements is dropped on a default load.
    DomDocument dropped = loaded("<R>\n  <A/>\n  <B/>\n</R>");
    EXPECT_EQ(dropped.documentElement().childNodes().size(), 2u);
}

TEST(XmlDomText, NodeTypesAndNames) {
    DomDocument doc = loaded("<R a=\"1\">t<!--c--><?p d?><![CDATA[x]]></R>");
    std::vector<DomNode> children = doc.documentElement().childNodes();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0].nodeType(), 3);
    EXPECT_EQ(u8(children[0].nodeName()), "#text");
    EXPECT_EQ(children[1].nodeType(), 8);
    EXPECT_EQ(u8(children[1].nodeName()), "#comment");
    EXPECT_EQ(children[2].nodeType(), 7);
    EXPECT_EQ(u8(children[2].nodeName()), "p");
    EXPECT_EQ(children[3].nodeType(), 4);
    EXPECT_EQ(doc.nodeType(), 9);
    EXPECT_EQ(u8(doc.nodeName()), "#document");
    EXPECT_EQ(doc.documentElement().nodeType(), 1);
    EXPECT_EQ(doc.selectSingleNode(u"/R/@a").nodeType(), 2);
}

TEST(XmlDomXPath, SelectionIsRelativeToTheContextNode) {
    DomDocument doc = loaded("<R><G n=\"1\"><I>a</I><I>b</I></G><G n=\"2\"><I>c</I></G></R>");
    DomNode second = doc.selectSingleNode(u"/R/G[@n='2']");
    ASSERT_TRUE(second);
    std::vector<DomNode> items = second.selectNodes(u"I");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(u8(items[0].text()), "c");
    EXPECT_EQ(doc.selectNodes(u"//I").size(), 3u);
    EXPECT_EQ(u8(second.selectSingleNode(u"../G[1]/I[2]").text()), "b");
    EXPECT_EQ(u8(second.selectSingleNode(u"@n").text()), "2");
}

TEST(XmlDomXPath, NoMatchIsSFalseAndABadExpressionAnError) {
    DomDocument doc = loaded("<R/>");
    ComPtr<IXMLDOMNode> found;
    Bstr none(u"/R/Missing");
    EXPECT_EQ(doc.get()->selectSingleNode(none, &found), S_FALSE);
    EXPECT_EQ(found.get(), nullptr);
    Bstr bad(u"/R[");
    EXPECT_EQ(doc.get()->selectSingleNode(bad, &found), E_FAIL);
    ComPtr<IXMLDOMNodeList> list;
    EXPECT_EQ(doc.get()->selectNodes(bad, &list), E_FAIL);
    EXPECT_EQ(list.get(), nullptr);
    // An expression whose value is not a node-set.
    Bstr number(u"count(/R)");
    EXPECT_EQ(doc.get()->selectNodes(number, &list), E_FAIL);
    // The wrapper turns the failure into a ComError with the code.
    try {
        doc.selectNodes(u"///");
        ADD_FAILURE() << "no ComError";
    } catch (const ComError& e) {
        EXPECT_EQ(e.code(), static_cast<HRESULT>(0x80004005));
    }
}

TEST(XmlDomXPath, SelectionNamespacesBindPrefixes) {
    DomDocument doc = loaded("<r:R xmlns:r=\"urn:r\"><r:A>x</r:A></r:R>");
    doc.setProperty(u"SelectionNamespaces", u"xmlns:q='urn:r'");
    EXPECT_EQ(u8(doc.selectSingleNode(u"/q:R/q:A").text()), "x");
    Variant value;
    Bstr name(u"SelectionLanguage");
    EXPECT_EQ(doc.document()->getProperty(name, &value), S_OK);
    EXPECT_EQ(std::u16string(value.bstrVal), u"XPath");
    Bstr unknown(u"NoSuchProperty");
    EXPECT_EQ(doc.document()->setProperty(unknown, Variant(u"x")), E_FAIL);
}

// One thread selects the same expression text in documents whose prefixes
// are bound differently, and in one whose bindings change between the
// selections: every selection follows the bindings of its document as they
// are then, and one on a freed document leaves nothing behind.
TEST(XmlDomXPath, RepeatedSelectionsFollowEachDocumentsCurrentBindings) {
    DomDocument first = loaded("<R xmlns=\"urn:a\"><A>in a</A></R>");
    DomDocument second = loaded("<R xmlns=\"urn:b\"><A>in b</A></R>");
    first.setProperty(u"SelectionNamespaces", u"xmlns:p='urn:a'");
    second.setProperty(u"SelectionNamespaces", u"xmlns:p='urn:b'");
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(u8(first.selectSingleNode(u"/p:R/p:A").text()), "in a");
        EXPECT_EQ(u8(second.selectSingleNode(u"/p:R/p:A").text()), "in b");
    }
    second.setProperty(u"SelectionNamespaces", u"xmlns:p='urn:a'");
    EXPECT_FALSE(second.selectSingleNode(u"/p:R/p:A"));
    second.setProperty(u"SelectionNamespaces", u"");
    EXPECT_EQ(u8(first.selectSingleNode(u"/p:R/p:A").text()), "in a");
    {
        DomDocument passing = loaded("<R><A>gone</A></R>");
        EXPECT_EQ(u8(passing.selectSingleNode(u"/R/A").text()), "gone");
    }
    DomDocument later = loaded("<R><A>later</A></R>");
    EXPECT_EQ(u8(later.selectSingleNode(u"/R/A").text()), "later");
    EXPECT_EQ(later.selectNodes(u"//A").size(), 1u);
}

TEST(XmlDomChanges, EveryChangeOfTheTreeCounts) {
    DomDocument doc = loaded("<R><A/></R>");
    uint64_t count = doc.changeCount();
    const auto grew = [&](const char* what) {
        const uint64_t now = doc.changeCount();
        EXPECT_GT(now, count) << what;
        count = now;
    };
    DomElement b = doc.createElement(u"B");
    doc.documentElement().appendChild(b);
    grew("appendChild");
    b.setAttribute(u"x", u"1");
    grew("setAttribute");
    b.removeAttribute(u"x");
    grew("removeAttribute");
    b.setText(u"t");
    grew("put_text");
    doc.documentElement().removeChild(b);
    grew("removeChild");
    ASSERT_TRUE(doc.loadXml(u"<Other/>"));
    grew("loadXML");
    // Reading changes nothing.
    doc.selectNodes(u"//*");
    doc.xml();
    EXPECT_EQ(doc.changeCount(), count);
}
