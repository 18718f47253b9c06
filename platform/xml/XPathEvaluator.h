// XPathEvaluator: XPath 1.0 selections over our DOM documents, bounded in
// time and memory, for expressions we did not write (named queries that
// callers register, and the text pasted into them).
//
//   zeb::xml::XPathEvaluator eval({.maxNodes = 1000});
//   const zeb::xml::DomNode context = doc;         // the document node
//   std::vector<zeb::xml::DomNode> nodes;
//   zeb::xml::XPathError why = zeb::xml::XPathError::None;
//   HRESULT hr = eval.select({&context, 1}, "//Device/@Name", nodes, &why);
//   // S_OK: the nodes in document order; E_FAIL: why says which limit or
//   // that the text is no XPath
//
// Limits (XPathLimits), each checked before anything grows past it:
//   - maxLength: bytes of expression text, checked before compiling;
//   - maxNesting: depth of ( and [ outside string literals, checked before
//     compiling, so that no nesting reaches libxml2's recursive parser;
//   - maxOperations: libxml2's operation count (xmlXPathContext::opLimit:
//     one per evaluation step and per node an axis visits), summed over all
//     context nodes of one selection;
//   - maxNodes: nodes selected (0: no limit), checked before any node gets
//     a DOM object.
// The selection runs relative to each context node and the results are
// merged as XPath merges the results of a location step: each node once, in
// document order. Namespace nodes are left out (they have no DOM object).
// The document's "SelectionNamespaces" bindings apply.
//
// Compiled expressions are kept (a few dozen, by text), so evaluating the
// same text again costs no compilation. Not thread-safe: one evaluator per
// thread, like the documents it reads. Selecting never changes a document.
#pragma once

#include "platform/xml/XmlDom.h"

#include <libxml/xpath.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::xml {

struct XPathLimits {
    size_t maxLength = 65536;
    unsigned maxNesting = 64;
    unsigned long maxOperations = 100'000'000;
    size_t maxNodes = 0;
};

enum class XPathError {
    None,
    Invalid,           // not an XPath expression, or its value is no node-set
    TooLong,           // more than maxLength bytes
    TooDeep,           // ( and [ nested deeper than maxNesting
    TooManyOperations, // more than maxOperations
    TooManyNodes,      // more than maxNodes selected
    OutOfMemory,
};

// A short English text for traces ("expression nested too deeply", ...).
const char* describe(XPathError error);

// The nesting depth of ( and [ in `xpath`, outside string literals.
unsigned xpathNesting(std::string_view xpath);

// E_FAIL with the reason when `xpath` is longer or nested deeper than the
// limits allow; S_OK otherwise. What every selection checks first.
HRESULT checkXPathText(std::string_view xpath, const XPathLimits& limits, XPathError* error);

class XPathEvaluator {
public:
    explicit XPathEvaluator(XPathLimits limits = {});
    ~XPathEvaluator();
    XPathEvaluator(const XPathEvaluator&) = delete;
    XPathEvaluator& operator=(const XPathEvaluator&) = delete;

    // The nodes `xpath` (UTF-8) selects relative to each of `contexts`, as
    // one node-set in document order. `out` is replaced. E_FAIL when the
    // text is no XPath, its value is not a node-set or a limit is passed
    // (*error says which; out is then empty), E_OUTOFMEMORY, E_INVALIDARG
    // for a context node that is not one of our nodes.
    // REQUIRES: every context node belongs to the same document.
    HRESULT select(std::span<const DomNode> contexts, std::string_view xpath,
                   std::vector<DomNode>& out, XPathError* error = nullptr);

    // S_OK when `xpath` is within the text limits and compiles (it is then
    // kept compiled); E_FAIL otherwise, with *error saying why.
    HRESULT compile(std::string_view xpath, XPathError* error = nullptr);

    const XPathLimits& limits() const noexcept { return m_limits; }

private:
    struct State;
    xmlXPathContext* context();
    // The compiled form of `xpath` (from the cache, else compiled and kept);
    // null with `why` set when it does not compile.
    xmlXPathCompExpr* compiled(std::string_view xpath, XPathError& why);

    XPathLimits m_limits;
    std::unique_ptr<State> m_state;
};

} // namespace zeb::xml
