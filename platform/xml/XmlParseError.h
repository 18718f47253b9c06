// XmlParseError: why the last load of a document failed (IXMLDOMParseError).
// errorCode is 0 after a successful load and E_FAIL (0x80004005) after a
// failure; reason is one English line ("entity declarations are not
// allowed", libxml2's message for malformed text ...). Positions are
// 1-based; filepos and srcText are not tracked (0 and "").
#pragma once

#include "platform/com/ComObject.h"
#include "platform/xml/XmlDispatch.h"
#include "platform/xml/XmlDomInterfaces.h"

#include <string>

namespace zeb {

class XmlParseError final
    : public SingleThreadComObject<
          XmlParseError, Chain<XmlDispatch<IXMLDOMParseError>, IXMLDOMParseError, IDispatch>> {
public:
    XmlParseError(LONG code, std::u16string reason, std::u16string url, LONG line,
                  LONG linepos) noexcept
        : m_code(code), m_reason(std::move(reason)), m_url(std::move(url)), m_line(line),
          m_linepos(linepos) {}
    static constexpr bool aggregatable = false;

    HRESULT get_errorCode(LONG* errorCode) override;
    HRESULT get_url(BSTR* urlString) override;
    HRESULT get_reason(BSTR* reasonString) override;
    HRESULT get_srcText(BSTR* sourceString) override;
    HRESULT get_line(LONG* lineNumber) override;
    HRESULT get_linepos(LONG* linePosition) override;
    HRESULT get_filepos(LONG* filePosition) override;

private:
    LONG m_code;
    std::u16string m_reason;
    std::u16string m_url;
    LONG m_line;
    LONG m_linepos;
};

} // namespace zeb
