// Shared steps of the DOM tests: a fresh document through the runtime, and
// texts in UTF-8 for readable comparisons.
#pragma once

#include "platform/com/Activation.h"
#include "platform/com/Bstr.h"
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDom.h"

#include <gtest/gtest.h>

#include <string>

namespace zeb::test {

inline std::string u8(const std::u16string& s) {
    return zeb::toNarrow(s);
}

inline xml::DomDocument loaded(const char* text) {
    xml::DomDocument doc = xml::DomDocument::create();
    EXPECT_TRUE(doc.loadXml(zeb::toWide(text))) << u8(doc.parseErrorReason());
    return doc;
}

// loadXML through the interface: its code, its VARIANT_BOOL and the reason.
struct LoadResult {
    HRESULT hr;
    VARIANT_BOOL ok;
    std::string reason;
};

inline LoadResult loadRaw(IXMLDOMDocument2* doc, const std::u16string& text) {
    Bstr s(text);
    VARIANT_BOOL ok = 12345;
    const HRESULT hr = doc->loadXML(s, &ok);
    ComPtr<IXMLDOMParseError> error;
    EXPECT_EQ(doc->get_parseError(&error), S_OK);
    Bstr reason;
    if (error) error->get_reason(&reason);
    return {hr, ok, reason.toUtf8()};
}

} // namespace zeb::test
