#include "host/zebinst/Output.h"

#include "h/ResultCodes.h"

#include <cstdio>

namespace zebinst {

std::string resultText(DWORD ret) {
    const char* what = nullptr;
    switch (ret) {
    case PRET_NOT_INSTALLED:
        what = "not installed";
        break;
    case PRET_NO_SUCH_NAME:
        // The lookups by name and the name rule of installing share the word.
        what = "no such name, or a duplicate name or one without version";
        break;
    case PRET_INVALID_ID:
        what = "not found, or an invalid identifier"; // one word for both
        break;
    case PRET_SAVE_FAILED:
        what = "not saved";
        break;
    case PRET_NO_NAME:
        what = "the identifier has no name";
        break;
    case PRET_BAD_CLASS:
        // One word for both: an attribute name the type refuses, a class
        // outside the accepted set.
        what = "invalid attribute name (BI_... or PBI_...) or class";
        break;
    case PRET_PROGRAM_TYPE:
        what = "a program type cannot be removed";
        break;
    case PRET_FAILURE:
        what = "failure";
        break;
    default:
        switch (ret & 0xFFFFu) {
        case IS_NAME_RULE:
            what = "name rule: duplicate name or name without version";
            break;
        case IS_ALREADY_PRESENT:
            what = "already present";
            break;
        case IS_NOT_FOUND:
            what = "not found";
            break;
        case IS_NO_INTERFACE:
            what = "interface missing or object in use";
            break;
        case IS_TYPE_ID:
            what = "type identifier absent, present or conflicting";
            break;
        case IS_NOT_CREATED:
            what = "object not created (is its class registered?)";
            break;
        case IS_WRONG_CLASS:
            what = "wrong type class";
            break;
        default:
            what = "refused";
            break;
        }
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", unsigned(ret));
    return std::string(code) + " (" + what + ")";
}

int statusOfResult(DWORD ret) {
    if (ret == PRET_NOT_INSTALLED || ret == (PRET_BASE | IS_NOT_FOUND)) return kExitNotFound;
    return kExitFailure;
}

void JsonWriter::separate() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back()) m_text += ',';
        m_first.back() = false;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    m_text += '{';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    m_text += '}';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    m_text += '[';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    m_text += ']';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    value(name);
    m_text += ':';
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    m_text += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            m_text += "\\\"";
            break;
        case '\\':
            m_text += "\\\\";
            break;
        case '\n':
            m_text += "\\n";
            break;
        case '\r':
            m_text += "\\r";
            break;
        case '\t':
            m_text += "\\t";
            break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(c));
                m_text += esc;
            } else {
                m_text += char(c);
            }
        }
    }
    m_text += '"';
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
    separate();
    m_text += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    m_text += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    m_text += "null";
    return *this;
}

void printJson(const JsonWriter& json) {
    std::fputs(json.text().c_str(), stdout);
    std::fputc('\n', stdout);
}

} // namespace zebinst
