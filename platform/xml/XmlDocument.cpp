#include "platform/xml/XmlDocument.h"

#include "platform/com/BuiltInClasses.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/xml/XmlParseError.h"
#include "platform/xml/XmlParser.h"
#include "platform/xml/XmlStrings.h"

#include <fstream>
#include <new>
#include <vector>

namespace zeb {

using namespace xml;

namespace {

// Every node of the subtree at `root`, attributes included (iterative: trees
// built through the DOM have no depth limit).
template <class F> void forEachNode(xmlNodePtr root, F&& f) {
    std::vector<xmlNodePtr> stack{root};
    while (!stack.empty()) {
        xmlNodePtr n = stack.back();
        stack.pop_back();
        f(n);
        if (n->type == XML_ELEMENT_NODE)
            for (xmlAttrPtr a = n->properties; a; a = a->next)
                stack.push_back(reinterpret_cast<xmlNodePtr>(a));
        if (n->type != XML_DTD_NODE && n->type != XML_ENTITY_REF_NODE)
            for (xmlNodePtr c = n->children; c; c = c->next)
                stack.push_back(c);
    }
}

HRESULT getFlag(bool flag, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT putFlag(bool& flag, VARIANT_BOOL value) {
    flag = value != VARIANT_FALSE;
    return S_OK;
}

xmlNodePtr topOf(xmlNodePtr n) {
    while (n->parent)
        n = n->parent;
    return n;
}

bool isAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr n) {
    for (; n; n = n->parent)
        if (n == candidate) return true;
    return false;
}

void linkBefore(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr ref) {
    // Linked by hand: xmlAddChild and xmlAddPrevSibling merge adjacent text
    // nodes and free the inserted one, which a caller may still hold.
    child->parent = parent;
    if (ref) {
        child->next = ref;
        child->prev = ref->prev;
        if (ref->prev)
            ref->prev->next = child;
        else
            parent->children = child;
        ref->prev = child;
    } else {
        child->next = nullptr;
        child->prev = parent->last;
        if (parent->last)
            parent->last->next = child;
        else
            parent->children = child;
        parent->last = child;
    }
}

} // namespace

XmlDocument::XmlDocument() = default;

HRESULT XmlDocument::FinalConstruct() {
    initialise();
    m_doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    return m_doc ? S_OK : E_OUTOFMEMORY;
}

XmlDocument::~XmlDocument() {
    // No node object is alive (each holds a reference on us), so everything
    // we own can go.
    if (m_parseError) m_parseError->Release();
    for (xmlNodePtr n : m_detached)
        xmlFreeNode(n);
    for (xmlDocPtr d : m_retired)
        xmlFreeDoc(d);
    if (m_doc) xmlFreeDoc(m_doc);
}

HRESULT XmlDocument::wrap(xmlNodePtr node, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!node) return S_FALSE;
    if (node == reinterpret_cast<xmlNodePtr>(m_doc)) return QueryInterface(riid, ppv);
    if (auto it = m_wrappers.find(node); it != m_wrappers.end())
        return it->second->QueryInterface(riid, ppv);
    HRESULT hr = S_OK;
    IXMLDOMNode* created = nullptr;
    switch (node->type) {
    case XML_ELEMENT_NODE:
        hr = XmlElement::createInstance(nullptr, uuidof<IXMLDOMNode>(),
                                        reinterpret_cast<void**>(&created), *this, node);
        break;
    case XML_ATTRIBUTE_NODE:
        hr = XmlAttribute::createInstance(nullptr, uuidof<IXMLDOMNode>(),
                                          reinterpret_cast<void**>(&created), *this, node);
        break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_DTD_NODE:
    case XML_ENTITY_REF_NODE:
        hr = XmlNode::createInstance(nullptr, uuidof<IXMLDOMNode>(),
                                     reinterpret_cast<void**>(&created), *this, node);
        break;
    case XML_DOCUMENT_NODE:
        return S_FALSE; // the top of an earlier tree: no parent to give
    default:
        return E_FAIL; // declarations and other nodes the DOM does not show
    }
    if (FAILED(hr)) return hr;
    m_wrappers.emplace(node, created);
    hr = created->QueryInterface(riid, ppv);
    created->Release();
    return hr;
}

void XmlDocument::forget(xmlNodePtr node) {
    m_wrappers.erase(node);
    collect(topOf(node));
}

bool XmlDocument::hasLiveWrapper(xmlNodePtr root) const {
    if (m_wrappers.empty()) return false;
    bool live = false;
    forEachNode(root, [&](xmlNodePtr n) { live = live || m_wrappers.count(n) != 0; });
    return live;
}

// Frees a detached subtree once nothing refers into it, and an earlier tree
// once neither a wrapper nor a detached subtree uses it (a node's names may
// live in its tree's dictionary, so the tree goes last).
void XmlDocument::collect(xmlNodePtr root) {
    xmlDocPtr tree = nullptr;
    if (root->type == XML_DOCUMENT_NODE) {
        tree = reinterpret_cast<xmlDocPtr>(root);
    } else if (m_detached.count(root) && !hasLiveWrapper(root)) {
        tree = root->doc;
        m_detached.erase(root);
        xmlFreeNode(root);
    }
    if (!tree || tree == m_doc) return;
    for (auto it = m_retired.begin(); it != m_retired.end(); ++it) {
        if (*it != tree) continue;
        if (hasLiveWrapper(reinterpret_cast<xmlNodePtr>(tree))) return;
        for (xmlNodePtr n : m_detached)
            if (n->doc == tree) return;
        m_retired.erase(it);
        xmlFreeDoc(tree);
        return;
    }
}

xmlNodePtr XmlDocument::nodeOf(IUnknown* unk, XmlDocument** owner) {
    if (owner) *owner = nullptr;
    if (!unk) return nullptr;
    ComPtr<IXmlNodeAccess> access;
    if (FAILED(unk->QueryInterface(uuidof<IXmlNodeAccess>(), reinterpret_cast<void**>(&access))))
        return nullptr;
    if (owner) *owner = access->ownerImpl();
    return access->xmlNodeOf();
}

void XmlDocument::adopt(xmlNodePtr node) {
    m_detached.insert(node);
}

void XmlDocument::detach(xmlNodePtr node) {
    xmlUnlinkNode(node);
    // Namespaces declared on former ancestors are declared again on the
    // subtree, which must not point into a tree it has left.
    if (node->type == XML_ELEMENT_NODE) xmlReconciliateNs(node->doc, node);
    m_detached.insert(node);
    changed();
    collect(node);
}

void XmlDocument::discard(xmlNodePtr node) {
    detach(node);
}

HRESULT XmlDocument::insert(xmlNodePtr parent, IXMLDOMNode* newChild, xmlNodePtr ref,
                            xmlNodePtr* inserted) {
    *inserted = nullptr;
    if (!newChild) return E_INVALIDARG;
    xmlNodePtr child = nodeOf(newChild);
    if (!child) return E_INVALIDARG;
    if (parent->type != XML_ELEMENT_NODE && parent->type != XML_DOCUMENT_NODE) return E_FAIL;
    // A parent in an earlier tree (kept alive by a caller after a load)
    // takes no new nodes: they would be freed with a tree they do not
    // belong to.
    if (parent->doc != m_doc) return E_FAIL;
    switch (child->type) {
    case XML_ELEMENT_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_ENTITY_REF_NODE:
        if (parent->type == XML_DOCUMENT_NODE) return E_FAIL;
        break;
    default:
        return E_INVALIDARG; // attributes, documents, document types
    }
    if (child->type == XML_ELEMENT_NODE && parent->type == XML_DOCUMENT_NODE) {
        xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent));
        if (root && root != child) return E_FAIL; // one document element only
    }
    if (child->doc != m_doc) {
        // A node of another document (or of an earlier tree): insert a copy.
        child = xmlDocCopyNode(child, m_doc, 1);
        if (!child) return E_OUTOFMEMORY;
    } else {
        if (isAncestorOrSelf(child, parent)) return E_FAIL;
        if (child == ref) ref = child->next;
        if (child->parent)
            xmlUnlinkNode(child);
        else
            m_detached.erase(child);
    }
    linkBefore(parent, child, ref);
    if (child->type == XML_ELEMENT_NODE) xmlReconciliateNs(m_doc, child);
    changed();
    *inserted = child;
    return S_OK;
}

void XmlDocument::replaceTree(xmlDocPtr doc) {
    // Room for the old tree first: when memory runs out, the new tree goes
    // and nothing else changed (neither tree is lost).
    try {
        if (m_doc) m_retired.reserve(m_retired.size() + 1);
    } catch (...) {
        xmlFreeDoc(doc);
        throw;
    }
    xmlDocPtr old = m_doc;
    m_doc = doc;
    if (old) {
        m_retired.push_back(old);
        collect(reinterpret_cast<xmlNodePtr>(old));
    }
    changed();
}

void XmlDocument::setParseError(LONG code, const std::string& reason, LONG line, LONG linepos) {
    XmlParseError* error = nullptr;
    if (FAILED(XmlParseError::createObject(&error, code, toWide(reason), m_url, line, linepos)))
        return;
    if (m_parseError) m_parseError->Release();
    m_parseError = error;
}

bool XmlDocument::parseInto(const std::string& bytes, const char* encoding, const char* url,
                            bool* noMemory) {
    ParseFailure failure;
    const bool ok =
        loaded(parseHardened(bytes, encoding, url, m_preserveWhiteSpace, failure), failure);
    if (noMemory) *noMemory = !ok && failure.noMemory;
    return ok;
}

bool XmlDocument::loaded(xmlDocPtr doc, const ParseFailure& failure) {
    if (!doc) {
        // A failed load leaves an empty document, as the platform DOM does.
        xmlDocPtr empty = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        if (empty) replaceTree(empty);
        setParseError(E_FAIL, failure.reason, failure.line, failure.column);
        return false;
    }
    replaceTree(doc);
    setParseError(0, "", 0, 0);
    return true;
}

// ---- IXMLDOMDocument ----

HRESULT XmlDocument::get_doctype(IXMLDOMDocumentType** documentType) {
    if (documentType) *documentType = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::get_implementation(IXMLDOMImplementation** impl) {
    if (impl) *impl = nullptr;
    return E_NOTIMPL;
}

HRESULT XmlDocument::get_documentElement(IXMLDOMElement** documentElement) {
    if (!documentElement) return E_POINTER;
    *documentElement = nullptr;
    return wrap(xmlDocGetRootElement(m_doc), uuidof<IXMLDOMElement>(),
                reinterpret_cast<void**>(documentElement));
}

HRESULT XmlDocument::putref_documentElement(IXMLDOMElement* documentElement) {
    if (!documentElement) return E_INVALIDARG;
    xmlNodePtr element = nodeOf(documentElement);
    if (!element || element->type != XML_ELEMENT_NODE) return E_INVALIDARG;
    xmlNodePtr root = xmlDocGetRootElement(m_doc);
    if (root == element) return S_OK;
    if (root) detach(root);
    xmlNodePtr inserted = nullptr;
    return insert(reinterpret_cast<xmlNodePtr>(m_doc), documentElement, nullptr, &inserted);
}

HRESULT XmlDocument::createElement(BSTR tagName, IXMLDOMElement** element) {
    if (!element) return E_POINTER;
    *element = nullptr;
    std::string name;
    if (!toUtf8(tagName, name) || xmlValidateQName(xc(name), 0) != 0) return E_INVALIDARG;
    xmlNodePtr n = xmlNewDocNode(m_doc, nullptr, xc(name), nullptr);
    if (!n) return E_OUTOFMEMORY;
    adopt(n);
    HRESULT hr = wrap(n, uuidof<IXMLDOMElement>(), reinterpret_cast<void**>(element));
    if (FAILED(hr)) collect(n);
    return hr;
}

HRESULT XmlDocument::createDocumentFragment(IXMLDOMDocumentFragment** fragment) {
    if (fragment) *fragment = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createTextNode(BSTR, IXMLDOMText** text) {
    if (text) *text = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createComment(BSTR, IXMLDOMComment** comment) {
    if (comment) *comment = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createCDATASection(BSTR, IXMLDOMCDATASection** cdata) {
    if (cdata) *cdata = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createProcessingInstruction(BSTR, BSTR, IXMLDOMProcessingInstruction** pi) {
    if (pi) *pi = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createAttribute(BSTR, IXMLDOMAttribute** attribute) {
    if (attribute) *attribute = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::createEntityReference(BSTR, IXMLDOMEntityReference** entityRef) {
    if (entityRef) *entityRef = nullptr;
    return E_NOTIMPL;
}

HRESULT XmlDocument::getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) {
    return elementsByTagName(this, "//", tagName, resultList);
}

HRESULT XmlDocument::elementsByTagName(IXMLDOMNode* context, const char* axis, BSTR tagName,
                                       IXMLDOMNodeList** resultList) {
    if (!resultList) return E_POINTER;
    *resultList = nullptr;
    std::string name;
    if (!toUtf8(tagName, name)) return E_INVALIDARG;
    // Checked, so that the name cannot be read as more of the expression.
    if (name != "*" && xmlValidateQName(xc(name), 0) != 0) return E_INVALIDARG;
    Bstr query(axis + name);
    return context->selectNodes(query, resultList);
}

// Elements and text nodes; the type is NODE_ELEMENT/NODE_TEXT as a number or
// "element"/"text".
HRESULT XmlDocument::createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) {
    if (!node) return E_POINTER;
    *node = nullptr;
    Variant t;
    DOMNodeType kind = NODE_INVALID;
    if (SUCCEEDED(VariantChangeTypeEx(&t, &type, 1033, 0, VT_I4))) {
        kind = t.lVal;
    } else if (SUCCEEDED(VariantChangeTypeEx(&t, &type, 1033, 0, VT_BSTR))) {
        const std::u16string_view s(t.bstrVal ? t.bstrVal : u"", SysStringLen(t.bstrVal));
        kind = s == u"element" ? NODE_ELEMENT : s == u"text" ? NODE_TEXT : NODE_INVALID;
    }
    std::string qname, uri;
    if (!toUtf8(name, qname) || !toUtf8(namespaceURI, uri)) return E_INVALIDARG;
    xmlNodePtr n = nullptr;
    if (kind == NODE_ELEMENT) {
        if (xmlValidateQName(xc(qname), 0) != 0) return E_INVALIDARG;
        std::string prefix, local = qname;
        if (const size_t colon = qname.find(':'); colon != std::string::npos) {
            prefix = qname.substr(0, colon);
            local = qname.substr(colon + 1);
        }
        n = xmlNewDocNode(m_doc, nullptr, xc(local), nullptr);
        if (n && !uri.empty()) {
            xmlNsPtr ns = xmlNewNs(n, xc(uri), prefix.empty() ? nullptr : xc(prefix));
            if (ns) xmlSetNs(n, ns);
        }
    } else if (kind == NODE_TEXT) {
        n = xmlNewDocText(m_doc, xc(""));
    } else {
        return E_NOTIMPL;
    }
    if (!n) return E_OUTOFMEMORY;
    adopt(n);
    HRESULT hr = wrap(n, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(node));
    if (FAILED(hr)) collect(n);
    return hr;
}

HRESULT XmlDocument::nodeFromID(BSTR, IXMLDOMNode** node) {
    if (node) *node = nullptr;
    return E_NOTIMPL;
}

HRESULT XmlDocument::load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) {
    if (isSuccessful) *isSuccessful = VARIANT_FALSE;
    const VARIANT* src = &xmlSource;
    if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal) src = src->pvarVal;
    if (src->vt != VT_BSTR) return E_INVALIDARG; // streams and documents are not read
    std::string path;
    if (!toUtf8(src->bstrVal, path)) return E_INVALIDARG;
    m_url.assign(src->bstrVal ? src->bstrVal : u"", SysStringLen(src->bstrVal));
    ParseFailure failure;
    if (!loaded(parseLocalFile(path, m_preserveWhiteSpace, failure), failure)) return S_FALSE;
    if (isSuccessful) *isSuccessful = VARIANT_TRUE;
    return S_OK;
}

HRESULT XmlDocument::get_readyState(LONG* value) {
    if (!value) return E_POINTER;
    *value = 4; // complete: loading is synchronous
    return S_OK;
}

HRESULT XmlDocument::get_parseError(IXMLDOMParseError** errorObj) {
    if (!errorObj) return E_POINTER;
    *errorObj = nullptr;
    if (!m_parseError) setParseError(0, "", 0, 0);
    if (!m_parseError) return E_OUTOFMEMORY;
    *errorObj = m_parseError;
    m_parseError->AddRef();
    return S_OK;
}

HRESULT XmlDocument::get_url(BSTR* urlString) {
    if (!urlString) return E_POINTER;
    *urlString = nullptr;
    if (m_url.empty()) return S_FALSE;
    *urlString = SysAllocStringLen(m_url.data(), static_cast<UINT>(m_url.size()));
    return *urlString ? S_OK : E_OUTOFMEMORY;
}

HRESULT XmlDocument::get_async(VARIANT_BOOL* isAsync) {
    return getFlag(m_async, isAsync);
}

// Kept for callers that set it; loading is synchronous either way.
HRESULT XmlDocument::put_async(VARIANT_BOOL isAsync) {
    return putFlag(m_async, isAsync);
}

HRESULT XmlDocument::abort() {
    return S_OK;
}

HRESULT XmlDocument::loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) {
    if (isSuccessful) *isSuccessful = VARIANT_FALSE;
    m_url.clear();
    std::string bytes;
    bool valid = false;
    try {
        valid = toUtf8(bstrXML, bytes);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY; // the document stays as it was
    }
    if (!valid) {
        loaded(nullptr, ParseFailure{"the text is not valid UTF-16", 0, 0});
        return S_FALSE;
    }
    // The text is already decoded: any encoding it declares is ignored. A
    // text that could not be parsed for want of memory is no refused text:
    // the caller learns it from the code.
    bool noMemory = false;
    if (!parseInto(bytes, "UTF-8", nullptr, &noMemory)) return noMemory ? E_OUTOFMEMORY : S_FALSE;
    if (isSuccessful) *isSuccessful = VARIANT_TRUE;
    return S_OK;
}

HRESULT XmlDocument::save(VARIANT destination) {
    const VARIANT* dst = &destination;
    if (dst->vt == (VT_BYREF | VT_VARIANT) && dst->pvarVal) dst = dst->pvarVal;
    if (dst->vt != VT_BSTR) return E_INVALIDARG;
    std::string path;
    if (!toUtf8(dst->bstrVal, path) || path.empty()) return E_INVALIDARG;
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(m_doc, &mem, &size, "UTF-8");
    if (!mem) return E_OUTOFMEMORY;
    const std::string text = takeXmlString(mem);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return out ? S_OK : E_ACCESSDENIED;
}

// validateOnParse and resolveExternals are kept as set but change nothing:
// documents are never validated and externals never resolved.
HRESULT XmlDocument::get_validateOnParse(VARIANT_BOOL* isValidating) {
    return getFlag(m_validateOnParse, isValidating);
}
HRESULT XmlDocument::put_validateOnParse(VARIANT_BOOL isValidating) {
    return putFlag(m_validateOnParse, isValidating);
}
HRESULT XmlDocument::get_resolveExternals(VARIANT_BOOL* isResolving) {
    return getFlag(m_resolveExternals, isResolving);
}
HRESULT XmlDocument::put_resolveExternals(VARIANT_BOOL isResolving) {
    return putFlag(m_resolveExternals, isResolving);
}
HRESULT XmlDocument::get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) {
    return getFlag(m_preserveWhiteSpace, isPreserving);
}
HRESULT XmlDocument::put_preserveWhiteSpace(VARIANT_BOOL isPreserving) {
    return putFlag(m_preserveWhiteSpace, isPreserving);
}
HRESULT XmlDocument::put_onreadystatechange(VARIANT) {
    return E_NOTIMPL;
}
HRESULT XmlDocument::put_ondataavailable(VARIANT) {
    return E_NOTIMPL;
}
HRESULT XmlDocument::put_ontransformnode(VARIANT) {
    return E_NOTIMPL;
}

// ---- IXMLDOMDocument2 ----

HRESULT XmlDocument::get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) {
    if (namespaceCollection) *namespaceCollection = nullptr;
    return E_NOTIMPL;
}
HRESULT XmlDocument::get_schemas(VARIANT* otherCollection) {
    if (otherCollection) VariantInit(otherCollection);
    return E_NOTIMPL;
}
HRESULT XmlDocument::putref_schemas(VARIANT) {
    return E_NOTIMPL;
}
HRESULT XmlDocument::validate(IXMLDOMParseError** errorObj) {
    if (errorObj) *errorObj = nullptr;
    return E_NOTIMPL;
}

namespace {

// "xmlns:a='urn:a' xmlns:b=\"urn:b\"" into prefix/URI pairs; false when
// the text has another form.
bool parseNamespaces(const std::string& text,
                     std::vector<std::pair<std::string, std::string>>& out) {
    size_t i = 0;
    const auto skip = [&] {
        while (i < text.size() && isXmlSpace(text[i]))
            ++i;
    };
    for (skip(); i < text.size(); skip()) {
        if (text.compare(i, 6, "xmlns:") != 0) return false;
        i += 6;
        const size_t eq = text.find('=', i);
        if (eq == std::string::npos || eq == i) return false;
        std::string prefix = text.substr(i, eq - i);
        i = eq + 1;
        if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) return false;
        const size_t close = text.find(text[i], i + 1);
        if (close == std::string::npos) return false;
        out.emplace_back(std::move(prefix), text.substr(i + 1, close - i - 1));
        i = close + 1;
    }
    return true;
}

} // namespace

HRESULT XmlDocument::setProperty(BSTR name, VARIANT value) {
    const std::u16string_view key(name ? name : u"", SysStringLen(name));
    Variant text;
    if (FAILED(VariantChangeTypeEx(&text, &value, 1033, 0, VT_BSTR))) return E_INVALIDARG;
    const std::u16string_view v(text.bstrVal ? text.bstrVal : u"", SysStringLen(text.bstrVal));
    if (key == u"SelectionLanguage") {
        if (v != u"XPath" && v != u"XSLPattern") return E_FAIL;
        m_selectionLanguage = v;
        return S_OK;
    }
    if (key == u"SelectionNamespaces") {
        std::string utf8;
        std::vector<std::pair<std::string, std::string>> bindings;
        if (!toUtf8(text.bstrVal, utf8) || !parseNamespaces(utf8, bindings)) return E_FAIL;
        m_namespaces = std::move(bindings);
        m_selectionNamespacesText = v;
        return S_OK;
    }
    return E_FAIL;
}

HRESULT XmlDocument::getProperty(BSTR name, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    const std::u16string_view key(name ? name : u"", SysStringLen(name));
    const std::u16string* text = key == u"SelectionLanguage"     ? &m_selectionLanguage
                                 : key == u"SelectionNamespaces" ? &m_selectionNamespacesText
                                                                 : nullptr;
    if (!text) return E_FAIL;
    value->bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
}

namespace {

[[maybe_unused]] const bool g_registered = BuiltInClasses::add(
    CLSID_DOMDocument30, u"Msxml2.DOMDocument.3.0", &classObjectOf<XmlDocument>);

} // namespace

} // namespace zeb
