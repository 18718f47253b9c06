// XSLT for the DOM: runs a stylesheet (one of our nodes or documents) over a
// copy of a source node under security preferences that forbid writing
// files, creating directories and any network access. A stylesheet that
// tries (xsl:document, exsl:document ...) fails the whole transform with
// E_ACCESSDENIED and nothing is written. Other failures give E_FAIL.
#pragma once

#include "platform/xml/XmlDomInterfaces.h"

#include <libxml/tree.h>

#include <string>

namespace zeb::xml {

// The result tree; the caller owns *result.
HRESULT transformToDocument(xmlNodePtr source, IXMLDOMNode* stylesheet, xmlDocPtr& result);
// The result serialised as the stylesheet's xsl:output says.
HRESULT transformToText(xmlNodePtr source, IXMLDOMNode* stylesheet, std::string& result);

} // namespace zeb::xml
