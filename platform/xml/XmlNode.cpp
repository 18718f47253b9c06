#include "platform/xml/XmlNode.h"

#include "platform/com/ComPtr.h"
#include "platform/xml/XPathEvaluator.h"
#include "platform/xml/XmlDocument.h"
#include "platform/xml/XmlNodeList.h"
#include "platform/xml/XmlStrings.h"
#include "platform/xml/XmlTransform.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zeb {

namespace xml {

std::string takeXmlString(xmlChar* s) {
    std::string out = s ? reinterpret_cast<const char*>(s) : "";
    xmlFree(s);
    return out;
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace xml

using namespace xml;

namespace {

std::string qualifiedName(xmlNodePtr n) {
    std::string name = n->name ? reinterpret_cast<const char*>(n->name) : "";
    if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns && n->ns->prefix)
        return reinterpret_cast<const char*>(n->ns->prefix) + (":" + name);
    return name;
}

bool hasContent(xmlNodePtr n) {
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ATTRIBUTE_NODE:
        return true;
    default:
        return false;
    }
}

// The XPath context and compiled expressions of this thread's selections.
// Making a context registers every XPath function in a fresh hash table, and
// compiling parses the text: done once per thread and expression instead of
// once per selection, they no longer outweigh the selection itself when a
// caller selects once per element of a large document. Nothing calls back
// into our code while an expression is evaluated, so a selection never
// re-enters this state.
struct SelectionState {
    struct CompFree {
        void operator()(xmlXPathCompExprPtr p) const { xmlXPathFreeCompExpr(p); }
    };
    static constexpr size_t kCachedExpressions = 64;

    xmlXPathContextPtr ctx = nullptr;
    std::vector<std::pair<std::string, std::string>> namespaces; // registered in ctx
    std::unordered_map<std::string, std::unique_ptr<xmlXPathCompExpr, CompFree>> compiled;

    ~SelectionState() {
        compiled.clear();
        if (ctx) xmlXPathFreeContext(ctx);
    }

    xmlXPathCompExprPtr compile(const std::string& expr) {
        if (auto found = compiled.find(expr); found != compiled.end()) return found->second.get();
        ctx->doc = nullptr;
        ctx->node = nullptr;
        ctx->depth = 0;
        std::unique_ptr<xmlXPathCompExpr, CompFree> comp(xmlXPathCtxtCompile(ctx, xc(expr)));
        if (!comp) return nullptr;
        if (compiled.size() >= kCachedExpressions) compiled.clear();
        return compiled.emplace(expr, std::move(comp)).first->second.get();
    }
};

thread_local SelectionState t_selection;

// Collects a node-set result, skipping namespace nodes (they are not
// libxml2 tree nodes and have no DOM object here).
HRESULT evaluate(XmlDocument& owner, xmlNodePtr context, BSTR query,
                 std::vector<xmlNodePtr>& found) {
    std::string expr;
    if (!toUtf8(query, expr)) return E_INVALIDARG;
    // The default limits bound every selection: no expression text reaches
    // libxml2's recursive parser nested deeper than they allow, and no
    // evaluation runs longer than their operation count.
    const XPathLimits limits;
    if (FAILED(checkXPathText(expr, limits, nullptr))) return E_FAIL;
    SelectionState& st = t_selection;
    if (!st.ctx) {
        st.ctx = xmlXPathNewContext(nullptr);
        if (!st.ctx) return E_OUTOFMEMORY;
        st.ctx->error = [](void*, xmlErrorPtr) {};
    }
    xmlXPathContextPtr ctx = st.ctx;
    // Prefixes are part of the compiled expression's meaning only through
    // the context, so a change of bindings is applied before compiling.
    if (owner.selectionNamespaces() != st.namespaces) {
        xmlXPathRegisteredNsCleanup(ctx);
        st.namespaces.clear();
        for (const auto& [prefix, uri] : owner.selectionNamespaces())
            if (xmlXPathRegisterNs(ctx, xc(prefix), xc(uri)) != 0) {
                xmlXPathRegisteredNsCleanup(ctx);
                return E_OUTOFMEMORY;
            }
        st.namespaces = owner.selectionNamespaces();
    }
    xmlXPathCompExprPtr comp = nullptr;
    try {
        comp = st.compile(expr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!comp) return E_FAIL;
    ctx->doc = context->doc;
    ctx->node = context;
    ctx->depth = 0;
    ctx->contextSize = -1;
    ctx->proximityPosition = -1;
    ctx->opLimit = limits.maxOperations;
    ctx->opCount = 0;
    xmlXPathObjectPtr result = xmlXPathCompiledEval(comp, ctx);
    // The context must not keep pointing into a document that may be freed.
    ctx->doc = nullptr;
    ctx->node = nullptr;
    HRESULT hr = S_OK;
    if (!result || result->type != XPATH_NODESET) {
        hr = E_FAIL;
    } else if (result->nodesetval) {
        try {
            for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
                xmlNodePtr n = result->nodesetval->nodeTab[i];
                if (n && n->type != XML_NAMESPACE_DECL) found.push_back(n);
            }
        } catch (const std::bad_alloc&) {
            found.clear();
            hr = E_OUTOFMEMORY;
        }
    }
    xmlXPathFreeObject(result);
    return hr;
}

HRESULT makeList(XmlDocument& owner, const std::vector<xmlNodePtr>& nodes, IXMLDOMNodeList** out) {
    std::vector<ComPtr<IXMLDOMNode>> wrapped;
    wrapped.reserve(nodes.size());
    for (xmlNodePtr n : nodes) {
        ComPtr<IXMLDOMNode> w;
        HRESULT hr = owner.wrap(n, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(&w));
        if (FAILED(hr)) return hr;
        wrapped.push_back(std::move(w));
    }
    return XmlNodeList::createInstance(nullptr, uuidof<IXMLDOMNodeList>(),
                                       reinterpret_cast<void**>(out), std::move(wrapped));
}

} // namespace

// ---- IXMLDOMNode ----

template <class I> HRESULT XmlNodeBase<I>::get_nodeName(BSTR* name) {
    xmlNodePtr n = node();
    switch (n->type) {
    case XML_TEXT_NODE:
        return putBstr("#text", name);
    case XML_CDATA_SECTION_NODE:
        return putBstr("#cdata-section", name);
    case XML_COMMENT_NODE:
        return putBstr("#comment", name);
    case XML_DOCUMENT_NODE:
        return putBstr("#document", name);
    case XML_DOCUMENT_FRAG_NODE:
        return putBstr("#document-fragment", name);
    default:
        return putBstr(qualifiedName(n), name);
    }
}

template <class I> HRESULT XmlNodeBase<I>::get_nodeValue(VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    xmlNodePtr n = node();
    if (!hasContent(n)) {
        value->vt = VT_NULL;
        return S_FALSE;
    }
    value->bstrVal = toBstr(takeXmlString(xmlNodeGetContent(n)));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
}

template <class I> HRESULT XmlNodeBase<I>::put_nodeValue(VARIANT) {
    return E_NOTIMPL;
}

template <class I> HRESULT XmlNodeBase<I>::get_nodeType(DOMNodeType* type) {
    if (!type) return E_POINTER;
    switch (node()->type) {
    case XML_ELEMENT_NODE:
        *type = NODE_ELEMENT;
        break;
    case XML_ATTRIBUTE_NODE:
        *type = NODE_ATTRIBUTE;
        break;
    case XML_TEXT_NODE:
        *type = NODE_TEXT;
        break;
    case XML_CDATA_SECTION_NODE:
        *type = NODE_CDATA_SECTION;
        break;
    case XML_ENTITY_REF_NODE:
        *type = NODE_ENTITY_REFERENCE;
        break;
    case XML_ENTITY_NODE:
        *type = NODE_ENTITY;
        break;
    case XML_PI_NODE:
        *type = NODE_PROCESSING_INSTRUCTION;
        break;
    case XML_COMMENT_NODE:
        *type = NODE_COMMENT;
        break;
    case XML_DOCUMENT_NODE:
        *type = NODE_DOCUMENT;
        break;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE:
        *type = NODE_DOCUMENT_TYPE;
        break;
    case XML_DOCUMENT_FRAG_NODE:
        *type = NODE_DOCUMENT_FRAGMENT;
        break;
    case XML_NOTATION_NODE:
        *type = NODE_NOTATION;
        break;
    default:
        *type = NODE_INVALID;
        break;
    }
    return S_OK;
}

template <class I> HRESULT XmlNodeBase<I>::get_parentNode(IXMLDOMNode** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    xmlNodePtr n = node();
    // An attribute has no parent in the DOM; its element is not one.
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_DOCUMENT_NODE) return S_FALSE;
    return owner().wrap(n->parent, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(parent));
}

template <class I> HRESULT XmlNodeBase<I>::get_childNodes(IXMLDOMNodeList** childList) {
    if (!childList) return E_POINTER;
    *childList = nullptr;
    std::vector<xmlNodePtr> children;
    xmlNodePtr n = node();
    if (n->type != XML_DTD_NODE)
        for (xmlNodePtr c = n->children; c; c = c->next)
            children.push_back(c);
    return makeList(owner(), children, childList);
}

template <class I> HRESULT XmlNodeBase<I>::get_firstChild(IXMLDOMNode** firstChild) {
    if (!firstChild) return E_POINTER;
    *firstChild = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_DTD_NODE) return S_FALSE;
    return owner().wrap(n->children, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(firstChild));
}

template <class I> HRESULT XmlNodeBase<I>::get_lastChild(IXMLDOMNode** lastChild) {
    if (!lastChild) return E_POINTER;
    *lastChild = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_DTD_NODE) return S_FALSE;
    return owner().wrap(n->last, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(lastChild));
}

template <class I> HRESULT XmlNodeBase<I>::get_previousSibling(IXMLDOMNode** previousSibling) {
    if (!previousSibling) return E_POINTER;
    *previousSibling = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_DOCUMENT_NODE) return S_FALSE;
    return owner().wrap(n->prev, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(previousSibling));
}

template <class I> HRESULT XmlNodeBase<I>::get_nextSibling(IXMLDOMNode** nextSibling) {
    if (!nextSibling) return E_POINTER;
    *nextSibling = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_DOCUMENT_NODE) return S_FALSE;
    return owner().wrap(n->next, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(nextSibling));
}

template <class I> HRESULT XmlNodeBase<I>::get_attributes(IXMLDOMNamedNodeMap** attributeMap) {
    if (attributeMap) *attributeMap = nullptr;
    return E_NOTIMPL;
}

template <class I>
HRESULT XmlNodeBase<I>::insertBefore(IXMLDOMNode* newChild, VARIANT refChild,
                                     IXMLDOMNode** outNewChild) {
    if (outNewChild) *outNewChild = nullptr;
    xmlNodePtr ref = nullptr;
    const VARIANT* r = &refChild;
    if (r->vt == (VT_BYREF | VT_VARIANT) && r->pvarVal) r = r->pvarVal;
    if (r->vt == VT_UNKNOWN || r->vt == VT_DISPATCH) {
        IUnknown* unk = r->vt == VT_UNKNOWN ? r->punkVal : r->pdispVal;
        if (unk) {
            ref = XmlDocument::nodeOf(unk);
            if (!ref || ref->parent != node() || ref->type == XML_ATTRIBUTE_NODE)
                return E_INVALIDARG;
        }
    } else if (r->vt != VT_EMPTY && r->vt != VT_NULL && r->vt != VT_ERROR) {
        return E_INVALIDARG;
    }
    xmlNodePtr inserted = nullptr;
    HRESULT hr = owner().insert(node(), newChild, ref, &inserted);
    if (FAILED(hr) || !outNewChild) return hr;
    return owner().wrap(inserted, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(outNewChild));
}

template <class I>
HRESULT XmlNodeBase<I>::replaceChild(IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode** outOldChild) {
    if (outOldChild) *outOldChild = nullptr;
    return E_NOTIMPL;
}

template <class I>
HRESULT XmlNodeBase<I>::removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) {
    if (oldChild) *oldChild = nullptr;
    if (!childNode) return E_INVALIDARG;
    xmlNodePtr child = XmlDocument::nodeOf(childNode);
    if (!child || child->parent != node() || child->type == XML_ATTRIBUTE_NODE) return E_INVALIDARG;
    // Hold the removed node's object across the change, so the detached
    // subtree has a live wrapper and is kept, not freed.
    ComPtr<IXMLDOMNode> keep(childNode);
    owner().detach(child);
    if (oldChild) {
        *oldChild = keep.get();
        (*oldChild)->AddRef();
    }
    return S_OK;
}

template <class I>
HRESULT XmlNodeBase<I>::appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) {
    if (outNewChild) *outNewChild = nullptr;
    xmlNodePtr inserted = nullptr;
    HRESULT hr = owner().insert(node(), newChild, nullptr, &inserted);
    if (FAILED(hr) || !outNewChild) return hr;
    return owner().wrap(inserted, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(outNewChild));
}

template <class I> HRESULT XmlNodeBase<I>::hasChildNodes(VARIANT_BOOL* hasChild) {
    if (!hasChild) return E_POINTER;
    xmlNodePtr n = node();
    const bool has = n->type != XML_DTD_NODE && n->children;
    *hasChild = has ? VARIANT_TRUE : VARIANT_FALSE;
    return has ? S_OK : S_FALSE;
}

template <class I> HRESULT XmlNodeBase<I>::get_ownerDocument(IXMLDOMDocument** document) {
    if (!document) return E_POINTER;
    *document = nullptr;
    if (node()->type == XML_DOCUMENT_NODE) return S_FALSE;
    return owner().QueryInterface(uuidof<IXMLDOMDocument>(), reinterpret_cast<void**>(document));
}

template <class I> HRESULT XmlNodeBase<I>::cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) {
    if (!cloneRoot) return E_POINTER;
    *cloneRoot = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_DOCUMENT_NODE) {
        ComPtr<XmlDocument> copy;
        HRESULT hr = XmlDocument::createObject(&copy);
        if (FAILED(hr)) return hr;
        xmlDocPtr d = xmlCopyDoc(owner().doc(), deep ? 1 : 0);
        if (!d) return E_OUTOFMEMORY;
        copy->replaceTree(d);
        return copy->QueryInterface(uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(cloneRoot));
    }
    if (n->type == XML_DTD_NODE) return E_FAIL;
    // 1 copies the subtree; 2 copies the node with its attributes and
    // namespace declarations only.
    xmlNodePtr copy = xmlDocCopyNode(n, owner().doc(), deep ? 1 : 2);
    if (!copy) return E_OUTOFMEMORY;
    owner().adopt(copy);
    return owner().wrap(copy, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(cloneRoot));
}

template <class I> HRESULT XmlNodeBase<I>::get_nodeTypeString(BSTR* nodeType) {
    if (nodeType) *nodeType = nullptr;
    return E_NOTIMPL;
}

template <class I> HRESULT XmlNodeBase<I>::get_text(BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    xmlNodePtr n = node();
    std::string content;
    if (n->type != XML_DTD_NODE) content = takeXmlString(xmlNodeGetContent(n));
    // Only the gathered text of elements and documents is trimmed; an
    // attribute's value, and a single text node, come back as stored.
    const bool gathered = n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE;
    if (gathered && !owner().preserveWhiteSpace()) {
        size_t b = 0, e = content.size();
        while (b < e && isXmlSpace(content[b]))
            ++b;
        while (e > b && isXmlSpace(content[e - 1]))
            --e;
        content = content.substr(b, e - b);
    }
    return putBstr(content, text);
}

template <class I> HRESULT XmlNodeBase<I>::put_text(BSTR text) {
    std::string value;
    if (!toXmlText(text, value)) return E_INVALIDARG;
    xmlNodePtr n = node();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: {
        // Children go through discard(), so a child someone still holds
        // stays valid as a detached node.
        while (n->children)
            owner().discard(n->children);
        xmlNodePtr t = xmlNewDocText(n->doc, xc(value));
        if (!t) return E_OUTOFMEMORY;
        t->parent = n;
        n->children = n->last = t;
        break;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        xmlNodeSetContent(n, xc(value));
        break;
    default:
        return E_FAIL;
    }
    owner().changed();
    return S_OK;
}

template <class I> HRESULT XmlNodeBase<I>::get_specified(VARIANT_BOOL* isSpecified) {
    if (isSpecified) *isSpecified = VARIANT_FALSE;
    return E_NOTIMPL;
}
template <class I> HRESULT XmlNodeBase<I>::get_definition(IXMLDOMNode** definitionNode) {
    if (definitionNode) *definitionNode = nullptr;
    return E_NOTIMPL;
}
template <class I> HRESULT XmlNodeBase<I>::get_nodeTypedValue(VARIANT* typedValue) {
    if (typedValue) VariantInit(typedValue);
    return E_NOTIMPL;
}
template <class I> HRESULT XmlNodeBase<I>::put_nodeTypedValue(VARIANT) {
    return E_NOTIMPL;
}
template <class I> HRESULT XmlNodeBase<I>::get_dataType(VARIANT* dataTypeName) {
    if (dataTypeName) VariantInit(dataTypeName);
    return E_NOTIMPL;
}
template <class I> HRESULT XmlNodeBase<I>::put_dataType(BSTR) {
    return E_NOTIMPL;
}

template <class I> HRESULT XmlNodeBase<I>::get_xml(BSTR* xmlString) {
    if (!xmlString) return E_POINTER;
    *xmlString = nullptr;
    xmlNodePtr n = node();
    if (n->type == XML_DOCUMENT_NODE) {
        xmlChar* mem = nullptr;
        int size = 0;
        xmlDocDumpMemoryEnc(owner().doc(), &mem, &size, "UTF-8");
        if (!mem) return E_OUTOFMEMORY;
        // Converted from libxml2's buffer in place: the whole document text.
        const HRESULT hr =
            putBstr(std::string_view(reinterpret_cast<const char*>(mem), static_cast<size_t>(size)),
                    xmlString);
        xmlFree(mem);
        return hr;
    }
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer) return E_OUTOFMEMORY;
    xmlNodeDump(buffer, n->doc, n, 0, 0);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                     static_cast<size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    // libxml2 writes an attribute as it stands in a start tag, after a blank.
    if (n->type == XML_ATTRIBUTE_NODE && !text.empty() && text.front() == ' ') text.erase(0, 1);
    return putBstr(text, xmlString);
}

template <class I> HRESULT XmlNodeBase<I>::transformNode(IXMLDOMNode* stylesheet, BSTR* xmlString) {
    if (!xmlString) return E_POINTER;
    *xmlString = nullptr;
    std::string out;
    HRESULT hr = xml::transformToText(node(), stylesheet, out);
    if (FAILED(hr)) return hr;
    return putBstr(out, xmlString);
}

template <class I>
HRESULT XmlNodeBase<I>::selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) {
    if (!resultList) return E_POINTER;
    *resultList = nullptr;
    std::vector<xmlNodePtr> found;
    HRESULT hr = evaluate(owner(), node(), queryString, found);
    if (FAILED(hr)) return hr;
    return makeList(owner(), found, resultList);
}

template <class I>
HRESULT XmlNodeBase<I>::selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) {
    if (!resultNode) return E_POINTER;
    *resultNode = nullptr;
    std::vector<xmlNodePtr> found;
    HRESULT hr = evaluate(owner(), node(), queryString, found);
    if (FAILED(hr)) return hr;
    if (found.empty()) return S_FALSE;
    return owner().wrap(found.front(), uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(resultNode));
}

template <class I> HRESULT XmlNodeBase<I>::get_parsed(VARIANT_BOOL* isParsed) {
    if (!isParsed) return E_POINTER;
    *isParsed = VARIANT_TRUE; // loading is synchronous
    return S_OK;
}

template <class I> HRESULT XmlNodeBase<I>::get_namespaceURI(BSTR* namespaceURI) {
    xmlNodePtr n = node();
    const bool named = n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE;
    return putBstr(named && n->ns && n->ns->href ? reinterpret_cast<const char*>(n->ns->href) : "",
                   namespaceURI);
}

template <class I> HRESULT XmlNodeBase<I>::get_prefix(BSTR* prefixString) {
    xmlNodePtr n = node();
    const bool named = n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE;
    return putBstr(named && n->ns && n->ns->prefix ? reinterpret_cast<const char*>(n->ns->prefix)
                                                   : "",
                   prefixString);
}

template <class I> HRESULT XmlNodeBase<I>::get_baseName(BSTR* nameString) {
    xmlNodePtr n = node();
    const bool named =
        n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE || n->type == XML_PI_NODE;
    return putBstr(named && n->name ? reinterpret_cast<const char*>(n->name) : "", nameString);
}

template <class I>
HRESULT XmlNodeBase<I>::transformNodeToObject(IXMLDOMNode* stylesheet, VARIANT outputObject) {
    const VARIANT* out = &outputObject;
    if (out->vt == (VT_BYREF | VT_VARIANT) && out->pvarVal) out = out->pvarVal;
    IUnknown* unk = nullptr;
    if (out->vt == VT_UNKNOWN) unk = out->punkVal;
    if (out->vt == VT_DISPATCH) unk = out->pdispVal;
    XmlDocument* target = nullptr;
    xmlNodePtr targetNode = unk ? XmlDocument::nodeOf(unk, &target) : nullptr;
    if (!targetNode || targetNode->type != XML_DOCUMENT_NODE || !target) return E_INVALIDARG;
    xmlDocPtr result = nullptr;
    HRESULT hr = xml::transformToDocument(node(), stylesheet, result);
    if (FAILED(hr)) return hr;
    target->replaceTree(result);
    return S_OK;
}

template class XmlNodeBase<IXMLDOMNode>;
template class XmlNodeBase<IXMLDOMElement>;
template class XmlNodeBase<IXMLDOMAttribute>;
template class XmlNodeBase<IXMLDOMDocument2>;

// ---- XmlTreeNode ----

template <class Derived, class I, class... Bases>
XmlTreeNode<Derived, I, Bases...>::XmlTreeNode(XmlDocument& owner, xmlNodePtr node) noexcept
    : m_owner(&owner), m_node(node) {
    m_owner->AddRef();
}

template <class Derived, class I, class... Bases>
void XmlTreeNode<Derived, I, Bases...>::FinalRelease() {
    m_owner->forget(m_node);
    m_owner->Release();
}

template class XmlTreeNode<XmlNode, IXMLDOMNode, IDispatch>;
template class XmlTreeNode<XmlElement, IXMLDOMElement, IXMLDOMNode, IDispatch>;
template class XmlTreeNode<XmlAttribute, IXMLDOMAttribute, IXMLDOMNode, IDispatch>;

// ---- XmlElement ----

namespace {

xmlAttrPtr findAttribute(xmlNodePtr element, const std::string& name) {
    for (xmlAttrPtr a = element->properties; a; a = a->next)
        if (qualifiedName(reinterpret_cast<xmlNodePtr>(a)) == name) return a;
    return nullptr;
}

HRESULT valueText(const VARIANT& value, std::string& out) {
    Variant text;
    HRESULT hr = VariantChangeTypeEx(&text, &value, 1033, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    return toXmlText(text.bstrVal, out) ? S_OK : E_INVALIDARG;
}

} // namespace

HRESULT XmlElement::get_tagName(BSTR* tagName) {
    return putBstr(qualifiedName(node()), tagName);
}

HRESULT XmlElement::getAttribute(BSTR name, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    value->vt = VT_NULL;
    std::string key;
    if (!toUtf8(name, key)) return E_INVALIDARG;
    xmlAttrPtr a = findAttribute(node(), key);
    if (!a) return S_FALSE;
    value->bstrVal = toBstr(takeXmlString(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a))));
    if (!value->bstrVal) {
        value->vt = VT_EMPTY;
        return E_OUTOFMEMORY;
    }
    value->vt = VT_BSTR;
    return S_OK;
}

HRESULT XmlElement::setAttribute(BSTR name, VARIANT value) {
    std::string key, text;
    if (!toUtf8(name, key) || key.empty()) return E_INVALIDARG;
    HRESULT hr = valueText(value, text);
    if (FAILED(hr)) return hr;
    if (xmlValidateQName(xc(key), 0) != 0) return E_INVALIDARG;
    xmlNodePtr n = node();
    if (xmlAttrPtr a = findAttribute(n, key)) {
        xmlNodePtr attr = reinterpret_cast<xmlNodePtr>(a);
        while (attr->children)
            owner().discard(attr->children);
        xmlNodePtr t = xmlNewDocText(n->doc, xc(text));
        if (!t) return E_OUTOFMEMORY;
        t->parent = attr;
        attr->children = attr->last = t;
    } else if (key == "xmlns" || key.rfind("xmlns:", 0) == 0) {
        const std::string prefix = key == "xmlns" ? std::string() : key.substr(6);
        if (!xmlNewNs(n, xc(text), prefix.empty() ? nullptr : xc(prefix))) return E_FAIL;
    } else {
        xmlNsPtr ns = nullptr;
        std::string local = key;
        if (const size_t colon = key.find(':'); colon != std::string::npos) {
            ns = xmlSearchNs(n->doc, n, xc(key.substr(0, colon)));
            if (ns) local = key.substr(colon + 1);
        }
        if (!xmlNewNsProp(n, ns, xc(local), xc(text))) return E_OUTOFMEMORY;
    }
    owner().changed();
    return S_OK;
}

HRESULT XmlElement::removeAttribute(BSTR name) {
    std::string key;
    if (!toUtf8(name, key)) return E_INVALIDARG;
    xmlAttrPtr a = findAttribute(node(), key);
    if (!a) return S_FALSE;
    owner().discard(reinterpret_cast<xmlNodePtr>(a));
    return S_OK;
}

HRESULT XmlElement::getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) {
    if (!attributeNode) return E_POINTER;
    *attributeNode = nullptr;
    std::string key;
    if (!toUtf8(name, key)) return E_INVALIDARG;
    xmlAttrPtr a = findAttribute(node(), key);
    if (!a) return S_FALSE;
    return owner().wrap(reinterpret_cast<xmlNodePtr>(a), uuidof<IXMLDOMAttribute>(),
                        reinterpret_cast<void**>(attributeNode));
}

HRESULT XmlElement::setAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute** attributeNode) {
    if (attributeNode) *attributeNode = nullptr;
    return E_NOTIMPL;
}

HRESULT XmlElement::removeAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute** attributeNode) {
    if (attributeNode) *attributeNode = nullptr;
    return E_NOTIMPL;
}

HRESULT XmlElement::getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) {
    return XmlDocument::elementsByTagName(this, ".//", tagName, resultList);
}

HRESULT XmlElement::normalize() {
    return E_NOTIMPL;
}

// ---- XmlAttribute ----

HRESULT XmlAttribute::get_name(BSTR* attributeName) {
    return putBstr(qualifiedName(node()), attributeName);
}

HRESULT XmlAttribute::get_value(VARIANT* attributeValue) {
    return get_nodeValue(attributeValue);
}

HRESULT XmlAttribute::put_value(VARIANT attributeValue) {
    std::string text;
    HRESULT hr = valueText(attributeValue, text);
    if (FAILED(hr)) return hr;
    Bstr value(text);
    return put_text(value);
}

} // namespace zeb
