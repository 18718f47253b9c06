#include "platform/xml/XmlParseError.h"

namespace zeb {

namespace {

HRESULT copyString(const std::u16string& s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT copyLong(LONG v, LONG* out) {
    if (!out) return E_POINTER;
    *out = v;
    return S_OK;
}

} // namespace

HRESULT XmlParseError::get_errorCode(LONG* errorCode) {
    return copyLong(m_code, errorCode);
}
HRESULT XmlParseError::get_url(BSTR* urlString) {
    return copyString(m_url, urlString);
}
HRESULT XmlParseError::get_reason(BSTR* reasonString) {
    return copyString(m_reason, reasonString);
}
HRESULT XmlParseError::get_srcText(BSTR* sourceString) {
    return copyString(u"", sourceString);
}
HRESULT XmlParseError::get_line(LONG* lineNumber) {
    return copyLong(m_line, lineNumber);
}
HRESULT XmlParseError::get_linepos(LONG* linePosition) {
    return copyLong(m_linepos, linePosition);
}
HRESULT XmlParseError::get_filepos(LONG* filePosition) {
    return copyLong(0, filePosition);
}

} // namespace zeb
