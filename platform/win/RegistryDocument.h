// The registry store's contents in memory, and the `.reg` text it is kept as.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Norvale]
//   @="default value"
//   "Text"="C:\\dir with \"quotes\""
//   "Count"=dword:0000001e
//   "Blob"=hex:01,02,ff
//   "Path"=hex(2):25,00,41,00,00,00
//   "List"=hex(7):61,00,00,00,00,00
//   "Big"=hex(b):01,00,00,00,00,00,00,00
//
// parse() accepts UTF-8 (with or without BOM) and UTF-16LE with BOM, LF or
// CRLF line ends, ';' comment lines, hex lists continued over lines with a
// trailing '\', and ignores deletion entries ("[-KEY]", "name"=-). Anything
// else is refused with the line it was met on: invalid UTF-8, a wrong header,
// an unknown root key, an empty key name, a value outside a key, a malformed
// value. A refused text is never half-read: parse() either yields the whole
// document or nothing.
//
// format() writes UTF-8 without BOM and LF line ends, keys in a stable order
// (component by component, without regard to case) with every ancestor key
// listed, values ordered by name. Every value survives a round trip bit for
// bit: strings that the quoted form cannot carry (no terminating zero,
// embedded zeros or line breaks, lone surrogates, odd length) are written as
// hex(1), a REG_DWORD of other than 4 bytes as hex(4), every other type as
// its hex(N) form, as the registry editor does.
//
// Names: key paths start with the root's full name ("HKEY_CLASSES_ROOT\\x");
// keys and value names compare without regard to case (ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters fold) and keep the case they
// were first written with. The empty value name is the default value ("@").
// A key component is 1..255 characters without '\\' or control characters;
// a value name has no line breaks.
//
// Key identities: a key the store creates gets a number that is written as a
// comment line under its key line ("; key id 0123456789abcdef"). A key that
// is deleted and created again under the same path gets a new one, so an
// open handle can tell the key it was opened on from its successor, in this
// process or another. Keys without such a line (written by hand or by a
// writer that keeps no identities) have identity 0. Other readers of the
// format take the line for the comment it is.
//
// Thread safety: a const document may be read from many threads at once.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

class RegistryDocument {
public:
    struct Value {
        std::string name;       // as first written; "" for the default value
        DWORD type = 0;         // REG_SZ, REG_DWORD, ...
        std::vector<BYTE> data; // the Windows binary form (strings: UTF-16LE)
    };

    // Reads a whole `.reg` text. On failure returns false, leaves `out`
    // untouched and sets `problem` to "line N: what was wrong".
    static bool parse(std::string_view bytes, RegistryDocument& out, std::string& problem);
    std::string format() const;

    // A checked, canonical key path: root in upper case, components kept;
    // "" when the path is not acceptable.
    static std::string normalizeKeyPath(std::string_view path);
    static bool validValueName(std::string_view name);

    // Every key path must be normalized (normalizeKeyPath). Root keys always exist.
    bool hasKey(std::string_view path) const;
    std::string displayPath(std::string_view path) const; // the stored spelling, "" if absent
    // Creates the key and its missing ancestors; true if anything was new. Each
    // new key gets its identity from newId (0, none, when newId is null).
    bool createKey(std::string_view path, uint64_t (*newId)() = nullptr);
    uint64_t keyId(std::string_view path) const; // 0: none recorded, or no such key
    bool deleteTree(std::string_view path);      // key and everything below; false if absent
    bool clearTree(std::string_view path);       // everything below and the key's values
    bool hasSubKeys(std::string_view path) const;
    std::vector<std::string> subKeys(std::string_view path) const; // child names, in order

    const Value* findValue(std::string_view key, std::string_view name) const;
    std::vector<Value> values(std::string_view key) const; // in format order
    // REQUIRES: hasKey(key) and validValueName(name). Returns whether anything changed.
    bool setValue(std::string_view key, std::string_view name, DWORD type, std::vector<BYTE> data);
    bool deleteValue(std::string_view key, std::string_view name); // false if absent

    size_t keyCount() const { return m_keys.size(); }
    bool operator==(const RegistryDocument& other) const;

    // Case folding used for keys and value names (UTF-8 in, UTF-8 out).
    static std::string fold(std::string_view text);

private:
    struct Key {
        std::string path;                    // as first written
        uint64_t id = 0;                     // identity, 0 when none is recorded
        std::map<std::string, Value> values; // by folded name
    };
    // Orders folded paths component by component: '\\' sorts before any character.
    struct PathLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    Key* findKey(std::string_view path);
    const Key* findKey(std::string_view path) const;

    std::map<std::string, Key, PathLess> m_keys; // by folded path; roots only when they hold values
};

} // namespace zeb
