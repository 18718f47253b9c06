#include "platform/com/Guid.h"

#include "platform/com/Activation.h"
#include "platform/com/TaskAllocator.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>

namespace zeb {

namespace {

constexpr size_t kGuidTextLength = 38; // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at text[pos]; false on any other character.
template <class Char> bool readHex(const Char* text, size_t pos, int digits, uint32_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const Char c = text[pos + i];
        // Anything outside 7-bit ASCII is no digit; checked before narrowing.
        if (static_cast<uint32_t>(c) > 0x7F) return false;
        const int v = hexValue(static_cast<char16_t>(c));
        if (v < 0) return false;
        value = (value << 4) | uint32_t(v);
    }
    return true;
}

// Strict registry form. `text` holds exactly kGuidTextLength characters.
template <class Char> bool parseGuid(const Char* text, GUID& out) {
    if (text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
        text[24] != '-')
        return false;
    GUID g{};
    uint32_t v = 0;
    if (!readHex(text, 1, 8, v)) return false;
    g.Data1 = v;
    if (!readHex(text, 10, 4, v)) return false;
    g.Data2 = uint16_t(v);
    if (!readHex(text, 15, 4, v)) return false;
    g.Data3 = uint16_t(v);
    for (int i = 0; i < 2; ++i) {
        if (!readHex(text, 20 + 2 * i, 2, v)) return false;
        g.Data4[i] = uint8_t(v);
    }
    for (int i = 0; i < 6; ++i) {
        if (!readHex(text, 25 + 2 * i, 2, v)) return false;
        g.Data4[2 + i] = uint8_t(v);
    }
    out = g;
    return true;
}

template <class Char> void formatGuid(const GUID& g, Char* out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    size_t pos = 0;
    auto put = [&](uint32_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            out[pos++] = Char(kDigits[(value >> (4 * i)) & 0xF]);
    };
    out[pos++] = Char('{');
    put(g.Data1, 8);
    out[pos++] = Char('-');
    put(g.Data2, 4);
    out[pos++] = Char('-');
    put(g.Data3, 4);
    out[pos++] = Char('-');
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out[pos++] = Char('-');
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    out[pos++] = Char('}');
    out[pos] = Char(0);
}

size_t boundedLength(LPCOLESTR text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n])
        ++n;
    return n;
}

} // namespace

std::string guidToString(const GUID& g) {
    char buffer[kGuidTextLength + 1];
    formatGuid(g, buffer);
    return std::string(buffer, kGuidTextLength);
}

bool guidFromString(std::string_view text, GUID& out) {
    return text.size() == kGuidTextLength && parseGuid(text.data(), out);
}

} // namespace zeb

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    if (!text) return E_INVALIDARG;
    *text = nullptr;
    auto* buffer =
        static_cast<LPOLESTR>(CoTaskMemAlloc((zeb::kGuidTextLength + 1) * sizeof(OLECHAR)));
    if (!buffer) return E_OUTOFMEMORY;
    zeb::formatGuid(clsid, buffer);
    *text = buffer;
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
    if (!buffer || cchMax < int(zeb::kGuidTextLength + 1)) return 0;
    zeb::formatGuid(guid, buffer);
    return int(zeb::kGuidTextLength + 1);
}

// A null text is GUID_NULL, as on Windows. Text that is not a GUID and does
// not start with a brace is looked up as a ProgID.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    if (!text) return S_OK;
    const size_t length = zeb::boundedLength(text, zeb::kGuidTextLength + 1);
    if (length == zeb::kGuidTextLength && zeb::parseGuid(text, *clsid)) return S_OK;
    if (text[0] == u'{' || text[0] == 0) return CO_E_CLASSSTRING;
    CLSID found{};
    if (FAILED(CLSIDFromProgID(text, &found))) return CO_E_CLASSSTRING;
    *clsid = found;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (!iid) return E_INVALIDARG;
    *iid = GUID_NULL;
    if (!text) return S_OK;
    const size_t length = zeb::boundedLength(text, zeb::kGuidTextLength + 1);
    if (length == zeb::kGuidTextLength && zeb::parseGuid(text, *iid)) return S_OK;
    return CO_E_CLASSSTRING;
}

// A random (version 4, RFC 4122 variant) GUID from the kernel's generator.
HRESULT CoCreateGuid(GUID* guid) {
    if (!guid) return E_INVALIDARG;
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof(bytes)) {
        const ssize_t n = getrandom(bytes + filled, sizeof(bytes) - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return E_FAIL;
        }
        filled += size_t(n);
    }
    GUID g{};
    std::memcpy(&g.Data1, bytes, 4);
    std::memcpy(&g.Data2, bytes + 4, 2);
    std::memcpy(&g.Data3, bytes + 6, 2);
    std::memcpy(g.Data4, bytes + 8, 8);
    g.Data3 = uint16_t((g.Data3 & 0x0FFF) | 0x4000);
    g.Data4[0] = uint8_t((g.Data4[0] & 0x3F) | 0x80);
    *guid = g;
    return S_OK;
}
