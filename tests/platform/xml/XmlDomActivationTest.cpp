// The DOM document class built into the runtime.
#include "XmlTestHelpers.h"

using namespace zeb;
using namespace zeb::test;

TEST(XmlDomActivation, TheProgIdAndClsidCreateADocument) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Msxml2.DOMDocument.3.0", &clsid), S_OK);
    EXPECT_EQ(clsid, makeGuid("F5078F32-C551-11D3-89B9-0000F81FE221"));
    ComPtr<IXMLDOMDocument2> doc;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, uuidof<IXMLDOMDocument2>(),
                               reinterpret_cast<void**>(&doc)),
              S_OK);
    Bstr text(u"<R/>");
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->loadXML(text, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    // The document answers all its interfaces and refuses aggregation.
    ComPtr<IXMLDOMNode> node;
    EXPECT_EQ(doc->QueryInterface(uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(&node)), S_OK);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(doc->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    UINT count = 9;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), E_NOTIMPL);
    // A new document starts empty, with the default selection language.
    ComPtr<IXMLDOMDocument2> fresh;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, uuidof<IXMLDOMDocument2>(),
                               reinterpret_cast<void**>(&fresh)),
              S_OK);
    ComPtr<IXMLDOMElement> root;
    EXPECT_EQ(fresh->get_documentElement(&root), S_FALSE);
    Bstr language(u"SelectionLanguage");
    Variant value;
    EXPECT_EQ(fresh->getProperty(language, &value), S_OK);
    EXPECT_EQ(std::u16string(value.bstrVal), u"XSLPattern");
}

TEST(XmlDomActivation, UnusedSlotsAnswerNotImplemented) {
    xml::DomDocument doc = loaded("<R/>");
    IXMLDOMNamedNodeMap* map = nullptr;
    EXPECT_EQ(doc.documentElement().get()->get_attributes(&map), static_cast<HRESULT>(0x80004001));
    EXPECT_EQ(map, nullptr);
    ComPtr<IXMLDOMNode> node;
    EXPECT_EQ(doc.get()->replaceChild(nullptr, nullptr, &node), static_cast<HRESULT>(0x80004001));
}

TEST(XmlDomActivation, WrapperCallsOnEmptyHandlesThrow) {
    xml::DomNode empty;
    try {
        empty.xml();
        ADD_FAILURE() << "no ComError";
    } catch (const ComError& e) {
        EXPECT_EQ(e.code(), static_cast<HRESULT>(0x80004003));
        EXPECT_EQ(std::string(e.what()), "DOM call on an empty node failed (0x80004003)");
    }
}
