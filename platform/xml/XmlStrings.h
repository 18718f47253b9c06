// Text conversions between the DOM's BSTRs and libxml2's UTF-8 strings.
#pragma once

#include "platform/com/Bstr.h"
#include "platform/win/TextConvert.h"

#include <libxml/xmlstring.h>

#include <string>
#include <string_view>

namespace zeb::xml {

// A new BSTR with the UTF-8 text `s` (toWide's conversion; null pointer
// reads as ""); null when out of memory.
BSTR toBstr(std::string_view s);
inline BSTR toBstr(const xmlChar* s) {
    return toBstr(std::string_view(s ? reinterpret_cast<const char*>(s) : ""));
}

// *out = new BSTR; E_POINTER/E_OUTOFMEMORY as usual.
inline HRESULT putBstr(std::string_view s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = toBstr(s);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// UTF-8 of a caller's string (toNarrowExact's conversion); false for an
// unpaired surrogate, which libxml2 would store as text no parser reads
// back (`out` is then unchanged).
bool toUtf8(std::u16string_view s, std::string& out);
inline bool toUtf8(BSTR s, std::string& out) {
    return toUtf8(std::u16string_view(s ? s : u"", SysStringLen(s)), out);
}

// As toUtf8 for text that becomes content (text or attribute values): false
// also for a character XML 1.0 does not allow (controls other than tab, line
// feed and carriage return, U+FFFE, U+FFFF). Stored unchecked, such text
// would serialise into a document that no parser loads again.
inline bool toXmlText(BSTR s, std::string& out) {
    for (const OLECHAR c : std::u16string_view(s ? s : u"", SysStringLen(s)))
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF)
            return false;
    return toUtf8(s, out);
}

inline const xmlChar* xc(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}

// Takes a libxml2-allocated string and frees it.
std::string takeXmlString(xmlChar* s);

bool isXmlSpace(char c);

} // namespace zeb::xml
