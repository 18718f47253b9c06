#include "is/xml/CIsXmlQueryText.h"

#include <cstdio>

namespace {

// A run of the stored text: outside literals, inside a closed literal, or
// inside a literal left open at the end.
enum class Where { Outside, Literal, OpenLiteral };

// One piece of a segment: stored text, or the text of parameter `param`.
struct Piece {
    std::string stored;
    size_t param = 0; // 0: stored text
};

struct Segment {
    Where where = Where::Outside;
    char quote = 0;
    std::vector<Piece> pieces;
};

std::vector<Segment> split(std::string_view xpath) {
    std::vector<Segment> segments;
    size_t i = 0;
    while (i < xpath.size()) {
        const char c = xpath[i];
        if (c == '"' || c == '\'') {
            const size_t close = xpath.find(c, i + 1);
            Segment s;
            s.quote = c;
            if (close == std::string_view::npos) {
                s.where = Where::OpenLiteral;
                s.pieces.push_back({std::string(xpath.substr(i + 1)), 0});
                i = xpath.size();
            } else {
                s.where = Where::Literal;
                s.pieces.push_back({std::string(xpath.substr(i + 1, close - i - 1)), 0});
                i = close + 1;
            }
            segments.push_back(std::move(s));
            continue;
        }
        size_t next = xpath.find_first_of("\"'", i);
        if (next == std::string_view::npos) next = xpath.size();
        Segment s;
        s.pieces.push_back({std::string(xpath.substr(i, next - i)), 0});
        segments.push_back(std::move(s));
        i = next;
    }
    return segments;
}

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isNcName(std::string_view s) {
    if (s.empty() || !isNameStart(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s)
        if (!isNameChar(static_cast<unsigned char>(c))) return false;
    return true;
}

// One XPath token that adds no syntax: a number ("-"? Digits ("." Digits?)?
// or "-"? "." Digits) or a QName.
bool isPlainToken(std::string_view s) {
    const size_t colon = s.find(':');
    if (colon != std::string_view::npos)
        return isNcName(s.substr(0, colon)) && isNcName(s.substr(colon + 1));
    if (isNcName(s)) return true;
    std::string_view n = s;
    if (!n.empty() && n[0] == '-') n.remove_prefix(1);
    size_t digits = 0, dots = 0;
    for (char c : n) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++dots;
        else
            return false;
    }
    return digits > 0 && dots <= 1;
}

} // namespace

std::string CIsXmlQueryText::paramName(size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "%%param%zu%%", n);
    return name;
}

bool CIsXmlQueryText::fillTypeId(std::string& xpath, std::string_view typeIdText) {
    static constexpr std::string_view kName = "%estypeid";
    bool any = false;
    for (size_t at = xpath.find(kName); at != std::string::npos;
         at = xpath.find(kName, at + typeIdText.size())) {
        xpath.replace(at, kName.size(), typeIdText);
        any = true;
    }
    return any;
}

std::string CIsXmlQueryText::literal(std::string_view text) {
    if (text.find('"') == std::string_view::npos) return "\"" + std::string(text) + "\"";
    if (text.find('\'') == std::string_view::npos) return "'" + std::string(text) + "'";
    // Both kinds: runs without '"' in double quotes, the '"' themselves in
    // single quotes.
    std::string out = "concat(";
    bool first = true;
    size_t i = 0;
    while (i < text.size()) {
        const bool quotes = text[i] == '"';
        size_t end = i;
        while (end < text.size() && (text[end] == '"') == quotes)
            ++end;
        if (!first) out += ", ";
        first = false;
        const char q = quotes ? '\'' : '"';
        out += q;
        out.append(text.substr(i, end - i));
        out += q;
        i = end;
    }
    return out + ")";
}

CIsXmlQueryText::Result CIsXmlQueryText::fillParams(std::string_view xpath,
                                                    const std::vector<std::string>& params) {
    Result result;
    std::vector<Segment> segments = split(xpath);
    for (size_t n = 1; n <= params.size(); ++n) {
        const std::string name = paramName(n);
        bool found = false;
        for (Segment& segment : segments) {
            std::vector<Piece> pieces;
            for (Piece& piece : segment.pieces) {
                if (piece.param != 0) {
                    pieces.push_back(std::move(piece));
                    continue;
                }
                size_t from = 0;
                for (size_t at = piece.stored.find(name); at != std::string::npos;
                     at = piece.stored.find(name, from)) {
                    if (at > from) pieces.push_back({piece.stored.substr(from, at - from), 0});
                    pieces.push_back({{}, n});
                    from = at + name.size();
                    found = true;
                }
                if (from < piece.stored.size()) pieces.push_back({piece.stored.substr(from), 0});
            }
            segment.pieces = std::move(pieces);
        }
        if (!found) {
            result.code = kParamMissing;
            result.param = n;
            return result;
        }
    }

    std::string& out = result.text;
    for (const Segment& segment : segments) {
        std::string content;
        for (const Piece& piece : segment.pieces) {
            if (piece.param == 0) {
                content += piece.stored;
                continue;
            }
            const std::string& value = params[piece.param - 1];
            const bool unsafe = segment.where == Where::Outside
                                    ? !isPlainToken(value)
                                    : segment.where == Where::OpenLiteral &&
                                          value.find_first_of("\"'") != std::string::npos;
            if (unsafe) {
                result.code = kUnsafeParam;
                result.param = piece.param;
                result.text.clear();
                return result;
            }
            content += value;
        }
        switch (segment.where) {
        case Where::Outside:
            out += content;
            break;
        case Where::OpenLiteral:
            out += segment.quote;
            out += content;
            break;
        case Where::Literal:
            if (content.find(segment.quote) == std::string::npos)
                out += segment.quote + content + segment.quote;
            else
                out += literal(content);
            break;
        }
    }
    if (out.find("%param") != std::string::npos) result.code = kParamLeft;
    return result;
}
