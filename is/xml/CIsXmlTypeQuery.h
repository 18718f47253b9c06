// CIsXmlTypeQuery: recognises the usual form of a type query,
//
//   .//*[ESType/@ESID="{0123ABCD-...}"]<rest>
//
// so that the class elements come from the document's identifier index
// instead of a scan of every element, and only <rest> is evaluated, relative
// to each of them. That is the same selection: a location path E/R selects
// the union of R evaluated at each node of E, in document order, and
// .//*[ESType/@ESID=L] evaluated on the document selects exactly the
// elements with an ESType child (no namespace) whose ESID attribute (no
// namespace) equals L, which is what the index holds for the text of L.
//
// Recognised, written exactly so (no white space but around "="):
//   - the start ".//*[" or "//*[" (from the document node both select every
//     element), then "ESType/@ESID", "=", one string literal (well-formed
//     UTF-8 of XML characters, as plain XPath requires), "]";
//   - a rest made of nothing but location steps, each "/" or "//" and then
//     ".", "..", or an optional axis ("@" or name "::"), a node test ("*",
//     "p:*", a QName, node(), text(), comment(), processing-instruction()
//     with an optional literal) and any predicates ("[...]", read as a whole,
//     literals and nesting respected).
// Anything else (a union, an operator, a second predicate on the first
// step, a function) is not recognised and runs as plain XPath. The caller
// also checks that the expression compiles (shape()), since a text that is
// no XPath must fail as it does in plain XPath.
#pragma once

#include <string>
#include <string_view>

class CIsXmlTypeQuery {
public:
    // True when `xpath` has the form above; then `typeId` is the literal's
    // text and `rest` the location steps after the first one ("" for none).
    static bool parse(std::string_view xpath, std::string& typeId, std::string& rest);

    // The same form with an empty literal: valid XPath exactly when the
    // recognised expression is.
    static std::string shape(std::string_view rest);
};
