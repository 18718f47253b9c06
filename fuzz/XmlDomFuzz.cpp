// Feeds arbitrary text to the DOM's loadXML. Whatever it accepts must
// serialise to a text that loads again and serialises to the same text;
// a few fixed XPath selections and tree changes must work on it.
#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDocument.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

ComPtr<IXMLDOMDocument2> newDocument() {
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(CoCreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
                                uuidof<IXMLDOMDocument2>(), reinterpret_cast<void**>(&doc))))
        std::abort();
    // Whitespace kept, so that the round trip must be exact.
    doc->put_preserveWhiteSpace(VARIANT_TRUE);
    zeb::Bstr language(u"SelectionLanguage");
    doc->setProperty(language, zeb::Variant(u"XPath"));
    return doc;
}

bool load(IXMLDOMDocument2* doc, const zeb::Bstr& text) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = doc->loadXML(text, &ok);
    if ((hr == S_OK) != (ok == VARIANT_TRUE)) std::abort();
    if (hr != S_OK && hr != S_FALSE) std::abort();
    return hr == S_OK;
}

zeb::Bstr xmlOf(IXMLDOMNode* node) {
    zeb::Bstr s;
    if (node->get_xml(&s) != S_OK) std::abort();
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const zeb::Bstr text(zeb::toWide(bytes));
    ComPtr<IXMLDOMDocument2> doc = newDocument();
    if (!load(doc.get(), text)) return 0;

    const zeb::Bstr first = xmlOf(doc.get());
    ComPtr<IXMLDOMDocument2> again = newDocument();
    if (!load(again.get(), first)) std::abort();
    if (!(xmlOf(again.get()) == first)) std::abort();

    static const char16_t* const queries[] = {
        u"//*",     u"//@*",        u"//text()",
        u"/*/*[1]", u"//*[@id]/..", u"//comment() | //processing-instruction()"};
    for (const char16_t* q : queries) {
        ComPtr<IXMLDOMNodeList> list;
        zeb::Bstr query(q);
        if (doc->selectNodes(query, &list) != S_OK) std::abort();
        ComPtr<IXMLDOMNode> node;
        while (list->nextNode(&node) == S_OK) {
            xmlOf(node.get());
            zeb::Bstr t;
            if (node->get_text(&t) != S_OK) std::abort();
            node = nullptr;
        }
    }

    // Move the root's first child to the end through a deep copy and back.
    ComPtr<IXMLDOMElement> root;
    if (doc->get_documentElement(&root) != S_OK) std::abort();
    ComPtr<IXMLDOMNode> child;
    if (root->get_firstChild(&child) == S_OK) {
        ComPtr<IXMLDOMNode> removed, copy, appended;
        if (root->removeChild(child.get(), &removed) != S_OK) std::abort();
        if (child->cloneNode(VARIANT_TRUE, &copy) != S_OK) std::abort();
        if (root->appendChild(copy.get(), &appended) != S_OK) std::abort();
        if (root->appendChild(child.get(), nullptr) != S_OK) std::abort();
    }
    xmlOf(doc.get());
    return 0;
}
