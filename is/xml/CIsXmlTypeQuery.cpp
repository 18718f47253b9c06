#include "is/xml/CIsXmlTypeQuery.h"

#include "platform/win/TextConvert.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool done() const { return m_at == m_text.size(); }
    char peek(size_t ahead = 0) const {
        return m_at + ahead < m_text.size() ? m_text[m_at + ahead] : '\0';
    }
    bool take(std::string_view s) {
        if (m_text.substr(m_at, s.size()) != s) return false;
        m_at += s.size();
        return true;
    }
    void skipSpace() {
        while (!done() && isSpace(m_text[m_at]))
            ++m_at;
    }
    size_t at() const { return m_at; }

    // A string literal; its text in `content`.
    bool literal(std::string* content) {
        const char q = peek();
        if (q != '"' && q != '\'') return false;
        const size_t close = m_text.find(q, m_at + 1);
        if (close == std::string_view::npos) return false;
        if (content) content->assign(m_text.substr(m_at + 1, close - m_at - 1));
        m_at = close + 1;
        return true;
    }

    bool ncName(std::string* name = nullptr) {
        if (!isNameStart(static_cast<unsigned char>(peek()))) return false;
        const size_t start = m_at;
        while (!done() && isNameChar(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
        if (name) name->assign(m_text.substr(start, m_at - start));
        return true;
    }

    // "[" ... "]" with literals skipped and brackets and parentheses nested.
    bool predicate() {
        if (!take("[")) return false;
        int depth = 1;
        while (!done()) {
            const char c = peek();
            if (c == '"' || c == '\'') {
                if (!literal(nullptr)) return false;
                continue;
            }
            ++m_at;
            if (c == '[' || c == '(') ++depth;
            if (c == ']' || c == ')') {
                if (--depth == 0) return c == ']';
            }
        }
        return false;
    }

    // One location step after its "/" or "//".
    bool step() {
        if (take("..") || take(".")) return true;
        if (!take("@")) {
            // An axis name is a name followed by "::".
            const size_t start = m_at;
            std::string name;
            if (ncName(&name) && take("::")) {
            } else {
                m_at = start;
            }
        }
        if (!nodeTest()) return false;
        while (peek() == '[')
            if (!predicate()) return false;
        return true;
    }

    bool nodeTest() {
        if (take("*")) return true;
        std::string name;
        if (!ncName(&name)) return false;
        if (peek() == ':' && peek(1) != ':') {
            ++m_at;
            if (take("*")) return true;
            return ncName();
        }
        if (peek() != '(') return true;
        if (name != "node" && name != "text" && name != "comment" &&
            name != "processing-instruction")
            return false; // a function call
        ++m_at;
        if (name == "processing-instruction" && (peek() == '"' || peek() == '\''))
            if (!literal(nullptr)) return false;
        return take(")");
    }

private:
    std::string_view m_text;
    size_t m_at = 0;
};

// True when plain XPath takes `text` as the content of a literal: well-formed
// UTF-8 of XML characters only. libxml2 refuses anything else, so such a
// query must fail as plain XPath, not be looked up.
bool isLiteralText(std::string_view text) {
    const std::u16string wide = zeb::toWide(text);
    if (zeb::toNarrow(wide) != text) return false; // ill-formed bytes became U+FFFD
    for (const char16_t c : wide)
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF)
            return false;
    return true;
}

} // namespace

bool CIsXmlTypeQuery::parse(std::string_view xpath, std::string& typeId, std::string& rest) {
    Reader r(xpath);
    if (!r.take(".//*[") && !r.take("//*[")) return false;
    if (!r.take("ESType/@ESID")) return false;
    r.skipSpace();
    if (!r.take("=")) return false;
    r.skipSpace();
    std::string id;
    if (!r.literal(&id) || !isLiteralText(id)) return false;
    if (!r.take("]")) return false;
    const size_t restStart = r.at();
    while (!r.done()) {
        if (!r.take("//") && !r.take("/")) return false;
        if (!r.step()) return false;
    }
    typeId = std::move(id);
    rest.assign(xpath.substr(restStart));
    return true;
}

std::string CIsXmlTypeQuery::shape(std::string_view rest) {
    return ".//*[ESType/@ESID=\"\"]" + std::string(rest);
}
