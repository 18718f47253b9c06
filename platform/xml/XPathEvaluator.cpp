#include "platform/xml/XPathEvaluator.h"

#include "platform/xml/XmlDocument.h"
#include "platform/xml/XmlStrings.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <unordered_map>

namespace zeb::xml {

const char* describe(XPathError error) {
    switch (error) {
    case XPathError::None:
        return "no error";
    case XPathError::Invalid:
        return "invalid XPath expression";
    case XPathError::TooLong:
        return "XPath expression too long";
    case XPathError::TooDeep:
        return "XPath expression nested too deeply";
    case XPathError::TooManyOperations:
        return "XPath evaluation exceeded its operation limit";
    case XPathError::TooManyNodes:
        return "XPath expression selects too many nodes";
    case XPathError::OutOfMemory:
        return "out of memory";
    }
    return "unknown error";
}

unsigned xpathNesting(std::string_view xpath) {
    unsigned depth = 0, deepest = 0;
    char quote = 0;
    for (char c : xpath) {
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        switch (c) {
        case '"':
        case '\'':
            quote = c;
            break;
        case '(':
        case '[':
            deepest = std::max(deepest, ++depth);
            break;
        case ')':
        case ']':
            if (depth > 0) --depth;
            break;
        default:
            break;
        }
    }
    return deepest;
}

HRESULT checkXPathText(std::string_view xpath, const XPathLimits& limits, XPathError* error) {
    XPathError why = XPathError::None;
    if (xpath.size() > limits.maxLength)
        why = XPathError::TooLong;
    else if (xpathNesting(xpath) > limits.maxNesting)
        why = XPathError::TooDeep;
    if (error) *error = why;
    return why == XPathError::None ? S_OK : E_FAIL;
}

namespace {

constexpr size_t kCachedExpressions = 64;

struct CompiledDeleter {
    void operator()(xmlXPathCompExprPtr p) const { xmlXPathFreeCompExpr(p); }
};
using Compiled = std::unique_ptr<xmlXPathCompExpr, CompiledDeleter>;

struct ObjectDeleter {
    void operator()(xmlXPathObjectPtr p) const { xmlXPathFreeObject(p); }
};
using Object = std::unique_ptr<xmlXPathObject, ObjectDeleter>;

} // namespace

struct XPathEvaluator::State {
    xmlXPathContextPtr ctx = nullptr;
    std::unordered_map<std::string, Compiled> compiled;
    // The prefix bindings registered in ctx, to see when they must change.
    std::vector<std::pair<std::string, std::string>> namespaces;

    ~State() {
        compiled.clear();
        if (ctx) xmlXPathFreeContext(ctx);
    }
};

XPathEvaluator::XPathEvaluator(XPathLimits limits)
    : m_limits(limits), m_state(std::make_unique<State>()) {}

XPathEvaluator::~XPathEvaluator() = default;

xmlXPathContext* XPathEvaluator::context() {
    State& st = *m_state;
    if (!st.ctx) {
        st.ctx = xmlXPathNewContext(nullptr);
        if (st.ctx) st.ctx->error = [](void*, xmlErrorPtr) {};
    }
    return st.ctx;
}

xmlXPathCompExpr* XPathEvaluator::compiled(std::string_view xpath, XPathError& why) {
    State& st = *m_state;
    xmlXPathContextPtr ctx = context();
    if (!ctx) {
        why = XPathError::OutOfMemory;
        return nullptr;
    }
    const std::string text(xpath);
    auto found = st.compiled.find(text);
    if (found != st.compiled.end()) return found->second.get();
    // Compiling reads no document: the context only carries the depth count
    // and the registered prefixes.
    ctx->doc = nullptr;
    ctx->node = nullptr;
    ctx->depth = 0;
    Compiled comp(xmlXPathCtxtCompile(ctx, xc(text)));
    if (!comp) {
        why = XPathError::Invalid;
        return nullptr;
    }
    if (st.compiled.size() >= kCachedExpressions) st.compiled.clear();
    return st.compiled.emplace(text, std::move(comp)).first->second.get();
}

HRESULT XPathEvaluator::compile(std::string_view xpath, XPathError* error) {
    XPathError dummy = XPathError::None;
    XPathError& why = error ? *error : dummy;
    why = XPathError::None;
    if (FAILED(checkXPathText(xpath, m_limits, &why))) return E_FAIL;
    if (compiled(xpath, why)) return S_OK;
    return why == XPathError::OutOfMemory ? E_OUTOFMEMORY : E_FAIL;
}

HRESULT XPathEvaluator::select(std::span<const DomNode> contexts, std::string_view xpath,
                               std::vector<DomNode>& out, XPathError* error) {
    out.clear();
    XPathError dummy = XPathError::None;
    XPathError& why = error ? *error : dummy;
    why = XPathError::None;
    if (FAILED(checkXPathText(xpath, m_limits, &why))) return E_FAIL;

    // The libxml2 nodes and their document.
    std::vector<xmlNodePtr> starts;
    XmlDocument* owner = nullptr;
    for (const DomNode& context : contexts) {
        XmlDocument* nodeOwner = nullptr;
        xmlNodePtr n = context ? XmlDocument::nodeOf(context.get(), &nodeOwner) : nullptr;
        if (!n || !nodeOwner || (owner && owner != nodeOwner)) return E_INVALIDARG;
        owner = nodeOwner;
        starts.push_back(n);
    }
    if (starts.empty()) return S_OK;

    State& st = *m_state;
    xmlXPathContextPtr ctx = context();
    if (!ctx) {
        why = XPathError::OutOfMemory;
        return E_OUTOFMEMORY;
    }
    if (owner->selectionNamespaces() != st.namespaces) {
        xmlXPathRegisteredNsCleanup(ctx);
        for (const auto& [prefix, uri] : owner->selectionNamespaces())
            xmlXPathRegisterNs(ctx, xc(prefix), xc(uri));
        st.namespaces = owner->selectionNamespaces();
    }

    xmlXPathCompExprPtr comp = compiled(xpath, why);
    if (!comp) return why == XPathError::OutOfMemory ? E_OUTOFMEMORY : E_FAIL;

    ctx->opLimit = m_limits.maxOperations;
    ctx->opCount = 0;
    std::vector<xmlNodePtr> nodes;
    for (xmlNodePtr start : starts) {
        ctx->doc = start->doc;
        ctx->node = start;
        ctx->depth = 0;
        ctx->contextSize = -1;
        ctx->proximityPosition = -1;
        Object result(xmlXPathCompiledEval(comp, ctx));
        if (!result || result->type != XPATH_NODESET) {
            why = ctx->opLimit != 0 && ctx->opCount >= ctx->opLimit ? XPathError::TooManyOperations
                                                                    : XPathError::Invalid;
            return E_FAIL;
        }
        if (const xmlNodeSetPtr set = result->nodesetval) {
            for (int i = 0; i < set->nodeNr; ++i) {
                xmlNodePtr n = set->nodeTab[i];
                if (n && n->type != XML_NAMESPACE_DECL) nodes.push_back(n);
            }
        }
        if (m_limits.maxNodes != 0 && nodes.size() > m_limits.maxNodes) {
            why = XPathError::TooManyNodes;
            return E_FAIL;
        }
    }
    if (starts.size() > 1) {
        // libxml2's document order; attributes come after their element and
        // before its children.
        std::sort(nodes.begin(), nodes.end(),
                  [](xmlNodePtr a, xmlNodePtr b) { return a != b && xmlXPathCmpNodes(a, b) > 0; });
        nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
        if (m_limits.maxNodes != 0 && nodes.size() > m_limits.maxNodes) {
            why = XPathError::TooManyNodes;
            return E_FAIL;
        }
    }

    out.reserve(nodes.size());
    for (xmlNodePtr n : nodes) {
        ComPtr<IXMLDOMNode> wrapped;
        HRESULT hr = owner->wrap(n, uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(&wrapped));
        if (FAILED(hr)) {
            out.clear();
            if (hr == E_OUTOFMEMORY) why = XPathError::OutOfMemory;
            return hr;
        }
        out.emplace_back(std::move(wrapped));
    }
    return S_OK;
}

} // namespace zeb::xml
