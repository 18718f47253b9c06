// Settings read through the settings module (ext/k4toolax/k4toolax.h, which
// documents where each location looks in the registry store).
//
// A system location is mapped to the module's location value:
//
//   system location   0  1  2  10  11  12  any other
//   module location   1  2  3  16  17  18  0 (every read fails)
//
// Location 1, the usual one, is the machine's settings; location 2 is the
// user's settings with the machine's as default. The base value is always 0,
// so a path is a full key path below the location's root, with the value
// name as its last component: u"SOFTWARE\\Norvale\\ZEB\\4.1\\ProductDir".
//
// Nothing is cached here; every call reads the store. Safe from any thread.
#pragma once

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

class CCoSettings {
public:
    virtual ~CCoSettings() = default;

    // Reads a text setting. On success (result 0) `text` is the setting, an
    // empty text when the setting has none; on failure `text` is unchanged.
    // Returns the settings module's result (a Win32 error number).
    static LONG getString(int location, std::u16string_view path, std::u16string& text);

    // Reads a 32-bit setting; as getString, `value` changes only on success.
    static LONG getValue(int location, std::u16string_view path, DWORD& value);

    // The settings module's location value for a system location.
    static DWORD libraryLocation(int location);
};
