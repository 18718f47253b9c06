// Whether this test program runs under AddressSanitizer or ThreadSanitizer,
// which make it ten to thirty times slower: long tests scale themselves
// down there, and the release build makes the full run.
#pragma once

namespace zeb::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

} // namespace zeb::test
