// The node objects of a DOM document: one COM object wraps one libxml2 node.
//
// XmlNodeBase<I> implements IXMLDOMNode (and IDispatch, whose slots answer
// E_NOTIMPL) on top of interface I; the final classes add what their node
// type answers: XmlElement (IXMLDOMElement), XmlAttribute (IXMLDOMAttribute),
// XmlNode (every other node type) and XmlDocument (the document itself).
//
// The document creates and caches the wrappers (XmlDocument::wrap), so the
// same libxml2 node always gives the same object and the same IUnknown while
// a reference to it lives. Every wrapper but the document's own holds a
// reference on its document, so the tree outlives every node handed out.
//
// Threading: a document and its nodes are used from one thread at a time,
// as the apartment-threaded DOM of the platform is; reference counts are
// plain counters.
#pragma once

#include "platform/com/ComObject.h"
#include "platform/xml/XmlDispatch.h"
#include "platform/xml/XmlDomInterfaces.h"

#include <libxml/tree.h>

namespace zeb {

class XmlDocument;

// Lets the document find the libxml2 node behind an interface pointer that a
// caller hands back (appendChild, removeChild, transformNodeToObject ...).
// Only objects of this library answer it.
struct IXmlNodeAccess : IUnknown {
    static constexpr IID iid = makeGuid("7E1A0C52-3B8D-4F61-9A2E-5C04D7B1E913");
    virtual xmlNodePtr xmlNodeOf() = 0;
    virtual XmlDocument* ownerImpl() = 0;
};

template <class I> class XmlNodeBase : public XmlDispatch<I> {
public:
    // IXMLDOMNode
    HRESULT get_nodeName(BSTR* name) override;
    HRESULT get_nodeValue(VARIANT* value) override;
    HRESULT put_nodeValue(VARIANT value) override;
    HRESULT get_nodeType(DOMNodeType* type) override;
    HRESULT get_parentNode(IXMLDOMNode** parent) override;
    HRESULT get_childNodes(IXMLDOMNodeList** childList) override;
    HRESULT get_firstChild(IXMLDOMNode** firstChild) override;
    HRESULT get_lastChild(IXMLDOMNode** lastChild) override;
    HRESULT get_previousSibling(IXMLDOMNode** previousSibling) override;
    HRESULT get_nextSibling(IXMLDOMNode** nextSibling) override;
    HRESULT get_attributes(IXMLDOMNamedNodeMap** attributeMap) override;
    HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild,
                         IXMLDOMNode** outNewChild) override;
    HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                         IXMLDOMNode** outOldChild) override;
    HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) override;
    HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) override;
    HRESULT hasChildNodes(VARIANT_BOOL* hasChild) override;
    HRESULT get_ownerDocument(IXMLDOMDocument** document) override;
    HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) override;
    HRESULT get_nodeTypeString(BSTR* nodeType) override;
    HRESULT get_text(BSTR* text) override;
    HRESULT put_text(BSTR text) override;
    HRESULT get_specified(VARIANT_BOOL* isSpecified) override;
    HRESULT get_definition(IXMLDOMNode** definitionNode) override;
    HRESULT get_nodeTypedValue(VARIANT* typedValue) override;
    HRESULT put_nodeTypedValue(VARIANT typedValue) override;
    HRESULT get_dataType(VARIANT* dataTypeName) override;
    HRESULT put_dataType(BSTR dataTypeName) override;
    HRESULT get_xml(BSTR* xmlString) override;
    HRESULT transformNode(IXMLDOMNode* stylesheet, BSTR* xmlString) override;
    HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) override;
    HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) override;
    HRESULT get_parsed(VARIANT_BOOL* isParsed) override;
    HRESULT get_namespaceURI(BSTR* namespaceURI) override;
    HRESULT get_prefix(BSTR* prefixString) override;
    HRESULT get_baseName(BSTR* nameString) override;
    HRESULT transformNodeToObject(IXMLDOMNode* stylesheet, VARIANT outputObject) override;

protected:
    XmlNodeBase() = default;
    ~XmlNodeBase() = default;

    // The wrapped node; for the document, its current xmlDoc.
    virtual xmlNodePtr node() const = 0;
    virtual XmlDocument& owner() const = 0;
};

// Shared part of the wrappers of non-document nodes.
template <class Derived, class I, class... Bases>
class XmlTreeNode
    : public SingleThreadComObject<Derived, Chain<XmlNodeBase<I>, I, Bases...>, IXmlNodeAccess> {
public:
    XmlTreeNode(XmlDocument& owner, xmlNodePtr node) noexcept;
    // Forgets this wrapper in the document's cache (freeing a detached
    // subtree nothing refers to any more) and drops the document reference.
    void FinalRelease();

    xmlNodePtr xmlNodeOf() override { return m_node; }
    XmlDocument* ownerImpl() override { return m_owner; }

protected:
    xmlNodePtr node() const override { return m_node; }
    XmlDocument& owner() const override { return *m_owner; }

private:
    XmlDocument* m_owner;
    xmlNodePtr m_node;
};

// Text, CDATA, comment, processing instruction and document type nodes.
class XmlNode final : public XmlTreeNode<XmlNode, IXMLDOMNode, IDispatch> {
public:
    using XmlTreeNode::XmlTreeNode;
    static constexpr bool aggregatable = false;
};

class XmlElement final : public XmlTreeNode<XmlElement, IXMLDOMElement, IXMLDOMNode, IDispatch> {
public:
    using XmlTreeNode::XmlTreeNode;
    static constexpr bool aggregatable = false;

    HRESULT get_tagName(BSTR* tagName) override;
    HRESULT getAttribute(BSTR name, VARIANT* value) override;
    HRESULT setAttribute(BSTR name, VARIANT value) override;
    HRESULT removeAttribute(BSTR name) override;
    HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) override;
    HRESULT setAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute** attributeNode) override;
    HRESULT removeAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute** attributeNode) override;
    HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override;
    HRESULT normalize() override;
};

class XmlAttribute final
    : public XmlTreeNode<XmlAttribute, IXMLDOMAttribute, IXMLDOMNode, IDispatch> {
public:
    using XmlTreeNode::XmlTreeNode;
    static constexpr bool aggregatable = false;

    HRESULT get_name(BSTR* attributeName) override;
    HRESULT get_value(VARIANT* attributeValue) override;
    HRESULT put_value(VARIANT attributeValue) override;
};

} // namespace zeb
