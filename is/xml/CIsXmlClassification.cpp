#include "is/xml/CIsXmlClassification.h"

#include "is/xml/CIsXmlTypeQuery.h"
#include "is/xml/ClassificationCalls.h"

#include "co/CCoGuardedCall.h"
#include "co/CCoRtmmScope.h"
#include "platform/com/Activation.h"
#include "platform/com/ComError.h"
#include "platform/com/Guid.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"

#include <algorithm>
#include <new>
#include <utility>

using zeb::Bstr;
using zeb::Variant;
using zeb::classification::appendTraced;
using zeb::classification::callOrFail;
using zeb::xml::DomElement;
using zeb::xml::DomNode;

namespace {

constexpr const char* kSource = "is_xml";

// True when `node` is an element the XPath name test "ESType" selects: that
// name and no namespace.
bool isTypeElement(const DomNode& node) {
    if (node.nodeType() != NODE_ELEMENT || node.nodeName() != u"ESType") return false;
    Bstr uri;
    if (FAILED(node.get()->get_namespaceURI(&uri))) return false;
    return uri.view().empty();
}

} // namespace

CIsXmlClassification::CIsXmlClassification() {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::CZEBIntInstallation");
    ComPtr<IXMLDOMDocument2> created;
    guardedCall(rec, "m_spTypeClassification.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                [&] { return zeb::classification::createDomDocument(created); });
    // Without a document the two calls below go to a null document: each is
    // traced as a caught exception and construction goes on.
    auto doc = [&]() -> IXMLDOMDocument2* {
        if (!created) throw zeb::ComError(E_POINTER, "no classification document");
        return created.get();
    };
    guardedCall(rec, "m_spTypeClassification->put_async(FALSE)",
                [&] { return doc()->put_async(VARIANT_FALSE); });
    guardedCall(rec, "m_spTypeClassification->setProperty(\"SelectionLanguage\", \"XPath\")", [&] {
        Bstr name(u"SelectionLanguage");
        Variant value(std::u16string_view(u"XPath"));
        return doc()->setProperty(name, value);
    });
    if (created) m_document = zeb::xml::DomDocument(std::move(created));
}

CIsXmlClassification::~CIsXmlClassification() = default;

bool CIsXmlClassification::formatTypeId(CCoTraceRecord& rec, const GUID& typeId,
                                        std::u16string& text) {
    zeb::TaskMem<OLECHAR> formatted;
    HRESULT hr = callOrFail(rec, "StringFromCLSID(clsidType, &lpszTypeID)",
                            [&] { return StringFromCLSID(typeId, zeb::outPtr(formatted)); });
    if (FAILED(hr) || !formatted) return false;
    text.assign(formatted.get());
    return true;
}

DWORD CIsXmlClassification::addXMLType(const GUID& typeId, const String& name,
                                       TypeClass typeClass) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::addXMLType");
    // Outside changes are taken in first, so that everything changed from
    // here on is ours and kept in the index as it happens.
    ensureIndex();
    m_indexValid = false; // until the changes below are in the index
    DomElement root = m_document.selectSingleNode(u"Installation").asElement();
    if (!root) {
        root = m_document.createElement(u"Installation");
        appendTraced(rec, m_document, root);
    }
    DomNode inbox = root.selectSingleNode(u"New");
    if (!inbox) {
        inbox = m_document.createElement(u"New");
        appendTraced(rec, root, inbox);
    }
    // The skeleton elements carry no identifier: the index is still right.
    syncIndex();

    std::u16string idText;
    if (!formatTypeId(rec, typeId, idText)) return kFailed;
    if (lookup(idText)) {
        // Already present: the node stays as it is, but the type is described again.
        m_refreshNeeded = true;
        m_documentChanged = true;
        return kOk;
    }
    if (typeClass == TC_NotInstalled) {
        ZEB_TRACE(rec, 4, "invalid type class");
        return kInvalidTypeClass;
    }
    const char* className = typeClassName(typeClass);
    if (!className) {
        // Callers refuse other values before; answered as a failure all the same.
        ZEB_TRACE(rec, 4, "invalid type class");
        return kFailed;
    }

    m_indexValid = false;
    DomElement classElement = m_document.createElement(zeb::toWide(className));
    DomNode placed = appendTraced(rec, inbox, classElement);
    DomElement typeElement = m_document.createElement(u"ESType");
    HRESULT hr = callOrFail(rec, "spSElem->setAttribute(\"ESID\", _variant_t(lpszTypeID))", [&] {
        typeElement.setAttribute(u"ESID", idText);
        return S_OK;
    });
    if (SUCCEEDED(hr))
        hr = callOrFail(rec, "spSElem->setAttribute(\"ESName\", _variant_t(strName))", [&] {
            typeElement.setAttribute(u"ESName", zeb::toWide(name.view()));
            return S_OK;
        });
    if (FAILED(hr)) {
        // The class element stays in New without ESType: it matches no identifier.
        syncIndex();
        return kFailed;
    }
    DomNode typed = appendTraced(rec, classElement, typeElement);
    // The lookup found no element with this identifier, so the new one is the
    // only one, whatever its place; it is in the document only when both
    // appends gave a node.
    if (placed && typed) m_index[idText].push_back(classElement);
    syncIndex();

    m_refreshNeeded = true;
    m_documentChanged = true;
    return kOk;
}

DWORD CIsXmlClassification::removeXMLType(const GUID& typeId) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::removeXMLType");
    std::u16string idText;
    if (!formatTypeId(rec, typeId, idText)) return kFailed;
    DomElement found = lookup(idText);
    if (!found) return kTypeNotFound;

    m_indexValid = false;
    DomNode parent;
    HRESULT hr = callOrFail(rec, "spTypeRootElem->parentNode->removeChild(spTypeRootElem)", [&] {
        parent = found.parentNode();
        parent.removeChild(found);
        return S_OK;
    });
    if (FAILED(hr)) return kFailed; // the index is rebuilt on the next lookup
    // The removed subtree may hold further class elements (of this or other
    // identifiers); none of them is in the document any more.
    unindexSubtree(found);
    // When the element found is itself an ESType (its own ESType child
    // carries the identifier), its parent may have matched through it.
    if (parent && isTypeElement(found)) reindexElement(parent);
    syncIndex();

    m_refreshNeeded = true;
    m_documentChanged = true;
    return kOk;
}

bool CIsXmlClassification::getXMLText(BSTR* text) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::getXMLText");
    if (!text) return false;
    Bstr xml;
    HRESULT hr = guardedCall(rec, "m_spTypeClassification->get_xml(strXML)", [&] {
        if (!m_document) throw zeb::ComError(E_POINTER, "no classification document");
        return m_document.get()->get_xml(&xml);
    });
    if (FAILED(hr)) return false;
    *text = xml.Detach();
    return true;
}

bool CIsXmlClassification::setXMLText(BSTR text) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::setXMLText");
    CCoRtmmScope scope("0", "CZEBIntInstallation::setXMLText (loading XML)");
    // The load changes the document's count, so the index is rebuilt on the
    // next lookup.
    m_indexValid = false;
    bool loaded = false;
    try {
        loaded = m_document.loadXmlBstr(text);
    } catch (const zeb::ComError& e) {
        // Memory ran out: that says nothing about the text.
        if (e.code() == E_OUTOFMEMORY) throw std::bad_alloc();
        throw;
    }
    if (!loaded) {
        ZEB_TRACE(rec, 4, "error loading XML");
        return false;
    }
    return true;
}

HRESULT CIsXmlClassification::getInstallationDocument(IUnknown** document, DWORD* pRet) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::getInstallationDocument");
    if (!document || !pRet) {
        ZEB_TRACE(rec, 4, "error: NULL pointer argument");
        return E_POINTER;
    }
    *pRet = 0;
    ComPtr<IXMLDOMDocument2> spIDOMDocument(m_document.document());
    HRESULT hr = E_POINTER;
    if (spIDOMDocument)
        hr = spIDOMDocument->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(document));
    if (FAILED(hr)) {
        if (*pRet == 0) *pRet = kFailed;
        zeb::detail::onCallFailureRet(rec, "spIDOMDocument.QueryInterface(pIDocumentRoot)", hr,
                                      *pRet, __LINE__);
    }
    return hr;
}

DomElement CIsXmlClassification::findTypeElement(const GUID& typeId) {
    CCoTraceRecord rec(kSource, "CIsXmlClassification::findTypeElement");
    std::u16string idText;
    if (!formatTypeId(rec, typeId, idText)) return {};
    return lookup(idText);
}

HRESULT CIsXmlClassification::selectQuery(std::string_view xpath, std::vector<DomNode>& nodes,
                                          zeb::xml::XPathError* error) {
    nodes.clear();
    if (!m_document) throw zeb::ComError(E_POINTER, "no classification document");
    std::string idText, rest;
    // The shape (the form with an empty literal) compiles exactly when the
    // query does; one that does not runs as plain XPath and fails there.
    if (CIsXmlTypeQuery::parse(xpath, idText, rest) &&
        SUCCEEDED(zeb::xml::checkXPathText(xpath, m_evaluator.limits(), nullptr)) &&
        SUCCEEDED(m_evaluator.compile(CIsXmlTypeQuery::shape(rest)))) {
        ensureIndex();
        auto it = m_index.find(zeb::toWide(idText));
        if (it == m_index.end() || it->second.empty()) {
            if (error) *error = zeb::xml::XPathError::None;
            return S_OK;
        }
        // The elements' own handles: the evaluation leaves the index alone.
        const std::vector<DomNode> elements(it->second.begin(), it->second.end());
        if (rest.empty()) {
            if (m_evaluator.limits().maxNodes != 0 &&
                elements.size() > m_evaluator.limits().maxNodes) {
                if (error) *error = zeb::xml::XPathError::TooManyNodes;
                return E_FAIL;
            }
            nodes = elements;
            if (error) *error = zeb::xml::XPathError::None;
            return S_OK;
        }
        return m_evaluator.select(elements, "." + rest, nodes, error);
    }
    const DomNode document = m_document;
    return m_evaluator.select({&document, 1}, xpath, nodes, error);
}

DomElement CIsXmlClassification::lookup(const std::u16string& idText) {
    ensureIndex();
    auto it = m_index.find(idText);
    if (it == m_index.end() || it->second.empty()) return {};
    return it->second.front();
}

void CIsXmlClassification::ensureIndex() {
    if (!m_document) throw zeb::ComError(E_POINTER, "no classification document");
    if (m_indexValid && m_indexCount == m_document.changeCount()) return;
    rebuildIndex();
}

void CIsXmlClassification::rebuildIndex() {
    m_indexValid = false;
    m_index.clear();
    // Depth first, children in order: document order, so each identifier's
    // list starts with the element the XPath selects first.
    std::vector<DomNode> pending;
    for (DomNode& child : m_document.childNodes())
        pending.push_back(std::move(child));
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        DomNode node = std::move(pending.back());
        pending.pop_back();
        if (node.nodeType() != NODE_ELEMENT) continue;
        indexElement(node);
        std::vector<DomNode> children = node.childNodes();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    syncIndex();
}

std::vector<std::u16string> CIsXmlClassification::typeIdsOf(const DomNode& element) {
    std::vector<std::u16string> ids;
    for (const DomNode& child : element.childNodes()) {
        if (!isTypeElement(child)) continue;
        std::optional<std::u16string> id = child.asElement().getAttribute(u"ESID");
        if (id && std::find(ids.begin(), ids.end(), *id) == ids.end()) ids.push_back(*id);
    }
    return ids;
}

void CIsXmlClassification::indexElement(const DomNode& element) {
    std::vector<std::u16string> ids = typeIdsOf(element);
    if (ids.empty()) return;
    DomElement asElement = element.asElement();
    for (std::u16string& id : ids)
        m_index[std::move(id)].push_back(asElement);
}

void CIsXmlClassification::unindexSubtree(const DomNode& root) {
    std::vector<DomNode> pending{root};
    while (!pending.empty()) {
        DomNode node = std::move(pending.back());
        pending.pop_back();
        if (node.nodeType() != NODE_ELEMENT) continue;
        for (const std::u16string& id : typeIdsOf(node)) {
            auto it = m_index.find(id);
            if (it == m_index.end()) continue;
            std::vector<DomElement>& list = it->second;
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const DomElement& e) { return e == node; }),
                       list.end());
            if (list.empty()) m_index.erase(it);
        }
        for (DomNode& child : node.childNodes())
            pending.push_back(std::move(child));
    }
}

void CIsXmlClassification::reindexElement(const DomNode& element) {
    std::vector<std::u16string> now = typeIdsOf(element);
    for (auto it = m_index.begin(); it != m_index.end();) {
        std::vector<DomElement>& list = it->second;
        if (std::find(now.begin(), now.end(), it->first) == now.end())
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const DomElement& e) { return e == element; }),
                       list.end());
        it = list.empty() ? m_index.erase(it) : std::next(it);
    }
}

void CIsXmlClassification::replaceDocument(zeb::xml::DomDocument document) {
    m_document = std::move(document);
    ++m_documentGeneration;
    // Another document: its change count says nothing about the index.
    m_indexValid = false;
    m_index.clear();
}

void CIsXmlClassification::syncIndex() {
    m_indexCount = m_document.changeCount();
    m_indexValid = true;
}
