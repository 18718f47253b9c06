#include "platform/com/ComError.h"

#include <cstdio>

namespace zeb {

namespace {

std::string describe(HRESULT hr, const std::string& what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return what + " failed (" + code + ")";
}

} // namespace

ComError::ComError(HRESULT hr, const std::string& what)
    : std::runtime_error(describe(hr, what)), m_hr(hr) {}

} // namespace zeb
