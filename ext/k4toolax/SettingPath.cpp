#include "ext/k4toolax/SettingPath.h"

#include <utility>

namespace k4tl {

SettingPath::SettingPath(DWORD location, DWORD base, std::u16string path)
    : m_dwLocation(location), m_dwBase(base), m_path(std::move(path)) {}

} // namespace k4tl
