// The two call patterns the classification document's operations share.
//
//   HRESULT hr = callOrFail(rec, "StringFromCLSID(clsidType, &lpszTypeID)", [&] { ... });
//   // failure: "error calling StringFromCLSID(...) hr = 0x..., ret=0xFFFF"
//   appendTraced(rec, parent, child);   // no node back: "error appending child node"
#pragma once

#include "co/CCoGuardedCall.h"
#include "platform/com/Activation.h"
#include "platform/xml/XmlDom.h"

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

// Appends `child` to `parent`; an append that yields no node is only traced.
// Errors the DOM raises reach the caller.
inline zeb::xml::DomNode appendTraced(CCoTraceRecord& rec, zeb::xml::DomNode& parent,
                                      const zeb::xml::DomNode& child) {
    zeb::xml::DomNode added = parent.appendChild(child);
    if (!added) ZEB_TRACE(rec, 4, "error appending child node");
    return added;
}

} // namespace zeb::classification
