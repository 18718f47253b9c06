// The one pair of conversions between narrow text (UTF-8, the "system code
// page" here) and wide text (UTF-16). Invalid input never fails: an
// ill-formed sequence becomes U+FFFD, so a conversion always yields text.
#pragma once

#include <string>
#include <string_view>

namespace zeb {

std::u16string toWide(std::string_view utf8);
std::string toNarrow(std::u16string_view utf16);

// The checked form, for names that must stay distinct (registry key and value
// names): false, with `out` untouched, when the text holds an unpaired
// surrogate, which toNarrow would turn into U+FFFD like any other.
bool toNarrowExact(std::u16string_view utf16, std::string& out);

// Length of a zero-terminated wide string (null counts as empty).
size_t wideLength(const char16_t* s);

} // namespace zeb
