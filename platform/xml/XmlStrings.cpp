#include "platform/xml/XmlStrings.h"

#include <cstdint>
#include <cstring>

namespace zeb::xml {

namespace {

// Length of the leading run of ASCII bytes (below 0x80) in `s`, eight bytes
// at a time where it can.
size_t asciiRun(std::string_view s) {
    size_t i = 0;
    for (uint64_t word = 0; i + 8 <= s.size(); i += 8) {
        std::memcpy(&word, s.data() + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
        ++i;
    return i;
}

// Length of the leading run of ASCII units (below 0x80) in `s`.
size_t asciiRun(std::u16string_view s) {
    size_t i = 0;
    for (uint64_t word = 0; i + 4 <= s.size(); i += 4) {
        std::memcpy(&word, s.data() + i, 8);
        if (word & 0xFF80FF80FF80FF80ull) break;
    }
    while (i < s.size() && s[i] < 0x80)
        ++i;
    return i;
}

} // namespace

// Document text is nearly all ASCII, which converts unit for unit; only the
// runs of other characters go through the conversion functions. An ASCII
// unit is never part of a multi-byte sequence or of a surrogate pair, so
// converting run by run gives exactly what converting the whole text gives.

BSTR toBstr(std::string_view s) {
    if (asciiRun(s) == s.size()) {
        BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
        if (!out) return nullptr;
        for (size_t i = 0; i < s.size(); ++i)
            out[i] = static_cast<unsigned char>(s[i]);
        return out;
    }
    std::u16string wide;
    wide.reserve(s.size());
    while (!s.empty()) {
        const size_t ascii = asciiRun(s);
        for (size_t i = 0; i < ascii; ++i)
            wide.push_back(static_cast<unsigned char>(s[i]));
        s.remove_prefix(ascii);
        size_t other = 0;
        while (other < s.size() && static_cast<unsigned char>(s[other]) >= 0x80)
            ++other;
        wide += toWide(s.substr(0, other));
        s.remove_prefix(other);
    }
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool toUtf8(std::u16string_view s, std::string& out) {
    std::string text;
    text.reserve(s.size());
    while (!s.empty()) {
        const size_t ascii = asciiRun(s);
        const size_t at = text.size();
        text.resize(at + ascii);
        for (size_t i = 0; i < ascii; ++i)
            text[at + i] = static_cast<char>(s[i]);
        s.remove_prefix(ascii);
        size_t other = 0;
        while (other < s.size() && s[other] >= 0x80)
            ++other;
        std::string part;
        if (!toNarrowExact(s.substr(0, other), part)) return false;
        text += part;
        s.remove_prefix(other);
    }
    out = std::move(text);
    return true;
}

} // namespace zeb::xml
