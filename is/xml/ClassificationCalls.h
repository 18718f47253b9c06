// The two call patterns the classification document's operations share.
//
//   HRESULT hr = callOrFail(rec, "StringFromCLSID(clsidType, &lpszTypeID)", [&] { ... });
//   // failure: "error calling StringFromCLSID(...) hr = 0x..., ret=0xFFFF"
//   appendTraced(rec, parent, child);   // no node back: "error appending child node"
#pragma once

#include "co/CCoGuardedCall.h"
#include "platform/com/Activation.h"
#include "platform/xml/XmlDom.h"

#include <string>
#include <string_view>

namespace zeb::classification {

// The code these operations answer for any failure but the listed ones.
constexpr DWORD kFailed = 65535;

// A new document of the class "Msxml2.DOMDocument.3.0", asked for in all
// activation contexts (in-process server and handler, local and remote
// server: 0x17) as every document of the installation is.
inline HRESULT createDomDocument(ComPtr<IXMLDOMDocument2>& out) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(u"Msxml2.DOMDocument.3.0", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, 0x17, uuidof<IXMLDOMDocument2>(),
                            reinterpret_cast<void**>(&out));
}

// Runs a call whose failure the operation answers with 65535: an exception
// is traced as "caught exception calling <text>" and counts as E_FAIL; a
// failure is traced as "error calling <text> hr = ..., ret=0xFFFF".
template <class F>
HRESULT callOrFail(CCoTraceRecord& rec, const char* text, F&& call,
                   zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    HRESULT hr;
    try {
        hr = call();
    } catch (...) {
        zeb::detail::onCallException(rec, text, CatchText::Exception, where.line());
        hr = E_FAIL;
    }
    if (FAILED(hr)) zeb::detail::onCallFailureRet(rec, text, hr, kFailed, where.line());
    return hr;
}

// `text` as an XPath string literal that matches exactly that text: in
// double quotes, as names have always been pasted into queries, unless it
// holds one; then in single quotes; and when it holds both kinds, as
// concat() of parts. A name with a quote can neither break the expression
// nor change what it selects.
//   xpathLiteral(u"Drive") == u"\"Drive\""
//   xpathLiteral(u"a\"b'c") == u"concat(\"a\", '\"', \"b'c\")"
inline std::u16string xpathLiteral(std::u16string_view text) {
    if (text.find(u'"') == std::u16string_view::npos) return u"\"" + std::u16string(text) + u"\"";
    if (text.find(u'\'') == std::u16string_view::npos) return u"'" + std::u16string(text) + u"'";
    std::u16string out = u"concat(";
    size_t start = 0;
    for (;;) {
        const size_t quote = text.find(u'"', start);
        const std::u16string_view part = text.substr(start, quote - start);
        if (!part.empty()) out += u"\"" + std::u16string(part) + u"\", ";
        if (quote == std::u16string_view::npos) break;
        out += u"'\"', ";
        start = quote + 1;
    }
    out.resize(out.size() - 2); // the last ", "
    return out + u")";
}

// Appends `child` to `parent`; an append that yields no node is only traced.
// Errors the DOM raises reach the caller.
inline zeb::xml::DomNode appendTraced(CCoTraceRecord& rec, zeb::xml::DomNode& parent,
                                      const zeb::xml::DomNode& child) {
    zeb::xml::DomNode added = parent.appendChild(child);
    if (!added) ZEB_TRACE(rec, 4, "error appending child node");
    return added;
}

} // namespace zeb::classification
