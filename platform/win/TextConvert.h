// The one pair of conversions between narrow text (UTF-8, the "system code
// page" here) and wide text (UTF-16). Invalid input never fails: an
// ill-formed sequence becomes U+FFFD, so a conversion always yields text.
#pragma once

#include <string>
#include <string_view>

namespace zeb {

std::u16string toWide(std::string_view utf8);
std::string toNarrow(std::u16string_view utf16);

// Length of a zero-terminated wide string (null counts as empty).
size_t wideLength(const char16_t* s);

} // namespace zeb
