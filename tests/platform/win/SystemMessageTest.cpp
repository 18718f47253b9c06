// The system message table behind FormatMessage (texts: tests/co/CCoErrorTest).
#include "platform/win/SystemMessage.h"
#include "platform/win/Module.h"

#include <gtest/gtest.h>

#include <string>

namespace {
constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
} // namespace

TEST(SystemMessage, TextsEndInCarriageReturnLineFeedInEitherWidth) {
    char* text = nullptr;
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | kSystem, nullptr, E_FAIL,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPSTR>(&text), 0, nullptr),
              19u);
    EXPECT_STREQ(text, "Unspecified error\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
    char16_t wide[20];
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, E_ACCESSDENIED, 0, wide, 20, nullptr), 19u);
    EXPECT_EQ(std::u16string(wide), u"Access is denied.\r\n");
}

TEST(SystemMessage, FailuresReturnZeroAndSayWhy) {
    char buffer[256];
    auto failure = [&](DWORD flags, DWORD id, DWORD language, DWORD size) {
        SetLastError(0);
        EXPECT_EQ(FormatMessageA(flags, nullptr, id, language, buffer, size, nullptr), 0u);
        return GetLastError();
    };
    EXPECT_EQ(failure(kSystem, 0x80040201, 0, 256), DWORD(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(failure(kSystem, E_FAIL, MAKELANGID(0x07, SUBLANG_DEFAULT), 256),
              DWORD(ERROR_RESOURCE_LANG_NOT_FOUND));
    EXPECT_EQ(failure(kSystem, E_FAIL, 0, 19), DWORD(ERROR_INSUFFICIENT_BUFFER)); // no room for 0
    // "%1 could not be found.": inserts are not filled from this table.
    EXPECT_EQ(failure(FORMAT_MESSAGE_FROM_SYSTEM, 0x80030002, 0, 256),
              DWORD(ERROR_INVALID_PARAMETER));
}
