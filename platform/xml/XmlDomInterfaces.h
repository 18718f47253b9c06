// The XML DOM interfaces with their public identifiers and slot order, so a
// caller that only knows the vtable layout of these interfaces can use our
// documents. IDispatch sits in front of every interface; its four slots
// answer E_NOTIMPL (there is no type information and no late binding here).
//
// Integer properties that are `long` in the original are LONG (32 bits).
// Strings cross as BSTR; the caller frees what it receives.
//
// Slots that nothing in the system calls answer E_NOTIMPL. They are marked
// "[not implemented]" below. Everything else is implemented by XmlDocument
// (platform/xml/XmlDocument.h) and the node objects it hands out.
#pragma once

#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

using DOMNodeType = INT;
constexpr DOMNodeType NODE_INVALID = 0;
constexpr DOMNodeType NODE_ELEMENT = 1;
constexpr DOMNodeType NODE_ATTRIBUTE = 2;
constexpr DOMNodeType NODE_TEXT = 3;
constexpr DOMNodeType NODE_CDATA_SECTION = 4;
constexpr DOMNodeType NODE_ENTITY_REFERENCE = 5;
constexpr DOMNodeType NODE_ENTITY = 6;
constexpr DOMNodeType NODE_PROCESSING_INSTRUCTION = 7;
constexpr DOMNodeType NODE_COMMENT = 8;
constexpr DOMNodeType NODE_DOCUMENT = 9;
constexpr DOMNodeType NODE_DOCUMENT_TYPE = 10;
constexpr DOMNodeType NODE_DOCUMENT_FRAGMENT = 11;
constexpr DOMNodeType NODE_NOTATION = 12;

struct IXMLDOMNode;
struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMDocument;
struct IXMLDOMElement;
struct IXMLDOMAttribute;
struct IXMLDOMParseError;
// Interfaces that appear only in slots we do not implement.
struct IXMLDOMDocumentType;
struct IXMLDOMImplementation;
struct IXMLDOMDocumentFragment;
struct IXMLDOMText;
struct IXMLDOMComment;
struct IXMLDOMCDATASection;
struct IXMLDOMProcessingInstruction;
struct IXMLDOMEntityReference;
struct IXMLDOMSchemaCollection;

struct IXMLDOMNode : IDispatch {
    static constexpr IID iid = makeGuid("2933BF80-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_nodeName(BSTR* name) = 0;
    virtual HRESULT get_nodeValue(VARIANT* value) = 0;
    virtual HRESULT put_nodeValue(VARIANT value) = 0; // [not implemented]
    virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
    virtual HRESULT get_parentNode(IXMLDOMNode** parent) = 0;
    virtual HRESULT get_childNodes(IXMLDOMNodeList** childList) = 0;
    virtual HRESULT get_firstChild(IXMLDOMNode** firstChild) = 0;
    virtual HRESULT get_lastChild(IXMLDOMNode** lastChild) = 0;
    virtual HRESULT get_previousSibling(IXMLDOMNode** previousSibling) = 0;
    virtual HRESULT get_nextSibling(IXMLDOMNode** nextSibling) = 0;
    virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributeMap) = 0; // [not implemented]
    virtual HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild,
                                 IXMLDOMNode** outNewChild) = 0;
    virtual HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild,
                                 IXMLDOMNode** outOldChild) = 0; // [not implemented]
    virtual HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) = 0;
    virtual HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) = 0;
    virtual HRESULT hasChildNodes(VARIANT_BOOL* hasChild) = 0;
    virtual HRESULT get_ownerDocument(IXMLDOMDocument** document) = 0;
    virtual HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) = 0;
    virtual HRESULT get_nodeTypeString(BSTR* nodeType) = 0; // [not implemented]
    virtual HRESULT get_text(BSTR* text) = 0;
    virtual HRESULT put_text(BSTR text) = 0;
    virtual HRESULT get_specified(VARIANT_BOOL* isSpecified) = 0;     // [not implemented]
    virtual HRESULT get_definition(IXMLDOMNode** definitionNode) = 0; // [not implemented]
    virtual HRESULT get_nodeTypedValue(VARIANT* typedValue) = 0;      // [not implemented]
    virtual HRESULT put_nodeTypedValue(VARIANT typedValue) = 0;       // [not implemented]
    virtual HRESULT get_dataType(VARIANT* dataTypeName) = 0;          // [not implemented]
    virtual HRESULT put_dataType(BSTR dataTypeName) = 0;              // [not implemented]
    virtual HRESULT get_xml(BSTR* xmlString) = 0;
    virtual HRESULT transformNode(IXMLDOMNode* stylesheet, BSTR* xmlString) = 0;
    virtual HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) = 0;
    virtual HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) = 0;
    virtual HRESULT get_parsed(VARIANT_BOOL* isParsed) = 0;
    virtual HRESULT get_namespaceURI(BSTR* namespaceURI) = 0;
    virtual HRESULT get_prefix(BSTR* prefixString) = 0;
    virtual HRESULT get_baseName(BSTR* nameString) = 0;
    // The output object must be one of our documents (VT_UNKNOWN/VT_DISPATCH).
    virtual HRESULT transformNodeToObject(IXMLDOMNode* stylesheet, VARIANT outputObject) = 0;
};

struct IXMLDOMNodeList : IDispatch {
    static constexpr IID iid = makeGuid("2933BF82-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_item(LONG index, IXMLDOMNode** listItem) = 0;
    virtual HRESULT get_length(LONG* listLength) = 0;
    virtual HRESULT nextNode(IXMLDOMNode** nextItem) = 0;
    virtual HRESULT reset() = 0;
    virtual HRESULT get__newEnum(IUnknown** ppUnk) = 0; // [not implemented]
};

struct IXMLDOMElement : IXMLDOMNode {
    static constexpr IID iid = makeGuid("2933BF86-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_tagName(BSTR* tagName) = 0;
    virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;
    virtual HRESULT setAttribute(BSTR name, VARIANT value) = 0;
    virtual HRESULT removeAttribute(BSTR name) = 0;
    virtual HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) = 0;
    virtual HRESULT setAttributeNode(IXMLDOMAttribute* domAttribute,
                                     IXMLDOMAttribute** attributeNode) = 0; // [not implemented]
    virtual HRESULT removeAttributeNode(IXMLDOMAttribute* domAttribute,
                                        IXMLDOMAttribute** attributeNode) = 0; // [not implemented]
    virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
    virtual HRESULT normalize() = 0; // [not implemented]
};

struct IXMLDOMAttribute : IXMLDOMNode {
    static constexpr IID iid = makeGuid("2933BF85-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_name(BSTR* attributeName) = 0;
    virtual HRESULT get_value(VARIANT* attributeValue) = 0;
    virtual HRESULT put_value(VARIANT attributeValue) = 0;
};

struct IXMLDOMParseError : IDispatch {
    static constexpr IID iid = makeGuid("3EFAA426-272F-11D2-836F-0000F87A7782");
    virtual HRESULT get_errorCode(LONG* errorCode) = 0;
    virtual HRESULT get_url(BSTR* urlString) = 0;
    virtual HRESULT get_reason(BSTR* reasonString) = 0;
    virtual HRESULT get_srcText(BSTR* sourceString) = 0;
    virtual HRESULT get_line(LONG* lineNumber) = 0;
    virtual HRESULT get_linepos(LONG* linePosition) = 0;
    virtual HRESULT get_filepos(LONG* filePosition) = 0;
};

struct IXMLDOMDocument : IXMLDOMNode {
    static constexpr IID iid = makeGuid("2933BF81-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_doctype(IXMLDOMDocumentType** documentType) = 0;  // [not implemented]
    virtual HRESULT get_implementation(IXMLDOMImplementation** impl) = 0; // [not implemented]
    virtual HRESULT get_documentElement(IXMLDOMElement** documentElement) = 0;
    virtual HRESULT putref_documentElement(IXMLDOMElement* documentElement) = 0;
    virtual HRESULT createElement(BSTR tagName, IXMLDOMElement** element) = 0;
    virtual HRESULT
    createDocumentFragment(IXMLDOMDocumentFragment** fragment) = 0;         // [not implemented]
    virtual HRESULT createTextNode(BSTR data, IXMLDOMText** text) = 0;      // [not implemented]
    virtual HRESULT createComment(BSTR data, IXMLDOMComment** comment) = 0; // [not implemented]
    virtual HRESULT createCDATASection(BSTR data,
                                       IXMLDOMCDATASection** cdata) = 0; // [not implemented]
    virtual HRESULT
    createProcessingInstruction(BSTR target, BSTR data,
                                IXMLDOMProcessingInstruction** pi) = 0; // [not implemented]
    virtual HRESULT createAttribute(BSTR name,
                                    IXMLDOMAttribute** attribute) = 0; // [not implemented]
    virtual HRESULT
    createEntityReference(BSTR name,
                          IXMLDOMEntityReference** entityRef) = 0; // [not implemented]
    virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
    // Elements and text nodes only; other types answer E_NOTIMPL.
    virtual HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) = 0;
    virtual HRESULT nodeFromID(BSTR idString, IXMLDOMNode** node) = 0; // [not implemented]
    // A local file path (VT_BSTR) only; other sources are E_INVALIDARG.
    virtual HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) = 0;
    virtual HRESULT get_readyState(LONG* value) = 0;
    virtual HRESULT get_parseError(IXMLDOMParseError** errorObj) = 0;
    virtual HRESULT get_url(BSTR* urlString) = 0;
    virtual HRESULT get_async(VARIANT_BOOL* isAsync) = 0;
    virtual HRESULT put_async(VARIANT_BOOL isAsync) = 0;
    virtual HRESULT abort() = 0;
    virtual HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) = 0;
    // A file path (VT_BSTR) only; other destinations are E_INVALIDARG.
    virtual HRESULT save(VARIANT destination) = 0;
    virtual HRESULT get_validateOnParse(VARIANT_BOOL* isValidating) = 0;
    virtual HRESULT put_validateOnParse(VARIANT_BOOL isValidating) = 0;
    virtual HRESULT get_resolveExternals(VARIANT_BOOL* isResolving) = 0;
    virtual HRESULT put_resolveExternals(VARIANT_BOOL isResolving) = 0;
    virtual HRESULT get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) = 0;
    virtual HRESULT put_preserveWhiteSpace(VARIANT_BOOL isPreserving) = 0;
    virtual HRESULT put_onreadystatechange(VARIANT readystatechangeSink) = 0; // [not implemented]
    virtual HRESULT put_ondataavailable(VARIANT ondataavailableSink) = 0;     // [not implemented]
    virtual HRESULT put_ontransformnode(VARIANT ontransformnodeSink) = 0;     // [not implemented]
};

struct IXMLDOMDocument2 : IXMLDOMDocument {
    static constexpr IID iid = makeGuid("2933BF95-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT
    get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) = 0; // [not implemented]
    virtual HRESULT get_schemas(VARIANT* otherCollection) = 0;         // [not implemented]
    virtual HRESULT putref_schemas(VARIANT otherCollection) = 0;       // [not implemented]
    virtual HRESULT validate(IXMLDOMParseError** errorObj) = 0;        // [not implemented]
    virtual HRESULT setProperty(BSTR name, VARIANT value) = 0;
    virtual HRESULT getProperty(BSTR name, VARIANT* value) = 0;
};

// The DOM document class, "Msxml2.DOMDocument.3.0", built into the runtime.
constexpr CLSID CLSID_DOMDocument30 = makeGuid("F5078F32-C551-11D3-89B9-0000F81FE221");
