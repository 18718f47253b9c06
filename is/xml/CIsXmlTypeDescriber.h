// Describes the installed types in the classification document and arranges
// the document with a stylesheet.
//
//   CIsXmlTypeDescriber describer(classification, installation);
//   DWORD r = describer.refreshXMLTypeTree();   // 0, or the code of the failure
//
// The refresh takes every class element out of Installation/New, moves it to
// the end of Installation/Unclassified and writes under it what the type
// object tells through its description interfaces (h/IMC_TypeDescription.h)
// and what the type's PD-file header says (attribute BI_TYPE_PDFILENAME, a
// file in the configuration directory). Then the document goes through the
// stylesheet "k4bi00tx_tf.xsl" of the configuration directory, and the
// result replaces the classification document. The element and attribute
// names written here are read by the registered queries of clients: they are
// fixed.
//
// A type that cannot be described ends the refresh with its code: the types
// described so far stay in Unclassified, the arrangement is skipped and the
// refresh-needed flag stays set. A type object that throws or fails in any
// call is traced and handled as a failed call; it never leaves the document
// unusable. Errors the DOM raises while building (element creation,
// selection, append, removal) reach the caller as zeb::ComError.
//
// Runs on the owner's thread. Creating a type object may pump messages, so
// the owner can be called again meanwhile: a refresh asked for while one is
// running is refused (65535), nodes removed meanwhile are skipped.
#pragma once

#include "is/xml/CIsXmlClassification.h"
#include "is/xml/TypeDescriptionSource.h"
#include "platform/xml/XmlDom.h"

#include <cstddef>
#include <functional>
#include <string>

class CIsXmlTypeDescriber {
public:
    // The stylesheet the refresh arranges the document with.
    static constexpr const char* kArrangeStylesheet = "k4bi00tx_tf.xsl";

    // Both outlive the describer.
    CIsXmlTypeDescriber(CIsXmlClassification& classification, TypeDescriptionSource& source)
        : m_classification(classification), m_source(source) {}

    // Describes the new types and arranges the document. 0 on success (the
    // refresh-needed flag is then cleared); else 13 (a class element without
    // ESType), 65535, a type container code or a description interface's
    // result word.
    DWORD refreshXMLTypeTree();

    // Called by refreshXMLTypeTree after each type it described, with the
    // number described so far and the number of types it found new (a host
    // shows progress with it). Empty (the default): not called. The callback
    // must not call the describer.
    using Progress = std::function<void(size_t done, size_t total)>;
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    // Transforms the classification document with the stylesheet `fileName`
    // of the configuration directory into a new document (synchronous
    // loading, XPath selection). 0, or 65535 (traced) when the stylesheet
    // cannot be loaded or the transformation fails. Only plain file names
    // are accepted: stylesheets come from the configuration directory alone.
    DWORD transformXMLTypeTree(const std::string& fileName, zeb::xml::DomDocument& out);
    // Where transformXMLTypeTree reads the stylesheet `fileName` from.
    std::string stylesheetPath(const std::string& fileName) {
        return m_source.configurationDirectory() + "/" + fileName;
    }

private:
    CIsXmlClassification& m_classification;
    TypeDescriptionSource& m_source;
    bool m_running = false;
    Progress m_progress;
};
