// The registry store: the Windows registry as a text file in the `.reg`
// export format ("Windows Registry Editor Version 5.00").
//
// Where: $ZEB_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg.
// The path is looked up again on every open, so a process (or a test) can
// point the store elsewhere by changing the variable.
//
// Reads see the file as it is now (a parsed reading is reused only while the
// file is provably unchanged). Every write takes an advisory lock on the
// file, reads it again, applies the change, writes a temporary file beside it
// and renames that over the old one: a crash never leaves a half-written
// registry, and two processes writing at once lose no key. A path that is a
// symbolic link (or a chain of them) is written through: the file at its end
// is locked and replaced, and the link stays. The temporary has no name until
// it is complete where the file system allows; the temporaries of writers
// killed mid-write are removed by the next write ("<file>.tmp-XXXXXX"). A missing file
// reads as empty; a corrupt one is reported (trace-free: through
// zeb::RegistryStore::lastProblem()) and also reads as empty, and a read never
// rewrites it. A write to a corrupt or unreadable file is refused and the file
// kept byte for byte: the Reg* functions return ERROR_BADDB (corrupt) or
// ERROR_CANTREAD (unreadable), the RegistryStore writes return false. The
// file format is described in RegistryDocument.h.
//
// Keys are case-insensitive, as on Windows. Root keys: HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS.
#pragma once

#include "platform/win/RegistryDocument.h"
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
// A key path or value name holding an unpaired UTF-16 surrogate is refused
// with ERROR_INVALID_PARAMETER: the file keeps names as UTF-8, where such a
// name could not be told from others. String data is not a name: it is kept
// unit for unit, unpaired surrogates included.
//
// Handles: an opened key is a heap object holding the key's full path; the
// predefined keys are sentinels that need no closing. Every handle is checked
// (ERROR_INVALID_HANDLE for a closed or made-up one). A handle whose key was
// deleted meanwhile gives ERROR_KEY_DELETED and is never re-created by a
// write through it, also when a key of the same path was created again since,
// in this process or another: keys carry an identity in the file (see
// RegistryDocument.h). A key last written without one (by hand, or by a
// writer that keeps none) cannot be told apart and counts as the same. The access asked for at open
// is enforced as on Windows: queries need KEY_QUERY_VALUE, RegSetValueExW/RegDeleteValueW need
// KEY_SET_VALUE, RegEnumKeyExW needs KEY_ENUMERATE_SUB_KEYS, creating a new
// subkey needs KEY_CREATE_SUB_KEY on the parent (KEY_READ / KEY_WRITE /
// KEY_ALL_ACCESS include what their names say); else ERROR_ACCESS_DENIED.
//
// Buffers (RegQueryValueExW): a null `data` asks for the size only; a buffer
// too small gives ERROR_MORE_DATA with the needed size in *cbData. Strings
// are stored as given: a REG_SZ written with its terminating zero (the
// Windows convention) reads back with it, and its size counts it.
//
//   HKEY key;
//   if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Norvale", 0, KEY_READ, &key) ==
//   ERROR_SUCCESS) {
//       DWORD value = 0, size = sizeof value, type = 0;
//       RegQueryValueExW(key, u"SaveAsync", nullptr, &type, reinterpret_cast<BYTE*>(&value),
//       &size); RegCloseKey(key);
//   }
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
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey); // the key and everything below; null
                                               // subKey: all below and the key's values
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                   LPWSTR cls, LPDWORD cchClass, void* lastWriteTime);

namespace zeb {

// The same store with a plain C++ face, for hosts, tools and tests. Paths
// are full key paths with backslashes, starting with the root key name:
// "HKEY_CLASSES_ROOT\\CLSID\\{...}\\InprocServer32" (HKCR, HKCU, HKLM, HKU
// are accepted too). Names are UTF-8; one that is not names nothing (reads
// find nothing, writes fail). An empty value name is the default value.
class RegistryStore {
public:
    static std::string path(); // the file the store uses now, "" if there is none

    // readString answers REG_SZ and REG_EXPAND_SZ (without the terminating
    // zero), readDword a 4-byte REG_DWORD; any other type reads as absent.
    static std::optional<std::u16string> readString(const std::string& key,
                                                    const std::string& name);
    static std::optional<DWORD> readDword(const std::string& key, const std::string& name);
    static std::optional<RegistryDocument::Value> readValue(const std::string& key,
                                                            const std::string& name);
    static std::vector<RegistryDocument::Value> values(const std::string& key); // ordered by name
    static bool keyExists(const std::string& key);
    static std::vector<std::string> subKeys(const std::string& key); // ordered, stored spelling

    // Each write is one locked read-modify-write of the file; false on
    // failure (lastProblem() says why). The value writes create the key (and
    // its ancestors) when missing. deleteValue and deleteTree succeed when
    // the value or key is gone afterwards, whether or not it existed.
    static bool writeString(const std::string& key, const std::string& name,
                            std::u16string_view value);
    static bool writeDword(const std::string& key, const std::string& name, DWORD value);
    static bool writeValue(const std::string& key, const std::string& name, DWORD type,
                           std::vector<BYTE> data);
    static bool createKey(const std::string& key);
    static bool deleteValue(const std::string& key, const std::string& name);
    static bool deleteTree(const std::string& key);

    // Text describing the last problem met while reading or writing the file
    // in this thread (a parse error with its line, an unreadable file, a
    // refused or failed write), "" if the last operation met none.
    static std::string lastProblem();
};

} // namespace zeb
