// CIsXmlTypeExchange: the routes by which type descriptions enter and leave
// the classification document other than the refresh:
//   - the descriptions of chosen types as an Export document (the document
//     arranged by "k4bi00tx_tfb.xsl" first), and their import into another
//     installation, where each replaces the class element of the same name;
//   - the merge of a description a caller supplies (attributes, SubObj and
//     Connector elements replaced by Id, other elements added);
//   - the files a package carries for a device type (Package/Files/File).
//
//   CIsXmlTypeExchange exchange(classification, describer, source);
//   std::u16string text;
//   DWORD r = exchange.exportXmlTreeInfo({driveId}, text);  // 0: text holds <Export>...
//   r = other.importXmlTreeInfo(text);                      // 0: described, arranged
//
// Names are put into the XPath of a lookup as literals (xpathLiteral), so a
// name with a quote matches exactly itself. Every change to the document
// marks it changed, so the next save writes it. Owner's thread only.
#pragma once

#include "is/xml/CIsXmlClassification.h"
#include "is/xml/CIsXmlTypeDescriber.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// What the exchange needs from the installation that owns the document.
struct TypeExchangeSource {
    // The installed type of this name (letter case aside); GUID_NOTYPE when none.
    virtual GUID typeIdByName(const std::string& name) = 0;
    // The installation's own setAttributeByTypeID.
    virtual HRESULT setTypeAttribute(const GUID& typeId, BSTR key, BSTR value, DWORD* pRet) = 0;

protected:
    ~TypeExchangeSource() = default;
};

class CIsXmlTypeExchange {
public:
    static constexpr const char* kExportStylesheet = "k4bi00tx_tfb.xsl";

    CIsXmlTypeExchange(CIsXmlClassification& classification, CIsXmlTypeDescriber& describer,
                       TypeExchangeSource& source)
        : m_classification(classification), m_describer(describer), m_source(source) {}

    // The Export document of the types, in the order given: 0, 65535 (a type
    // not in the document, or the document could not be made), or the code
    // of the stylesheet transformation. The classification is not changed.
    DWORD exportXmlTreeInfo(const std::vector<GUID>& typeIds, std::u16string& text);
    // Moves every described type of `text` into Installation/Unclassified
    // (made when missing; replacing a class element of the same name
    // anywhere) and arranges the
    // document: 0, 65535, or the transformation's code. What was moved before
    // a failure stays in Unclassified.
    DWORD importXmlTreeInfo(const std::u16string& text);

    // The interface operations (HRESULT and pRet as documented on
    // IMC_InternalInstallClassification).
    HRESULT addXMLTypeDescription(IUnknown* node, DWORD* pRet);
    HRESULT addPackageFile(const char* packageName, const char* deviceTypeName, BSTR fileName,
                           DWORD* pRet);
    HRESULT removePackageFile(const char* packageName, const char* deviceTypeName, DWORD* pRet);

private:
    // The document arranged for export, with its class elements by
    // identifier, kept while neither the classification document nor the
    // export stylesheet changes: exporting many types one after another
    // (a package and what it depends on, each type of a list) transforms the
    // whole document once instead of once per type.
    struct ExportForm {
        bool reusable = false;
        uint64_t sourceGeneration = 0; // the classification's document ...
        uint64_t sourceChanges = 0;    // ... and its change count then
        std::string stylesheet;        // the file's identity: inode, size, time
        zeb::xml::DomDocument arranged;
        std::unordered_map<std::u16string, zeb::xml::DomNode> byId;
    };
    DWORD exportForm(const ExportForm*& form);

    CIsXmlClassification& m_classification;
    CIsXmlTypeDescriber& m_describer;
    TypeExchangeSource& m_source;
    std::optional<ExportForm> m_exportForm;
};
