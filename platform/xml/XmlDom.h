// A thin C++ layer over the DOM interfaces for the system's own code: each
// call forwards to the interface and throws zeb::ComError on a failing
// HRESULT, so the code that catches is the code that handles the error.
//
//   zeb::xml::DomDocument doc = zeb::xml::DomDocument::create();
//   doc.loadXml(u"<Devices/>");                  // false when refused/malformed
//   zeb::xml::DomElement device = doc.createElement(u"Device");
//   device.setAttribute(u"id", u"7");
//   doc.documentElement().appendChild(device);
//   if (auto found = doc.selectSingleNode(u"/Devices/Device[@id='7']")) ...
//
// Objects are cheap handles (one interface reference each); an empty handle
// is false in a boolean context. Calls on an empty handle throw E_POINTER.
#pragma once

#include "platform/com/ComError.h"
#include "platform/com/ComPtr.h"
#include "platform/xml/XmlDomInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::xml {

class DomElement;
class DomDocument;

class DomNode {
public:
    DomNode() = default;
    explicit DomNode(ComPtr<IXMLDOMNode> node) : m_node(std::move(node)) {}

    explicit operator bool() const { return m_node.get() != nullptr; }
    IXMLDOMNode* get() const { return m_node.get(); }
    // The same node, compared by identity.
    friend bool operator==(const DomNode& a, const DomNode& b);

    DOMNodeType nodeType() const;
    std::u16string nodeName() const;
    std::u16string text() const;
    void setText(std::u16string_view text);
    std::u16string xml() const;
    DomNode parentNode() const; // empty for the document and for detached nodes
    std::vector<DomNode> childNodes() const;
    DomNode appendChild(const DomNode& child);
    DomNode removeChild(const DomNode& child);
    DomNode cloneNode(bool deep) const;
    DomNode selectSingleNode(std::u16string_view xpath) const; // empty when nothing matches
    std::vector<DomNode> selectNodes(std::u16string_view xpath) const;
    // The element interface of this node; empty when it is not an element.
    DomElement asElement() const;
    void transformNodeToObject(const DomNode& stylesheet, const DomDocument& output) const;

protected:
    IXMLDOMNode* checked() const;
    ComPtr<IXMLDOMNode> m_node;
};

class DomElement : public DomNode {
public:
    DomElement() = default;
    explicit DomElement(ComPtr<IXMLDOMElement> element);

    std::u16string tagName() const;
    // nullopt when the attribute is absent.
    std::optional<std::u16string> getAttribute(std::u16string_view name) const;
    void setAttribute(std::u16string_view name, std::u16string_view value);
    // A typed value (number, boolean, ...): the attribute gets the DOM's text for it.
    void setAttribute(std::u16string_view name, const VARIANT& value);
    void removeAttribute(std::u16string_view name);

private:
    IXMLDOMElement* element() const;
    ComPtr<IXMLDOMElement> m_element;
};

class DomDocument : public DomNode {
public:
    DomDocument() = default;
    explicit DomDocument(ComPtr<IXMLDOMDocument2> document);
    // A new empty document of the built-in class, with XPath selection.
    static DomDocument create();

    // false (and parseErrorReason() says why) when the text is refused.
    bool loadXml(std::u16string_view text);
    // The same for a caller's BSTR (a real one: its length is read from its
    // prefix), handed to the document without a copy.
    bool loadXmlBstr(BSTR text);
    bool load(const std::string& path);
    std::u16string parseErrorReason() const;
    DomElement documentElement() const; // empty for an empty document
    DomElement createElement(std::u16string_view name);
    void setProperty(std::u16string_view name, std::u16string_view value);
    // The document's change count (see XmlDocument::changeCount).
    uint64_t changeCount() const;
    IXMLDOMDocument2* document() const { return m_document.get(); }

private:
    IXMLDOMDocument2* doc() const;
    ComPtr<IXMLDOMDocument2> m_document;
};

} // namespace zeb::xml
