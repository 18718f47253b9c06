// The registry store: the Windows registry as a text file in the `.reg`
// export format ("Windows Registry Editor Version 5.00").
//
// Where: $ZEB_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg.
// The path is looked up again on every open, so a process (or a test) can
// point the store elsewhere by changing the variable.
//
// Reads see the file as it is now. Every write takes an advisory lock on the
// file, reads it again, applies the change, writes a temporary file beside it
// and renames that over the old one: a crash never leaves a half-written
// registry, and two processes writing at once lose no key. A missing file
// reads as empty; a corrupt one is reported (trace-free: through
// zeb::RegistryStore::lastProblem()) and also reads as empty, and a read never
// rewrites it.
//
// Keys are case-insensitive, as on Windows. Root keys: HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS.
#pragma once

#include "platform/win/WinTypes.h"

#include <optional>
#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_USERS;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Windows-named functions, with the Windows semantics (results are Win32
// error numbers: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...).
// A null value name, or an empty one, names the key's default value ("@").
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     REGSAM sam, void* security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD cbData);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);  // fails with ERROR_ACCESS_DENIED if it has subkeys
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey); // the key and everything below
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                   LPWSTR cls, LPDWORD cchClass, void* lastWriteTime);

namespace zeb {

// The same store with a plain C++ face, for hosts, tools and tests. Paths
// are full key paths with backslashes, starting with the root key name:
// "HKEY_CLASSES_ROOT\\CLSID\\{...}\\InprocServer32". An empty value name
// is the default value.
class RegistryStore {
public:
    static std::string path(); // the file the store uses now

    static std::optional<std::u16string> readString(const std::string& key, const std::string& name);
    static std::optional<DWORD> readDword(const std::string& key, const std::string& name);
    static bool keyExists(const std::string& key);
    static std::vector<std::string> subKeys(const std::string& key);

    // Each write is one locked read-modify-write of the file; false on failure.
    static bool writeString(const std::string& key, const std::string& name, std::u16string_view value);
    static bool writeDword(const std::string& key, const std::string& name, DWORD value);
    static bool createKey(const std::string& key);
    static bool deleteValue(const std::string& key, const std::string& name);
    static bool deleteTree(const std::string& key);

    // Text describing the last problem met while reading the file in this
    // thread (a parse error with its line, an unreadable file), "" if none.
    static std::string lastProblem();
};

} // namespace zeb
