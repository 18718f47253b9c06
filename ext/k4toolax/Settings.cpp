// Reading settings from the registry store; the meaning of locations, bases
// and paths is documented in k4toolax.h.
#include "ext/k4toolax/k4toolax.h"

#include "platform/win/Registry.h"

#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr std::u16string_view kProductKey = u"SOFTWARE\\Norvale\\ZEB\\4.1";

struct Root {
    HKEY hive;
    std::u16string_view prefix; // key below the hive, may be empty
};

// Roots of a location in search order; empty for an unknown location.
std::vector<Root> rootsOf(DWORD location) {
    switch (location) {
    case 1:
        return {{HKEY_CURRENT_USER, {}}};
    case 2:
        return {{HKEY_LOCAL_MACHINE, {}}};
    case 3:
        return {{HKEY_CURRENT_USER, {}}, {HKEY_LOCAL_MACHINE, {}}};
    case 16:
        return {{HKEY_CURRENT_USER, kProductKey}};
    case 17:
        return {{HKEY_LOCAL_MACHINE, kProductKey}};
    case 18:
        return {{HKEY_CURRENT_USER, kProductKey}, {HKEY_LOCAL_MACHINE, kProductKey}};
    default:
        return {};
    }
}

std::optional<std::u16string_view> baseKeyOf(DWORD base) {
    switch (base) {
    case 0:
        return std::u16string_view{};
    case 1:
        return std::u16string_view{u"Trace"};
    default:
        return std::nullopt;
    }
}

void appendKey(std::u16string& key, std::u16string_view part) {
    if (part.empty()) return;
    if (!key.empty()) key += u'\\';
    key += part;
}

// Raw data and type of one value, or a Win32 error.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

LONG queryValue(HKEY hive, const std::u16string& key, const std::u16string& name, RawValue& out) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &h);
    if (rc != ERROR_SUCCESS) return rc;
    // The store may change between the size query and the read; ask again
    // a few times rather than trusting a stale size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD cb = 0;
        rc = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &cb);
        if (rc != ERROR_SUCCESS) break;
        out.data.assign(cb, 0);
        rc = RegQueryValueExW(h, name.c_str(), nullptr, &type, out.data.data(), &cb);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_SUCCESS) {
            out.type = type;
            out.data.resize(cb);
        }
        break;
    }
    RegCloseKey(h);
    return rc;
}

// Looks the path up at every root of its location in turn; a root that
// lacks the key or the value passes the question on to the next.
LONG readRaw(const k4tl::SettingPath& path, RawValue& out) {
    const std::vector<Root> roots = rootsOf(path.location());
    const std::optional<std::u16string_view> base = baseKeyOf(path.base());
    const std::u16string& text = path.path();
    if (roots.empty() || !base || text.empty()) return ERROR_INVALID_PARAMETER;

    const size_t cut = text.rfind(u'\\');
    const std::u16string name = cut == std::u16string::npos ? text : text.substr(cut + 1);
    const std::u16string_view keyPart = cut == std::u16string::npos
                                            ? std::u16string_view{}
                                            : std::u16string_view(text).substr(0, cut);

    LONG rc = ERROR_FILE_NOT_FOUND;
    for (const Root& root : roots) {
        std::u16string key;
        appendKey(key, root.prefix);
        appendKey(key, *base);
        appendKey(key, keyPart);
        rc = queryValue(root.hive, key, name, out);
        if (rc != ERROR_FILE_NOT_FOUND && rc != ERROR_PATH_NOT_FOUND) return rc;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG readString(const k4tl::SettingPath& path, std::u16string& out) {
    RawValue raw;
    LONG rc = readRaw(path, raw);
    if (rc != ERROR_SUCCESS) return rc;
    if (raw.type != REG_SZ && raw.type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::u16string text(raw.data.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(raw.data[2 * i] | (raw.data[2 * i + 1] << 8));
    // The stored size counts the terminating zero; a text ends at its first zero.
    const size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    out = std::move(text);
    return ERROR_SUCCESS;
}

LONG readValue(const k4tl::SettingPath& path, DWORD& out) {
    RawValue raw;
    LONG rc = readRaw(path, raw);
    if (rc != ERROR_SUCCESS) return rc;
    if (raw.type != REG_DWORD || raw.data.size() != sizeof(DWORD)) return ERROR_INVALID_DATA;
    out = static_cast<DWORD>(raw.data[0]) | static_cast<DWORD>(raw.data[1]) << 8 |
          static_cast<DWORD>(raw.data[2]) << 16 | static_cast<DWORD>(raw.data[3]) << 24;
    return ERROR_SUCCESS;
}

} // namespace

namespace k4tl {

LONG SettingGetString(const SettingPath& path, std::u16string& out) {
    try {
        return readString(path, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_CANTREAD;
    }
}

LONG SettingGetValue(const SettingPath& path, DWORD& out) {
    try {
        return readValue(path, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_CANTREAD;
    }
}

} // namespace k4tl

extern "C" LONG K4TL_SettingGetValue(DWORD location, DWORD base, const char16_t* key,
                                     DWORD* value) {
    if (!key || !value) return ERROR_INVALID_PARAMETER;
    try {
        return readValue(k4tl::SettingPath(location, base, key), *value);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_CANTREAD;
    }
}

extern "C" LONG K4TL_GetConfiguration(char16_t* buffer, DWORD capacity) {
    if (!buffer || capacity == 0) return ERROR_INVALID_PARAMETER;
    buffer[0] = u'\0';
    try {
        std::u16string name;
        LONG rc = readString(k4tl::SettingPath(18, 0, u"Configuration"), name);
        if (rc != ERROR_SUCCESS) return rc;
        if (name.size() >= capacity) return ERROR_MORE_DATA;
        name.copy(buffer, name.size());
        buffer[name.size()] = u'\0';
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_CANTREAD;
    }
}
