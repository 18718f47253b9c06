// The address of one setting of the settings module (see k4toolax.h for what
// location, base and path mean).
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

#define K4TL_API __attribute__((visibility("default")))

namespace k4tl {

// A setting's address: location value, base value and wide path.
class K4TL_API SettingPath {
public:
    SettingPath(DWORD location, DWORD base, std::u16string path);

    DWORD location() const { return m_dwLocation; }
    DWORD base() const { return m_dwBase; }
    const std::u16string& path() const { return m_path; }

private:
    DWORD m_dwLocation;
    DWORD m_dwBase;
    std::u16string m_path;
};

} // namespace k4tl
