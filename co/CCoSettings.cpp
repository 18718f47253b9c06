#include "co/CCoSettings.h"

#include "ext/k4toolax/k4toolax.h"

#include <new>

DWORD CCoSettings::libraryLocation(int location) {
    switch (location) {
    case 0:
        return 1;
    case 1:
        return 2;
    case 2:
        return 3;
    case 10:
        return 16;
    case 11:
        return 17;
    case 12:
        return 18;
    default:
        return 0;
    }
}

LONG CCoSettings::getString(int location, std::u16string_view path, std::u16string& text) {
    try {
        k4tl::SettingPath settingPath(libraryLocation(location), 0, std::u16string(path));
        std::u16string read;
        LONG rc = k4tl::SettingGetString(settingPath, read);
        if (rc == 0) text = std::move(read);
        return rc;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG CCoSettings::getValue(int location, std::u16string_view path, DWORD& value) {
    try {
        k4tl::SettingPath settingPath(libraryLocation(location), 0, std::u16string(path));
        DWORD read = 0;
        LONG rc = k4tl::SettingGetValue(settingPath, read);
        if (rc == 0) value = read;
        return rc;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
