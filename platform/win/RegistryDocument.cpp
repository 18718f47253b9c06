#include "platform/win/RegistryDocument.h"

#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"

#include <algorithm>
#include <cstdio>

namespace zeb {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr size_t kMaxKeyComponent = 255;
constexpr size_t kMaxValueName = 16383;

struct RootName {
    std::string_view full;
    std::string_view shortName;
};
constexpr RootName kRoots[] = {{"HKEY_CLASSES_ROOT", "HKCR"},
                               {"HKEY_CURRENT_USER", "HKCU"},
                               {"HKEY_LOCAL_MACHINE", "HKLM"},
                               {"HKEY_USERS", "HKU"}};

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

char16_t foldUnit(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    if (c == 0x130 || c == 0x131) return c; // dotted/dotless i are no case pair
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c | 1); // even upper, odd lower
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? static_cast<char16_t>(c + 1) : c; // odd upper, even lower
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    return c;
}

// Offset of the first byte that is not well-formed UTF-8 (or a NUL), npos if none.
size_t invalidUtf8At(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b == 0) return i;
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        char32_t cp = 0, min = 0;
        if ((b & 0xE0) == 0xC0)
            extra = 1, cp = b & 0x1F, min = 0x80;
        else if ((b & 0xF0) == 0xE0)
            extra = 2, cp = b & 0x0F, min = 0x800;
        else if ((b & 0xF8) == 0xF0)
            extra = 3, cp = b & 0x07, min = 0x10000;
        else
            return i;
        if (i + extra >= s.size()) return i;
        for (size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
        i += extra + 1;
    }
    return std::string_view::npos;
}

bool wellFormedUtf16(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::u16string unitsOf(const std::vector<BYTE>& data) {
    std::u16string s(data.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return s;
}

std::vector<BYTE> bytesOf(std::u16string_view s) {
    std::vector<BYTE> data;
    data.reserve(s.size() * 2 + 2);
    for (char16_t c : s) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    return data;
}

// The text of a REG_SZ that the quoted form carries exactly, or false.
bool quotableString(const std::vector<BYTE>& data, std::string& text) {
    if (data.size() < 2 || data.size() % 2) return false;
    std::u16string units = unitsOf(data);
    if (units.back() != 0) return false;
    units.pop_back();
    if (units.find_first_of(std::u16string_view(u"\0\r\n", 3)) != std::u16string::npos)
        return false;
    if (!wellFormedUtf16(units)) return false;
    text = toNarrow(units);
    return true;
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

void appendHex(std::string& out, size_t lineStart, const std::vector<BYTE>& data) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
        if (i + 1 == data.size()) break;
        out += ',';
        if (out.size() - lineStart > 76) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
    }
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}
std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}
std::string_view trim(std::string_view s) {
    return trimRight(trimLeft(s));
}

// Reads a quoted string at the start of s (escapes \\ and \"); advances s.
bool readQuoted(std::string_view& s, std::string& out, std::string& error) {
    if (s.empty() || s.front() != '"') {
        error = "expected '\"'";
        return false;
    }
    out.clear();
    for (size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                error = "unknown escape in a quoted string (only \\\\ and \\\" exist)";
                return false;
            }
            ++i;
        }
        out += s[i];
    }
    error = "unterminated quoted string";
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool readHexNumber(std::string_view s, size_t maxDigits, uint32_t& value) {
    if (s.empty() || s.size() > maxDigits) return false;
    value = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0) return false;
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

bool readHexList(std::string_view s, std::vector<BYTE>& data) {
    data.clear();
    s = trim(s);
    while (!s.empty()) {
        const size_t comma = s.find(',');
        const std::string_view item = trim(s.substr(0, comma));
        uint32_t byte = 0;
        if (!readHexNumber(item, 2, byte)) return false;
        data.push_back(static_cast<BYTE>(byte));
        if (comma == std::string_view::npos) break;
        s = trimLeft(s.substr(comma + 1));
    }
    return true;
}

// A key's identity comment, "; key id " and 1 to 16 hexadecimal digits
// (spaces and tabs free around the words). Any other comment is just one.
bool readKeyIdComment(std::string_view line, uint64_t& id) {
    line = trimLeft(line.substr(1)); // after ';'
    if (line.substr(0, 3) != "key") return false;
    line = line.substr(3);
    if (line.empty() || (line.front() != ' ' && line.front() != '\t')) return false;
    line = trimLeft(line);
    if (line.substr(0, 2) != "id") return false;
    line = line.substr(2);
    if (line.empty() || (line.front() != ' ' && line.front() != '\t')) return false;
    line = trim(line);
    if (line.empty() || line.size() > 16) return false;
    id = 0;
    for (char c : line) {
        const int d = hexDigit(c);
        if (d < 0) return false;
        id = id << 4 | static_cast<uint64_t>(d);
    }
    return true;
}

std::string lineProblem(size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Decodes a UTF-16LE text (after its BOM) to UTF-8; false at the first
// ill-formed unit, with its line.
bool decodeUtf16(std::string_view bytes, std::string& text, std::string& problem) {
    if (bytes.size() % 2) {
        problem = "line 1: UTF-16 text of odd length";
        return false;
    }
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    size_t line = 1;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c == u'\n') ++line;
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF) ||
            (high && (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF))) {
            problem = lineProblem(line, "ill-formed UTF-16 text");
            return false;
        }
        if (high) ++i;
    }
    text = toNarrow(units);
    return true;
}

} // namespace

bool RegistryDocument::PathLess::operator()(std::string_view a, std::string_view b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int x = a[i] == '\\' ? 0 : static_cast<unsigned char>(a[i]) + 1;
        const int y = b[i] == '\\' ? 0 : static_cast<unsigned char>(b[i]) + 1;
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string RegistryDocument::fold(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string out(text);
        for (char& c : out)
            c = asciiLower(c);
        return out;
    }
    std::u16string wide = toWide(text);
    for (char16_t& c : wide)
        c = foldUnit(c);
    return toNarrow(wide);
}

std::string RegistryDocument::normalizeKeyPath(std::string_view path) {
    if (invalidUtf8At(path) != std::string_view::npos) return {};
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    const size_t firstEnd = path.find('\\');
    const std::string_view root = path.substr(0, firstEnd);
    auto it = std::find_if(std::begin(kRoots), std::end(kRoots), [&](const RootName& r) {
        return equalsNoCase(root, r.full) || equalsNoCase(root, r.shortName);
    });
    if (it == std::end(kRoots)) return {};
    std::string out(it->full);
    if (firstEnd == std::string_view::npos) return out;
    std::string_view rest = path.substr(firstEnd + 1);
    for (;;) {
        const size_t end = rest.find('\\');
        const std::string_view part = rest.substr(0, end);
        if (part.empty() || toWide(part).size() > kMaxKeyComponent) return {};
        if (std::any_of(part.begin(), part.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            return {};
        out += '\\';
        out += part;
        if (end == std::string_view::npos) return out;
        rest = rest.substr(end + 1);
    }
}

bool RegistryDocument::validValueName(std::string_view name) {
    return invalidUtf8At(name) == std::string_view::npos &&
           name.find_first_of("\r\n") == std::string_view::npos &&
           name.size() <= kMaxValueName * 3 && toWide(name).size() <= kMaxValueName;
}

RegistryDocument::Key* RegistryDocument::findKey(std::string_view path) {
    auto it = m_keys.find(fold(path));
    return it == m_keys.end() ? nullptr : &it->second;
}

const RegistryDocument::Key* RegistryDocument::findKey(std::string_view path) const {
    auto it = m_keys.find(fold(path));
    return it == m_keys.end() ? nullptr : &it->second;
}

namespace {
bool isRootPath(std::string_view path) {
    return path.find('\\') == std::string_view::npos;
}
} // namespace

bool RegistryDocument::hasKey(std::string_view path) const {
    return isRootPath(path) || findKey(path) != nullptr;
}

std::string RegistryDocument::displayPath(std::string_view path) const {
    if (isRootPath(path)) return std::string(path);
    const Key* key = findKey(path);
    return key ? key->path : std::string();
}

bool RegistryDocument::createKey(std::string_view path, uint64_t (*newId)()) {
    // A new key is spelled as its parent is stored, plus its own name as given.
    bool created = false;
    size_t pos = path.find('\\');
    std::string display(path.substr(0, pos));
    while (pos != std::string_view::npos) {
        const size_t next = path.find('\\', pos + 1);
        std::string folded = fold(path.substr(0, next));
        auto it = m_keys.find(folded);
        if (it == m_keys.end()) {
            display += '\\';
            display += path.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1);
            m_keys.emplace(std::move(folded), Key{display, newId ? newId() : 0, {}});
            created = true;
        } else {
            display = it->second.path;
        }
        pos = next;
    }
    return created;
}

uint64_t RegistryDocument::keyId(std::string_view path) const {
    const Key* key = findKey(path);
    return key ? key->id : 0;
}

bool RegistryDocument::clearTree(std::string_view path) {
    const std::string folded = fold(path);
    const std::string prefix = folded + '\\';
    auto first = m_keys.lower_bound(prefix);
    auto last = first;
    while (last != m_keys.end() && last->first.compare(0, prefix.size(), prefix) == 0)
        ++last;
    bool changed = first != last;
    m_keys.erase(first, last);
    if (auto it = m_keys.find(folded); it != m_keys.end() && !it->second.values.empty()) {
        it->second.values.clear();
        changed = true;
    }
    return changed;
}

bool RegistryDocument::deleteTree(std::string_view path) {
    if (isRootPath(path)) return clearTree(path);
    auto it = m_keys.find(fold(path));
    if (it == m_keys.end()) return false;
    clearTree(path);
    m_keys.erase(it);
    return true;
}

bool RegistryDocument::hasSubKeys(std::string_view path) const {
    const std::string prefix = fold(path) + '\\';
    auto it = m_keys.lower_bound(prefix);
    return it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> RegistryDocument::subKeys(std::string_view path) const {
    std::vector<std::string> names;
    const std::string prefix = fold(path) + '\\';
    for (auto it = m_keys.lower_bound(prefix);
         it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
        const std::string& display = it->second.path;
        names.push_back(display.substr(display.rfind('\\') + 1));
    }
    return names;
}

const RegistryDocument::Value* RegistryDocument::findValue(std::string_view key,
                                                           std::string_view name) const {
    const Key* k = findKey(key);
    if (!k) return nullptr;
    auto it = k->values.find(fold(name));
    return it == k->values.end() ? nullptr : &it->second;
}

std::vector<RegistryDocument::Value> RegistryDocument::values(std::string_view key) const {
    std::vector<Value> out;
    if (const Key* k = findKey(key))
        for (const auto& [folded, value] : k->values)
            out.push_back(value);
    return out;
}

bool RegistryDocument::setValue(std::string_view key, std::string_view name, DWORD type,
                                std::vector<BYTE> data) {
    Key* k = findKey(key);
    if (!k) {
        if (!isRootPath(key)) return false;
        k = &m_keys.emplace(fold(key), Key{std::string(key), 0, {}}).first->second;
    }
    auto [it, inserted] = k->values.try_emplace(fold(name));
    Value& v = it->second;
    if (!inserted && v.type == type && v.data == data) return false;
    if (inserted) v.name = std::string(name);
    v.type = type;
    v.data = std::move(data);
    return true;
}

bool RegistryDocument::deleteValue(std::string_view key, std::string_view name) {
    Key* k = findKey(key);
    return k && k->values.erase(fold(name)) != 0;
}

bool RegistryDocument::operator==(const RegistryDocument& other) const {
    if (m_keys.size() != other.m_keys.size()) return false;
    return std::equal(
        m_keys.begin(), m_keys.end(), other.m_keys.begin(), [](const auto& a, const auto& b) {
            if (a.first != b.first || a.second.path != b.second.path || a.second.id != b.second.id)
                return false;
            return std::equal(a.second.values.begin(), a.second.values.end(),
                              b.second.values.begin(), b.second.values.end(),
                              [](const auto& x, const auto& y) {
                                  return x.first == y.first && x.second.name == y.second.name &&
                                         x.second.type == y.second.type &&
                                         x.second.data == y.second.data;
                              });
        });
}

std::string RegistryDocument::format() const {
    std::string out(kHeader);
    out += '\n';
    for (const auto& [folded, key] : m_keys) {
        if (isRootPath(key.path) && key.values.empty()) continue;
        out += "\n[";
        out += key.path;
        out += "]\n";
        if (key.id != 0) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "; key id %016llx\n",
                          static_cast<unsigned long long>(key.id));
            out += buf;
        }
        for (const auto& [foldedName, value] : key.values) {
            const size_t lineStart = out.size();
            if (value.name.empty())
                out += '@';
            else
                appendQuoted(out, value.name);
            out += '=';
            std::string text;
            if (value.type == REG_SZ && quotableString(value.data, text)) {
                appendQuoted(out, text);
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                char buf[16];
                const uint32_t v = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                   static_cast<uint32_t>(value.data[3]) << 24;
                std::snprintf(buf, sizeof buf, "dword:%08x", v);
                out += buf;
            } else {
                if (value.type == REG_BINARY) {
                    out += "hex:";
                } else {
                    char buf[24];
                    std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
                    out += buf;
                }
                appendHex(out, lineStart, value.data);
            }
            out += '\n';
        }
    }
    return out;
}

bool RegistryDocument::parse(std::string_view bytes, RegistryDocument& result,
                             std::string& problem) {
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        if (!decodeUtf16(bytes.substr(2), decoded, problem)) return false;
        text = decoded;
    } else if (bytes.substr(0, 2) == "\xFE\xFF") {
        problem = "line 1: UTF-16 big-endian text is not supported";
        return false;
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    if (const size_t bad = invalidUtf8At(text); bad != std::string_view::npos) {
        problem =
            lineProblem(1 + std::count(text.begin(), text.begin() + bad, '\n'), "not UTF-8 text");
        return false;
    }

    std::vector<std::string_view> lines;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(trimRight(text.substr(start, end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    RegistryDocument doc;
    if (std::all_of(lines.begin(), lines.end(),
                    [](std::string_view l) { return trim(l).empty(); })) {
        result = std::move(doc); // an empty file is an empty registry
        return true;
    }
    if (lines[0] != kHeader) {
        problem = lineProblem(1, "expected \"" + std::string(kHeader) + "\"");
        return false;
    }

    std::string currentKey; // "" before the first key and inside a deleted key
    bool skipping = false;  // inside a "[-KEY]" section
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t lineNo = i + 1;
        std::string_view line = trimLeft(lines[i]);
        if (line.empty()) continue;
        if (line.front() == ';') {
            // Roots are never deleted, so they need no identity (and would
            // lose it: an empty root is not written).
            uint64_t id = 0;
            if (!currentKey.empty() && !isRootPath(currentKey) && readKeyIdComment(line, id))
                doc.findKey(currentKey)->id = id;
            continue;
        }
        auto fail = [&](const std::string& what) {
            problem = lineProblem(lineNo, what);
            return false;
        };

        if (line.front() == '[') {
            if (line.back() != ']') return fail("a key line must end with ']'");
            std::string_view inner = line.substr(1, line.size() - 2);
            if (!inner.empty() && inner.front() == '-') {
                skipping = true;
                currentKey.clear();
                continue;
            }
            std::string path = normalizeKeyPath(inner);
            if (path.empty()) return fail("bad key name \"" + std::string(inner) + "\"");
            doc.createKey(path);
            currentKey = std::move(path);
            skipping = false;
            continue;
        }

        if (line.front() != '"' && line.front() != '@')
            return fail("expected a key line \"[...]\" or a value line");
        std::string name;
        std::string error;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!readQuoted(line, name, error)) {
            return fail(error);
        }
        if (!validValueName(name)) return fail("bad value name");
        line = trimLeft(line);
        if (line.empty() || line.front() != '=') return fail("expected '=' after the value name");
        line = trimLeft(line.substr(1));

        DWORD type = REG_SZ;
        std::vector<BYTE> data;
        bool deletion = false;
        if (!line.empty() && line.front() == '"') {
            std::string value;
            if (!readQuoted(line, value, error)) return fail(error);
            if (!trim(line).empty()) return fail("unexpected text after the string");
            data = bytesOf(toWide(value));
            data.push_back(0);
            data.push_back(0);
        } else if (line == "-") {
            deletion = true;
        } else if (line.substr(0, 6) == "dword:") {
            uint32_t v = 0;
            if (!readHexNumber(trim(line.substr(6)), 8, v))
                return fail("a dword needs 1 to 8 hexadecimal digits");
            type = REG_DWORD;
            data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                    static_cast<BYTE>(v >> 24)};
        } else if (line.substr(0, 3) == "hex") {
            std::string_view rest = line.substr(3);
            type = REG_BINARY;
            if (!rest.empty() && rest.front() == '(') {
                const size_t close = rest.find(')');
                uint32_t t = 0;
                if (close == std::string_view::npos ||
                    !readHexNumber(rest.substr(1, close - 1), 8, t))
                    return fail("bad type in hex(...)");
                type = t;
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':') return fail("expected ':' after hex");
            std::string list(rest.substr(1));
            while (!list.empty() && list.back() == '\\') {
                list.pop_back();
                if (++i >= lines.size()) return fail("hex list continued past the end");
                list += trim(lines[i]);
            }
            if (!readHexList(list, data)) return fail("bad hex byte list");
        } else {
            return fail("unknown value form");
        }
        if (skipping || deletion) continue;
        if (currentKey.empty()) return fail("value outside a key");
        doc.setValue(currentKey, name, type, std::move(data));
    }
    result = std::move(doc);
    return true;
}

} // namespace zeb
