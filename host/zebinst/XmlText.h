// XmlText: the classification document as a person reads it: pretty-printed
// XML, and an indented tree of the classes and the described types.
#pragma once

#include <string>

namespace zebinst {

// The XML text (UTF-8) indented, one element a line, without the XML
// declaration; the text itself when it does not parse.
std::string prettyXml(const std::string& text);

// The document as a tree:
//   Installation
//     Classified
//       Device
//         SampleDrive.1.0  {5A3E1001-...}
//           runtime id  {5A3E2001-...} 1.0
//           SubObj  Id=0 Name=Brake ...
// Class elements (those with an ESType) are grouped under their class name,
// each shown as its type's name and identifier; a child with only a "value" attribute as "Name:
// value".
std::string xmlTree(const std::string& text);

} // namespace zebinst
