#include "platform/xml/XmlDom.h"

#include "platform/com/Bstr.h"
#include "platform/xml/XmlDocument.h"

namespace zeb::xml {

namespace {

std::u16string take(Bstr& s) {
    return std::u16string(s.view());
}

std::vector<DomNode> listOf(IXMLDOMNodeList* list) {
    std::vector<DomNode> out;
    LONG length = 0;
    throwIfFailed(list->get_length(&length), "IXMLDOMNodeList::get_length");
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> item;
        throwIfFailed(list->get_item(i, &item), "IXMLDOMNodeList::get_item");
        out.emplace_back(std::move(item));
    }
    return out;
}

ComPtr<IXMLDOMNode> asNode(IUnknown* unk) {
    ComPtr<IXMLDOMNode> node;
    if (unk) unk->QueryInterface(uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(&node));
    return node;
}

} // namespace

bool operator==(const DomNode& a, const DomNode& b) {
    ComPtr<IUnknown> ua, ub;
    if (a.get()) a.get()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ua));
    if (b.get()) b.get()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ub));
    return ua.get() == ub.get();
}

IXMLDOMNode* DomNode::checked() const {
    if (!m_node) throw ComError(E_POINTER, "DOM call on an empty node");
    return m_node.get();
}

DOMNodeType DomNode::nodeType() const {
    DOMNodeType t = NODE_INVALID;
    throwIfFailed(checked()->get_nodeType(&t), "IXMLDOMNode::get_nodeType");
    return t;
}

std::u16string DomNode::nodeName() const {
    Bstr s;
    throwIfFailed(checked()->get_nodeName(&s), "IXMLDOMNode::get_nodeName");
    return take(s);
}

std::u16string DomNode::text() const {
    Bstr s;
    throwIfFailed(checked()->get_text(&s), "IXMLDOMNode::get_text");
    return take(s);
}

void DomNode::setText(std::u16string_view text) {
    Bstr s(text);
    throwIfFailed(checked()->put_text(s), "IXMLDOMNode::put_text");
}

std::u16string DomNode::xml() const {
    Bstr s;
    throwIfFailed(checked()->get_xml(&s), "IXMLDOMNode::get_xml");
    return take(s);
}

DomNode DomNode::parentNode() const {
    ComPtr<IXMLDOMNode> p;
    throwIfFailed(checked()->get_parentNode(&p), "IXMLDOMNode::get_parentNode");
    return DomNode(std::move(p));
}

std::vector<DomNode> DomNode::childNodes() const {
    ComPtr<IXMLDOMNodeList> list;
    throwIfFailed(checked()->get_childNodes(&list), "IXMLDOMNode::get_childNodes");
    return listOf(list.get());
}

DomNode DomNode::appendChild(const DomNode& child) {
    ComPtr<IXMLDOMNode> out;
    throwIfFailed(checked()->appendChild(child.get(), &out), "IXMLDOMNode::appendChild");
    return DomNode(std::move(out));
}

DomNode DomNode::removeChild(const DomNode& child) {
    ComPtr<IXMLDOMNode> out;
    throwIfFailed(checked()->removeChild(child.get(), &out), "IXMLDOMNode::removeChild");
    return DomNode(std::move(out));
}

DomNode DomNode::cloneNode(bool deep) const {
    ComPtr<IXMLDOMNode> out;
    throwIfFailed(checked()->cloneNode(deep ? VARIANT_TRUE : VARIANT_FALSE, &out),
                  "IXMLDOMNode::cloneNode");
    return DomNode(std::move(out));
}

DomNode DomNode::selectSingleNode(std::u16string_view xpath) const {
    Bstr q(xpath);
    ComPtr<IXMLDOMNode> out;
    throwIfFailed(checked()->selectSingleNode(q, &out), "IXMLDOMNode::selectSingleNode");
    return DomNode(std::move(out));
}

std::vector<DomNode> DomNode::selectNodes(std::u16string_view xpath) const {
    Bstr q(xpath);
    ComPtr<IXMLDOMNodeList> list;
    throwIfFailed(checked()->selectNodes(q, &list), "IXMLDOMNode::selectNodes");
    return listOf(list.get());
}

DomElement DomNode::asElement() const {
    ComPtr<IXMLDOMElement> e;
    if (m_node) m_node->QueryInterface(uuidof<IXMLDOMElement>(), reinterpret_cast<void**>(&e));
    return DomElement(std::move(e));
}

void DomNode::transformNodeToObject(const DomNode& stylesheet, const DomDocument& output) const {
    Variant out(static_cast<IUnknown*>(output.get()));
    throwIfFailed(checked()->transformNodeToObject(stylesheet.get(), out),
                  "IXMLDOMNode::transformNodeToObject");
}

DomElement::DomElement(ComPtr<IXMLDOMElement> element)
    : DomNode(asNode(element.get())), m_element(std::move(element)) {}

IXMLDOMElement* DomElement::element() const {
    if (!m_element) throw ComError(E_POINTER, "DOM call on an empty element");
    return m_element.get();
}

std::u16string DomElement::tagName() const {
    Bstr s;
    throwIfFailed(element()->get_tagName(&s), "IXMLDOMElement::get_tagName");
    return take(s);
}

std::optional<std::u16string> DomElement::getAttribute(std::u16string_view name) const {
    Bstr n(name);
    Variant v;
    if (throwIfFailed(element()->getAttribute(n, &v), "IXMLDOMElement::getAttribute") != S_OK ||
        v.vt != VT_BSTR)
        return std::nullopt;
    return std::u16string(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
}

void DomElement::setAttribute(std::u16string_view name, std::u16string_view value) {
    setAttribute(name, Variant(value));
}

void DomElement::setAttribute(std::u16string_view name, const VARIANT& value) {
    Bstr n(name);
    throwIfFailed(element()->setAttribute(n, value), "IXMLDOMElement::setAttribute");
}

void DomElement::removeAttribute(std::u16string_view name) {
    Bstr n(name);
    throwIfFailed(element()->removeAttribute(n), "IXMLDOMElement::removeAttribute");
}

DomDocument::DomDocument(ComPtr<IXMLDOMDocument2> document)
    : DomNode(asNode(document.get())), m_document(std::move(document)) {}

DomDocument DomDocument::create() {
    ComPtr<IXMLDOMDocument2> doc;
    throwIfFailed(CoCreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
                                   uuidof<IXMLDOMDocument2>(), reinterpret_cast<void**>(&doc)),
                  "creating a DOM document");
    DomDocument out(std::move(doc));
    out.setProperty(u"SelectionLanguage", u"XPath");
    return out;
}

IXMLDOMDocument2* DomDocument::doc() const {
    if (!m_document) throw ComError(E_POINTER, "DOM call on an empty document");
    return m_document.get();
}

bool DomDocument::loadXml(std::u16string_view text) {
    Bstr s(text);
    VARIANT_BOOL ok = VARIANT_FALSE;
    throwIfFailed(doc()->loadXML(s, &ok), "IXMLDOMDocument::loadXML");
    return ok != VARIANT_FALSE;
}

bool DomDocument::loadXmlBstr(BSTR text) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    throwIfFailed(doc()->loadXML(text, &ok), "IXMLDOMDocument::loadXML");
    return ok != VARIANT_FALSE;
}

bool DomDocument::load(const std::string& path) {
    Variant source(path.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    throwIfFailed(doc()->load(source, &ok), "IXMLDOMDocument::load");
    return ok != VARIANT_FALSE;
}

std::u16string DomDocument::parseErrorReason() const {
    ComPtr<IXMLDOMParseError> error;
    throwIfFailed(doc()->get_parseError(&error), "IXMLDOMDocument::get_parseError");
    Bstr reason;
    throwIfFailed(error->get_reason(&reason), "IXMLDOMParseError::get_reason");
    return take(reason);
}

DomElement DomDocument::documentElement() const {
    ComPtr<IXMLDOMElement> e;
    throwIfFailed(doc()->get_documentElement(&e), "IXMLDOMDocument::get_documentElement");
    return DomElement(std::move(e));
}

DomElement DomDocument::createElement(std::u16string_view name) {
    Bstr n(name);
    ComPtr<IXMLDOMElement> e;
    throwIfFailed(doc()->createElement(n, &e), "IXMLDOMDocument::createElement");
    return DomElement(std::move(e));
}

void DomDocument::setProperty(std::u16string_view name, std::u16string_view value) {
    Bstr n(name);
    Variant v(value);
    throwIfFailed(doc()->setProperty(n, v), "IXMLDOMDocument2::setProperty");
}

uint64_t DomDocument::changeCount() const {
    XmlDocument* impl = nullptr;
    XmlDocument::nodeOf(doc(), &impl);
    if (!impl) throw ComError(E_NOINTERFACE, "changeCount on a foreign document");
    return impl->changeCount();
}

} // namespace zeb::xml
