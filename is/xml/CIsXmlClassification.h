// The classification document: one XML document that holds a class element
// for every installed type, under the skeleton
//
//   <Installation><New/><Unclassified/><Classified/></Installation>
//
// A class element is named after the type's class ("Device", "TObject", ...)
// and holds an ESType element whose ESID attribute is the type identifier in
// registry form ("{0123ABCD-...}") and whose ESName attribute is the type's
// name. A type is found with the XPath .//*[ESType/@ESID="{...}"] evaluated
// on the document; the first match in document order counts.
//
//   CIsXmlClassification doc;
//   DWORD r = doc.addXMLType(typeId, "Drive.1", TC_Device);  // 0, 12 or 65535
//   if (zeb::xml::DomElement e = doc.findTypeElement(typeId)) ...
//   r = doc.removeXMLType(typeId);                           // 0, 13 or 65535
//
// Lookups go through an index (identifier text -> class elements in document
// order). Callers may change the live document (getInstallationDocument), so
// the index is tied to the document's change count: it is used while the
// count matches the one it was last brought up to date at, and rebuilt by one
// scan otherwise. The changes this class makes itself update the index in
// place, so adding n types costs O(n), not O(n^2).
//
// Errors: the DOM calls whose failures these operations handle (identifier
// formatting, attribute setting, serialisation, removal) are caught and
// traced; errors of element creation, selection and append reach the caller
// as zeb::ComError. Used on the owner's thread only.
#pragma once

#include "base/falloc/String.h"
#include "co/CCoTraceRecord.h"
#include "h/TypeIdent.h"
#include "platform/com/Bstr.h"
#include "platform/xml/XPathEvaluator.h"
#include "platform/xml/XmlDom.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CIsXmlClassification {
public:
    // Codes of the document operations.
    static constexpr DWORD kOk = 0;
    static constexpr DWORD kInvalidTypeClass = 12;
    static constexpr DWORD kTypeNotFound = 13;
    static constexpr DWORD kFailed = 65535;

    // Creates the empty document ("Msxml2.DOMDocument.3.0", synchronous
    // loading, XPath selection). Failures are traced and construction goes
    // on. Without a document, getXMLText gives false, getInstallationDocument
    // E_POINTER, and the other operations raise zeb::ComError (E_POINTER).
    CIsXmlClassification();
    ~CIsXmlClassification();
    CIsXmlClassification(const CIsXmlClassification&) = delete;
    CIsXmlClassification& operator=(const CIsXmlClassification&) = delete;

    // Adds the class element of a type to Installation/New (both created when
    // missing). A type already present is not added again; both flags are set
    // in either case. 0, 12 (class 32767) or 65535.
    DWORD addXMLType(const GUID& typeId, const String& name, TypeClass typeClass);
    // Removes the first class element of the type, wherever it stands, and
    // sets both flags. 0, 13 (not present, flags unchanged) or 65535.
    DWORD removeXMLType(const GUID& typeId);

    // The document's XML text; the caller frees it. False when not obtained.
    bool getXMLText(BSTR* text);
    // Replaces the document's content by the parsed text. False when the text
    // does not parse; the document is then empty. std::bad_alloc when memory
    // ran out (the text may be sound).
    bool setXMLText(BSTR text);

    // A new reference to the live document. E_POINTER when either pointer is
    // null (the other one untouched); else *pRet 0 and S_OK.
    HRESULT getInstallationDocument(IUnknown** document, DWORD* pRet);

    // The class element the XPath .//*[ESType/@ESID="{...}"] selects first;
    // empty when there is none.
    zeb::xml::DomElement findTypeElement(const GUID& typeId);

    // The nodes the XPath `xpath` (UTF-8) selects, evaluated from the
    // document node, in document order; the document is not changed. The
    // usual type query (.//*[ESType/@ESID="{...}"] and location steps,
    // CIsXmlTypeQuery) takes its class elements from the index and
    // evaluates only the steps after them; anything else runs as plain
    // XPath. E_FAIL, with *error saying why, for a text that is no XPath or
    // whose value is no node-set, and for one that passes the query limits
    // (kQueryLimits); nodes is then empty.
    HRESULT selectQuery(std::string_view xpath, std::vector<zeb::xml::DomNode>& nodes,
                        zeb::xml::XPathError* error = nullptr);
    // The limits of selectQuery: at most 250,000 nodes selected, the
    // platform's defaults otherwise.
    static constexpr zeb::xml::XPathLimits kQueryLimits{.maxNodes = 250000};

    // The document-changed flag: set by add and remove (and by the other
    // changes the installation makes to the document), cleared by the save.
    bool isDocumentChanged() const noexcept { return m_documentChanged; }
    void markDocumentChanged() noexcept { m_documentChanged = true; }
    void clearDocumentChanged() noexcept { m_documentChanged = false; }
    // The refresh-needed flag: set by add and remove, cleared by a refresh.
    bool isRefreshNeeded() const noexcept { return m_refreshNeeded; }
    void clearRefreshNeeded() noexcept { m_refreshNeeded = false; }

    // The document itself (empty when its creation failed).
    const zeb::xml::DomDocument& document() const noexcept { return m_document; }
    // Makes `document` the classification document (the refresh hands over
    // the arranged one). References callers hold keep the old document.
    void replaceDocument(zeb::xml::DomDocument document);
    // Counts the documents this classification has held: a different number
    // is a different document, even one made where an old one stood.
    uint64_t documentGeneration() const noexcept { return m_documentGeneration; }

private:
    using Index = std::unordered_map<std::u16string, std::vector<zeb::xml::DomElement>>;

    // The identifier in registry form, or false after the traces.
    bool formatTypeId(CCoTraceRecord& rec, const GUID& typeId, std::u16string& text);
    // The first class element carrying `idText`, through the index.
    zeb::xml::DomElement lookup(const std::u16string& idText);
    // Rebuilds the index when the document changed behind our back.
    void ensureIndex();
    void rebuildIndex();
    // Enters `element` under every identifier its ESType children carry.
    void indexElement(const zeb::xml::DomNode& element);
    // Drops `element` from the lists of the identifiers it no longer carries.
    void reindexElement(const zeb::xml::DomNode& element);
    // Drops every entry of the subtree rooted at `root` from the index.
    void unindexSubtree(const zeb::xml::DomNode& root);
    // The identifiers of the ESType children of `element` (each once).
    static std::vector<std::u16string> typeIdsOf(const zeb::xml::DomNode& element);
    // Records that the index reflects the document as it is now.
    void syncIndex();

    zeb::xml::DomDocument m_document;
    uint64_t m_documentGeneration = 0;
    bool m_documentChanged = false;
    bool m_refreshNeeded = false;

    Index m_index;
    bool m_indexValid = false;
    zeb::xml::XPathEvaluator m_evaluator{kQueryLimits};
    uint64_t m_indexCount = 0;
};
