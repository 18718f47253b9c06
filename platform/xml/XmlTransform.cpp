#include "platform/xml/XmlTransform.h"

#include "platform/xml/XmlDocument.h"
#include "platform/xml/XmlParser.h"
#include "platform/xml/XmlStrings.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>

namespace zeb::xml {

namespace {

struct DocFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
struct StyleFree {
    void operator()(xsltStylesheetPtr s) const { xsltFreeStylesheet(s); }
};
struct ContextFree {
    void operator()(xsltTransformContextPtr c) const { xsltFreeTransformContext(c); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct SecurityState {
    bool denied = false;
};

int forbid(xsltSecurityPrefsPtr, xsltTransformContextPtr ctxt, const char*) {
    if (ctxt && ctxt->_private) static_cast<SecurityState*>(ctxt->_private)->denied = true;
    return 0;
}

xsltSecurityPrefsPtr securityPrefs() {
    static xsltSecurityPrefsPtr prefs = [] {
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        if (p) {
            xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_FILE, forbid);
            xsltSetSecurityPrefs(p, XSLT_SECPREF_CREATE_DIRECTORY, forbid);
            xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, forbid);
            xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, forbid);
        }
        return p;
    }();
    return prefs;
}

void silentTransformError(void*, const char*, ...) {}

// A standalone copy of `node`: documents are copied whole, other nodes
// become the root of a new document.
DocPtr copyAsDocument(xmlNodePtr node) {
    if (node->type == XML_DOCUMENT_NODE)
        return DocPtr(xmlCopyDoc(reinterpret_cast<xmlDocPtr>(node), 1));
    if (node->type != XML_ELEMENT_NODE) return nullptr;
    DocPtr doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!doc) return nullptr;
    xmlNodePtr copy = xmlDocCopyNode(node, doc.get(), 1);
    if (!copy) return nullptr;
    xmlDocSetRootElement(doc.get(), copy);
    return doc;
}

HRESULT run(xmlNodePtr source, IXMLDOMNode* stylesheet,
            std::unique_ptr<xsltStylesheet, StyleFree>& style, DocPtr& result) {
    initialise();
    if (!source || !stylesheet) return E_INVALIDARG;
    xmlNodePtr styleNode = XmlDocument::nodeOf(stylesheet);
    if (!styleNode) return E_INVALIDARG;
    DocPtr styleDoc = copyAsDocument(styleNode);
    DocPtr input = copyAsDocument(source);
    if (!styleDoc || !input) return E_FAIL;
    style.reset(xsltParseStylesheetDoc(styleDoc.get()));
    if (!style) return E_FAIL;
    styleDoc.release(); // now the stylesheet's
    std::unique_ptr<xsltTransformContext, ContextFree> ctxt(
        xsltNewTransformContext(style.get(), input.get()));
    if (!ctxt) return E_OUTOFMEMORY;
    SecurityState security;
    ctxt->_private = &security;
    if (!securityPrefs() || xsltSetCtxtSecurityPrefs(securityPrefs(), ctxt.get()) != 0)
        return E_FAIL;
    xsltSetTransformErrorFunc(ctxt.get(), nullptr, silentTransformError);
    result.reset(
        xsltApplyStylesheetUser(style.get(), input.get(), nullptr, nullptr, nullptr, ctxt.get()));
    if (security.denied) {
        result.reset();
        return E_ACCESSDENIED;
    }
    if (!result || ctxt->state != XSLT_STATE_OK) {
        result.reset();
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

HRESULT transformToDocument(xmlNodePtr source, IXMLDOMNode* stylesheet, xmlDocPtr& result) {
    result = nullptr;
    std::unique_ptr<xsltStylesheet, StyleFree> style;
    DocPtr out;
    HRESULT hr = run(source, stylesheet, style, out);
    if (FAILED(hr)) return hr;
    result = out.release();
    return S_OK;
}

HRESULT transformToText(xmlNodePtr source, IXMLDOMNode* stylesheet, std::string& result) {
    result.clear();
    std::unique_ptr<xsltStylesheet, StyleFree> style;
    DocPtr out;
    HRESULT hr = run(source, stylesheet, style, out);
    if (FAILED(hr)) return hr;
    xmlChar* text = nullptr;
    int size = 0;
    if (xsltSaveResultToString(&text, &size, out.get(), style.get()) != 0) return E_FAIL;
    result.assign(text ? reinterpret_cast<const char*>(text) : "", static_cast<size_t>(size));
    xmlFree(text);
    return S_OK;
}

} // namespace zeb::xml
