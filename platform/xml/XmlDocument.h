// XmlDocument: the DOM document ("Msxml2.DOMDocument.3.0"), a tree held by
// libxml2 and exposed through IXMLDOMDocument2.
//
// Behaviour callers rely on:
//   - Identity: asking for the same node twice gives the same object
//     (XmlNode.h). A node removed from the tree stays valid while referenced;
//     the removed subtree belongs to the document until it is inserted again
//     or its last wrapper is released.
//   - Loading (loadXML, load) is synchronous whatever `async` says, and
//     hardened for documents we did not write: no network, no DTD loading,
//     no entity declarations, no entity references outside the predefined
//     five, nesting at most 256 deep, well-formed UTF-8/UTF-16 only. A
//     refused or malformed document answers S_FALSE with VARIANT_FALSE and
//     leaves the document empty; parseError says why. load() reads local
//     files only.
//   - `text` is the concatenated text of the node and its descendants (text
//     and CDATA, not comments or processing instructions). While
//     preserveWhiteSpace is false (the default), leading and trailing white
//     space of an element's or the document's text is trimmed, and
//     whitespace-only text between elements is dropped on load, as the
//     platform DOM does by default. The text of an attribute is its value as
//     stored, blanks included (queries return attribute values).
//   - `xml` is libxml2's serialisation, unformatted and stable from run to
//     run; a document's starts with <?xml version="1.0" encoding="UTF-8"?>.
//   - selectNodes/selectSingleNode evaluate XPath 1.0 relative to the node
//     ("SelectionLanguage" accepts "XPath" and "XSLPattern", both evaluated
//     as XPath; "SelectionNamespaces" binds prefixes). selectSingleNode gives
//     S_FALSE and null when nothing matches; an invalid expression, or one
//     whose value is not a node-set, gives E_FAIL.
//   - Node lists (childNodes, selectNodes, getElementsByTagName) are
//     snapshots taken when asked; later changes to the tree do not show.
//   - appendChild/insertBefore of a node that belongs to another document
//     insert a deep copy of it (the original stays where it is) and return
//     the copy.
//   - transformNodeToObject/transformNode run XSLT 1.0 on a copy of the
//     source. Stylesheets may not write files, create directories or reach
//     the network; documents they read (document(), xsl:include) are local
//     files loaded with the same hardening. The output object must be one of
//     our documents (a stream is not supported: E_INVALIDARG).
//   - changeCount() grows with every change of the tree (insert, remove,
//     attribute and text changes, loads, transform output). An index over
//     the document stays valid while the count it was built at matches.
#pragma once

#include "platform/xml/XmlNode.h"
#include "platform/xml/XmlParser.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zeb {

class XmlParseError;

class XmlDocument final
    : public SingleThreadComObject<XmlDocument,
                                   Chain<XmlNodeBase<IXMLDOMDocument2>, IXMLDOMDocument2,
                                         IXMLDOMDocument, IXMLDOMNode, IDispatch>,
                                   IXmlNodeAccess> {
public:
    // May throw std::bad_alloc (the default selection language is a string
    // on the heap): the creation then fails with E_OUTOFMEMORY.
    XmlDocument();
    ~XmlDocument();
    HRESULT FinalConstruct();

    // IXmlNodeAccess
    xmlNodePtr xmlNodeOf() override { return reinterpret_cast<xmlNodePtr>(m_doc); }
    XmlDocument* ownerImpl() override { return this; }

    // IXMLDOMDocument
    HRESULT get_doctype(IXMLDOMDocumentType** documentType) override;
    HRESULT get_implementation(IXMLDOMImplementation** impl) override;
    HRESULT get_documentElement(IXMLDOMElement** documentElement) override;
    HRESULT putref_documentElement(IXMLDOMElement* documentElement) override;
    HRESULT createElement(BSTR tagName, IXMLDOMElement** element) override;
    HRESULT createDocumentFragment(IXMLDOMDocumentFragment** fragment) override;
    HRESULT createTextNode(BSTR data, IXMLDOMText** text) override;
    HRESULT createComment(BSTR data, IXMLDOMComment** comment) override;
    HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) override;
    HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                        IXMLDOMProcessingInstruction** pi) override;
    HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) override;
    HRESULT createEntityReference(BSTR name, IXMLDOMEntityReference** entityRef) override;
    HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override;
    HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) override;
    HRESULT nodeFromID(BSTR idString, IXMLDOMNode** node) override;
    HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) override;
    HRESULT get_readyState(LONG* value) override;
    HRESULT get_parseError(IXMLDOMParseError** errorObj) override;
    HRESULT get_url(BSTR* urlString) override;
    HRESULT get_async(VARIANT_BOOL* isAsync) override;
    HRESULT put_async(VARIANT_BOOL isAsync) override;
    HRESULT abort() override;
    HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override;
    HRESULT save(VARIANT destination) override;
    HRESULT get_validateOnParse(VARIANT_BOOL* isValidating) override;
    HRESULT put_validateOnParse(VARIANT_BOOL isValidating) override;
    HRESULT get_resolveExternals(VARIANT_BOOL* isResolving) override;
    HRESULT put_resolveExternals(VARIANT_BOOL isResolving) override;
    HRESULT get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) override;
    HRESULT put_preserveWhiteSpace(VARIANT_BOOL isPreserving) override;
    HRESULT put_onreadystatechange(VARIANT) override;
    HRESULT put_ondataavailable(VARIANT) override;
    HRESULT put_ontransformnode(VARIANT) override;

    // IXMLDOMDocument2
    HRESULT get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) override;
    HRESULT get_schemas(VARIANT* otherCollection) override;
    HRESULT putref_schemas(VARIANT otherCollection) override;
    HRESULT validate(IXMLDOMParseError** errorObj) override;
    HRESULT setProperty(BSTR name, VARIANT value) override;
    HRESULT getProperty(BSTR name, VARIANT* value) override;

    // ---- for the node objects of this document ----

    // How many times the tree has changed since the document was created.
    uint64_t changeCount() const noexcept { return m_changes; }
    void changed() noexcept { ++m_changes; }

    xmlDocPtr doc() const noexcept { return m_doc; }
    bool preserveWhiteSpace() const noexcept { return m_preserveWhiteSpace; }
    // Prefix-to-URI bindings for XPath ("SelectionNamespaces").
    const std::vector<std::pair<std::string, std::string>>& selectionNamespaces() const {
        return m_namespaces;
    }

    // The one wrapper of `node` (created on first use), queried for riid.
    // S_FALSE with null for a null node.
    HRESULT wrap(xmlNodePtr node, REFIID riid, void** ppv);
    // Called by a wrapper when its last reference goes.
    void forget(xmlNodePtr node);
    // The libxml2 node behind a caller's interface, when it is one of ours
    // (of any document); null otherwise.
    static xmlNodePtr nodeOf(IUnknown* unk, XmlDocument** owner = nullptr);

    // Tree changes, each counted.
    // Inserts `child` (any node of ours) under `parent` before `ref` (null:
    // at the end). A node of another document is copied. *inserted is the
    // node now in the tree.
    HRESULT insert(xmlNodePtr parent, IXMLDOMNode* child, xmlNodePtr ref, xmlNodePtr* inserted);
    // Unlinks `node` from its parent and keeps it as a detached subtree.
    void detach(xmlNodePtr node);
    // Unlinks and frees `node`, or keeps it detached while a wrapper in it lives.
    void discard(xmlNodePtr node);
    // Replaces the whole tree (load, transform output); takes `doc`.
    void replaceTree(xmlDocPtr doc);
    // Keeps a new, unattached node until it is inserted or forgotten.
    void adopt(xmlNodePtr node);

    // Parses `bytes` hardened; on success replaces the tree. `url` may be null.
    // False when the bytes do not parse; *noMemory (when given) then says
    // whether memory ran out rather than the text being refused.
    bool parseInto(const std::string& bytes, const char* encoding, const char* url,
                   bool* noMemory = nullptr);

    // getElementsByTagName of the document ("//") and of elements (".//").
    static HRESULT elementsByTagName(IXMLDOMNode* context, const char* axis, BSTR tagName,
                                     IXMLDOMNodeList** resultList);

protected:
    xmlNodePtr node() const override { return reinterpret_cast<xmlNodePtr>(m_doc); }
    XmlDocument& owner() const override { return const_cast<XmlDocument&>(*this); }

private:
    bool hasLiveWrapper(xmlNodePtr root) const;
    void collect(xmlNodePtr root);
    void setParseError(LONG code, const std::string& reason, LONG line, LONG linepos);
    // Ends a load: takes `doc`, or with null empties the document and keeps
    // `failure` as the parse error. Returns whether a tree was taken.
    bool loaded(xmlDocPtr doc, const xml::ParseFailure& failure);

    xmlDocPtr m_doc = nullptr;
    // Wrapper per node: the IXMLDOMNode of a live object (no reference held).
    std::unordered_map<xmlNodePtr, IXMLDOMNode*> m_wrappers;
    // Roots of subtrees not in the tree that we own (removed, created, cloned).
    std::unordered_set<xmlNodePtr> m_detached;
    // Earlier trees still reached by live wrappers.
    std::vector<xmlDocPtr> m_retired;
    uint64_t m_changes = 0;
    bool m_preserveWhiteSpace = false;
    bool m_async = true;
    bool m_validateOnParse = true;
    bool m_resolveExternals = true;
    std::u16string m_url;
    std::u16string m_selectionLanguage = u"XSLPattern";
    std::u16string m_selectionNamespacesText;
    std::vector<std::pair<std::string, std::string>> m_namespaces;
    IXMLDOMParseError* m_parseError = nullptr;
};

} // namespace zeb
