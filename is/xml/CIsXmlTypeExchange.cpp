#include "is/xml/CIsXmlTypeExchange.h"

#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoTraceRecord.h"
#include "is/xml/ClassificationCalls.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <sys/stat.h>

#include <string>
#include <unordered_map>

using zeb::classification::appendTraced;
using zeb::classification::callOrFail;
using zeb::classification::kFailed;
using zeb::classification::xpathLiteral;
using zeb::xml::DomDocument;
using zeb::xml::DomElement;
using zeb::xml::DomNode;

namespace {

constexpr const char* kSource = "is_inst";
constexpr DWORD kInvalidTypeName = 0xBE020003;
constexpr DWORD kTypeNotFound = 13;

// A new document with synchronous loading; false (traced with `name`, as the
// calls are known in the logs) when it cannot be had.
bool newDocument(CCoTraceRecord& rec, const char* createText, const char* asyncText,
                 DomDocument& out) {
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(callOrFail(rec, createText,
                          [&] { return zeb::classification::createDomDocument(doc); })) ||
        FAILED(callOrFail(rec, asyncText, [&] { return doc->put_async(VARIANT_FALSE); })))
        return false;
    out = DomDocument(std::move(doc));
    return true;
}

// The class element whose ESType carries this name, anywhere in `root`
// (`element` narrows it to one element name).
DomNode findByName(const DomNode& root, std::u16string_view name,
                   std::u16string_view element = u"*") {
    return root.selectSingleNode(u".//" + std::u16string(element) + u"[ESType/@ESName=" +
                                 xpathLiteral(name) + u"]");
}

std::u16string attributeOf(const DomNode& node, std::u16string_view name) {
    DomElement element = node.asElement();
    if (!element) return {};
    return element.getAttribute(name).value_or(u"");
}

// The identity of a file as far as a change to it shows: device, inode,
// size and modification time; empty when the file cannot be read.
std::string fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

DWORD CIsXmlTypeExchange::exportForm(const ExportForm*& form) {
    form = nullptr;
    const DomDocument& document = m_classification.document();
    const std::string stylesheet = fileIdentity(m_describer.stylesheetPath(kExportStylesheet));
    if (m_exportForm && m_exportForm->reusable && document &&
        m_exportForm->sourceGeneration == m_classification.documentGeneration() &&
        m_exportForm->sourceChanges == document.changeCount() && !stylesheet.empty() &&
        m_exportForm->stylesheet == stylesheet) {
        form = &*m_exportForm;
        return 0;
    }
    m_exportForm.reset();
    ExportForm made;
    if (const DWORD r = m_describer.transformXMLTypeTree(kExportStylesheet, made.arranged))
        return r;
    // The class element of each identifier as .//*[ESType/@ESID="{...}"]
    // selects it (the first in document order), from one pass over the
    // document rather than one per type.
    for (const DomNode& element : made.arranged.selectNodes(u".//*[ESType/@ESID]"))
        for (const DomNode& id : element.selectNodes(u"ESType/@ESID"))
            made.byId.emplace(id.text(), element);
    // Reused only when the stylesheet read is the one identified (a file
    // replaced meanwhile is read again next time); otherwise it serves this
    // export alone.
    if (document && !stylesheet.empty() &&
        fileIdentity(m_describer.stylesheetPath(kExportStylesheet)) == stylesheet) {
        made.reusable = true;
        made.sourceGeneration = m_classification.documentGeneration();
        made.sourceChanges = document.changeCount();
        made.stylesheet = stylesheet;
    }
    m_exportForm = std::move(made);
    form = &*m_exportForm;
    return 0;
}

DWORD CIsXmlTypeExchange::exportXmlTreeInfo(const std::vector<GUID>& typeIds,
                                            std::u16string& text) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::exportXmlTreeInfo");
    const ExportForm* form = nullptr;
    if (const DWORD r = exportForm(form)) return r;
    DomDocument exported;
    if (!newDocument(rec, "spXmlExportDoc.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                     "spXmlExportDoc->put_async(0)", exported))
        return kFailed;
    DomNode root = exported.appendChild(exported.createElement(u"Export"));
    if (!root) {
        ZEB_TRACE(rec, 4, "error appending root node");
        return kFailed;
    }
    for (const GUID& typeId : typeIds) {
        // Every type must be there: an export is whole or nothing. The kept
        // form stays as it is: each export takes copies.
        const auto found = form->byId.find(zeb::toWide(zeb::guidToString(typeId)));
        if (found == form->byId.end() || !root.appendChild(found->second.cloneNode(true))) {
            ZEB_TRACE(rec, 4, "error appending type node");
            return kFailed;
        }
    }
    text = exported.xml();
    if (text.empty()) {
        ZEB_TRACE(rec, 4, "error saving xml");
        return kFailed;
    }
    return 0;
}

DWORD CIsXmlTypeExchange::importXmlTreeInfo(const std::u16string& text) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::importXmlTreeInfo");
    DomDocument doc = m_classification.document();
    if (!doc) {
        ZEB_TRACE(rec, 4, "error reading xml type tree");
        return kFailed;
    }
    DomDocument imported;
    if (!newDocument(rec, "spXmlImportDoc.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                     "spXmlImportDoc->put_async(0)", imported))
        return kFailed;
    if (!imported.loadXml(text)) {
        ZEB_TRACE(rec, 4, "error loading xml");
        return kFailed;
    }
    // An installation whose types were never arranged has no Unclassified
    // yet (nor, before its first type, an Installation): made here, so the
    // imported types are never left without their descriptions.
    DomNode installation = doc.selectSingleNode(u"Installation");
    if (!installation) installation = appendTraced(rec, doc, doc.createElement(u"Installation"));
    DomNode unclassified =
        installation ? installation.selectSingleNode(u"Unclassified") : DomNode();
    if (installation && !unclassified)
        unclassified = appendTraced(rec, installation, doc.createElement(u"Unclassified"));
    if (!unclassified) {
        ZEB_TRACE(rec, 4, "error reading xml type tree");
        return kFailed;
    }
    for (const DomNode& type : imported.selectNodes(u".//*[ESType/@ESName]")) {
        const DomNode esType = type.selectSingleNode(u"ESType");
        if (!esType) {
            ZEB_TRACE(rec, 4, "error while reading xml type description file");
            return kFailed;
        }
        // Matched by name: the imported description replaces the installed
        // type's element wherever it stands, whatever its class.
        const std::u16string name = attributeOf(esType, u"ESName");
        if (DomNode existing = findByName(doc, name)) {
            try {
                existing.parentNode().removeChild(existing);
            } catch (const zeb::ComError& e) {
                ZEB_TRACE(rec, 4,
                          "error calling spInstallTypeRootElem->parentNode->removeChild( "
                          "spInstallTypeRootElem) hr = 0x%X (%s), ret=0x%X",
                          unsigned(e.code()), CCoError(e.code()).errorText(), unsigned(kFailed));
                return kFailed;
            }
        }
        m_classification.markDocumentChanged();
        if (!unclassified.appendChild(type)) {
            ZEB_TRACE(rec, 4, "error appending child node");
            return kFailed;
        }
    }
    DomDocument arranged;
    const DWORD r =
        m_describer.transformXMLTypeTree(CIsXmlTypeDescriber::kArrangeStylesheet, arranged);
    if (r == 0) {
        m_classification.replaceDocument(std::move(arranged));
        m_classification.clearRefreshNeeded();
    }
    return r;
}

HRESULT CIsXmlTypeExchange::addXMLTypeDescription(IUnknown* node, DWORD* pRet) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::addXMLTypeDescription");
    ComPtr<IXMLDOMNode> supplied;
    if (FAILED(node->QueryInterface(uuidof<IXMLDOMNode>(), reinterpret_cast<void**>(&supplied))) ||
        !supplied) {
        ZEB_TRACE(rec, 4, "query interface for 'IXMLDOMNode' failed");
        *pRet = kFailed;
        return S_OK;
    }
    ComPtr<IXMLDOMDocument2> created;
    HRESULT hr = callOrFail(rec, "spLocalXml.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                            [&] { return zeb::classification::createDomDocument(created); });
    if (SUCCEEDED(hr))
        hr = callOrFail(rec, "spLocalXml->put_async(0)",
                        [&] { return created->put_async(VARIANT_FALSE); });
    if (FAILED(hr)) return hr;
    DomDocument local(std::move(created));
    if (!local.loadXml(DomNode(supplied).xml())) {
        ZEB_TRACE(rec, 4, "error loading xml node");
        *pRet = kFailed;
        return S_OK;
    }
    const DomNode description = local.selectSingleNode(u".//*[ESType/@ESName]");
    const DomNode esType = description ? description.selectSingleNode(u"ESType") : DomNode();
    if (!esType) {
        ZEB_TRACE(rec, 4, "error while reading xml type description file");
        *pRet = kFailed;
        return S_OK;
    }
    // The same class element name and the same type name.
    DomDocument doc = m_classification.document();
    DomNode target = findByName(doc, attributeOf(esType, u"ESName"), description.nodeName());
    const DomNode targetType = target ? target.selectSingleNode(u"ESType") : DomNode();
    if (!targetType) {
        ZEB_TRACE(rec, 4, "error while adding xml type description file");
        *pRet = kTypeNotFound;
        return S_OK;
    }
    *pRet = 0;
    GUID typeId{};
    const std::u16string esid = attributeOf(targetType, u"ESID");
    hr = CLSIDFromString(esid.c_str(), &typeId);
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4,
                  "error calling CLSIDFromString(spVarValue.bstrVal, &clsidType) hr = 0x%X (%s), "
                  "ret=0x%X",
                  unsigned(hr), CCoError(hr).errorText(), unsigned(kFailed));
        *pRet = kFailed;
        return S_OK;
    }
    for (const DomNode& attribute : description.selectNodes(u"Attributes/Attribute")) {
        zeb::Bstr key(attributeOf(attribute, u"Name")), value(attributeOf(attribute, u"Value"));
        DWORD ret = 0;
        hr = m_source.setTypeAttribute(typeId, key, value, &ret);
        if (FAILED(hr) || ret != 0) {
            ZEB_TRACE(rec, 4,
                      "error calling setAttributeByTypeID(clsidType, bstrAttrKey, bstrAttrValue, "
                      "&dwRet) hr = 0x%X (%s), ret=0x%X",
                      unsigned(hr), CCoError(hr).errorText(), unsigned(ret));
            // The merge stops here; the caller learns why instead of success.
            *pRet = ret != 0 ? ret : kFailed;
            return S_OK;
        }
    }
    // Appends a deep copy of `child` to `parent`; false when no copy could be made.
    auto appendCopy = [&](DomNode& parent, const DomNode& child) {
        const DomNode copy = child.cloneNode(true);
        if (!copy) {
            ZEB_TRACE(rec, 4, "error cloning xml node");
            *pRet = kFailed;
            return false;
        }
        m_classification.markDocumentChanged();
        appendTraced(rec, parent, copy);
        return true;
    };
    // Replaces the element of `parent` with the same Id as `child` by a copy.
    auto replaceById = [&](DomNode& parent, const DomNode& child, std::u16string_view name) {
        const DomNode old = parent.selectSingleNode(std::u16string(name) + u"[@Id=" +
                                                    xpathLiteral(attributeOf(child, u"Id")) + u"]");
        if (old) {
            parent.removeChild(old);
            m_classification.markDocumentChanged();
        }
        return appendCopy(parent, child);
    };
    for (const DomNode& child : description.selectNodes(u"*")) {
        const std::u16string name = child.nodeName();
        if (name == u"ESType") continue;
        if (name == u"SubObj") {
            if (!replaceById(target, child, u"SubObj")) return S_OK;
        } else if (name == u"Connectors") {
            DomNode connectors = target.selectSingleNode(u"Connectors");
            if (!connectors) {
                connectors = target.appendChild(doc.createElement(u"Connectors"));
                m_classification.markDocumentChanged();
            }
            for (const DomNode& connector : child.selectNodes(u"Connector"))
                if (!replaceById(connectors, connector, u"Connector")) return S_OK;
        } else if (!appendCopy(target, child)) {
            return S_OK;
        }
    }
    *pRet = 0;
    return S_OK;
}

HRESULT CIsXmlTypeExchange::addPackageFile(const char* packageName, const char* deviceTypeName,
                                           BSTR fileName, DWORD* pRet) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::addPackageFile");
    DomDocument doc = m_classification.document();
    DomNode package = findByName(doc, zeb::toWide(packageName), u"Package");
    if (!package.asElement()) {
        ZEB_TRACE(rec, 4, "invalid type name \"%s\"", packageName);
        *pRet = kInvalidTypeName;
        return S_OK;
    }
    // The device type is looked up before Files is made, so that a refused
    // call leaves the document as it was.
    const GUID device = m_source.typeIdByName(deviceTypeName);
    if (isNoType(device)) {
        ZEB_TRACE(rec, 4, "invalid type name \"%s\"", deviceTypeName);
        *pRet = kInvalidTypeName;
        return S_OK;
    }
    DomNode files = package.selectSingleNode(u"Files");
    if (!files) {
        files = appendTraced(rec, package, doc.createElement(u"Files"));
        m_classification.markDocumentChanged();
    }
    *pRet = 0;
    DomElement file = doc.createElement(u"File");
    const std::u16string name = fileName ? std::u16string(fileName, SysStringLen(fileName)) : u"";
    file.setAttribute(u"Name", name);
    file.setAttribute(u"ESID", zeb::toWide(zeb::guidToString(device)));
    if (files) {
        appendTraced(rec, files, file);
        m_classification.markDocumentChanged();
    }
    return S_OK;
}

HRESULT CIsXmlTypeExchange::removePackageFile(const char* packageName, const char* deviceTypeName,
                                              DWORD* pRet) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::removePackageFile");
    const GUID device = m_source.typeIdByName(deviceTypeName);
    if (isNoType(device)) {
        ZEB_TRACE(rec, 4, "invalid type name \"%s\"", deviceTypeName);
        *pRet = kInvalidTypeName;
        return S_OK;
    }
    *pRet = 0;
    DomDocument doc = m_classification.document();
    DomNode file = doc.selectSingleNode(
        u".//Package[ESType/@ESName=" + xpathLiteral(zeb::toWide(packageName)) +
        u"]//File[@ESID=\"" + zeb::toWide(zeb::guidToString(device)) + u"\"]");
    if (!file) return S_OK; // nothing registered: nothing to do
    try {
        file.parentNode().removeChild(file);
        m_classification.markDocumentChanged();
    } catch (const zeb::ComError& e) {
        ZEB_TRACE(rec, 4,
                  "error calling spPackageFileElem->parentNode->removeChild( spPackageFileElem) "
                  "hr = 0x%X (%s), ret=0x%X",
                  unsigned(e.code()), CCoError(e.code()).errorText(), unsigned(kFailed));
        *pRet = kFailed;
    }
    return S_OK;
}
