#include "is/isVersionedName.h"

namespace {

bool isWordChar(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

bool isVersionedName(std::string_view name) noexcept {
    size_t i = 0;
    if (name.empty() || !(isWordChar(name[0]) && !(name[0] >= '0' && name[0] <= '9'))) return false;
    while (i < name.size() && isWordChar(name[i]))
        ++i;
    bool group = false;
    while (i < name.size()) {
        if (name[i] != '.') return false;
        size_t digits = ++i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9')
            ++i;
        if (i == digits) return false;
        group = true;
    }
    return group;
}
