// The hardened libxml2 parser that every document we read goes through:
// no network, no DTD loading, entity declarations and references to
// undeclared entities refused, libxml2's size and depth limits left on
// (nesting deeper than 256 elements fails), errors never printed.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <string_view>

namespace zeb::xml {

struct ParseFailure {
    std::string reason; // one line, in English
    int line = 0;
    int column = 0;
    bool noMemory = false; // memory ran out: the text itself may be sound
};

// Parses `bytes`. `encoding` overrides the document's own declaration (null:
// detect it). `url` is the document's base (may be null). Returns the tree,
// or null with `failure` filled in.
xmlDocPtr parseHardened(std::string_view bytes, const char* encoding, const char* url,
                        bool keepBlanks, ParseFailure& failure);

// Reads a local file and parses it as above. URLs other than file:// are
// refused without any access.
xmlDocPtr parseLocalFile(const std::string& path, bool keepBlanks, ParseFailure& failure);

// Silences libxml2's and libxslt's process-wide error output and sets up the
// XSLT loader and security preferences; idempotent, thread-safe.
void initialise();

} // namespace zeb::xml
