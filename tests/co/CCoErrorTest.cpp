// Texts of result codes.
#include "co/CCoError.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string textOf(uint32_t hr) {
    return CCoError(static_cast<HRESULT>(hr)).errorText();
}
} // namespace

TEST(ErrorText, SystemTextsComeWithoutTheirLineBreak) {
    EXPECT_EQ(textOf(S_OK), "The operation completed successfully.");
    EXPECT_EQ(textOf(E_FAIL), "Unspecified error");
    EXPECT_EQ(textOf(E_INVALIDARG), "The parameter is incorrect.");
    EXPECT_EQ(textOf(REGDB_E_CLASSNOTREG), "Class not registered");
    EXPECT_EQ(textOf(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
    EXPECT_EQ(textOf(HRESULT_FROM_WIN32(ERROR_BADKEY)),
              "The configuration registry key is invalid.");
    EXPECT_EQ(textOf(0x80030002), "%1 could not be found."); // inserts stay
}

TEST(ErrorText, CodesWithoutTextGetTheDispatchOrUnknownFallback) {
    EXPECT_EQ(textOf(0x80040201), "IDispatch error #1");
    EXPECT_EQ(textOf(0x80040200), "IDispatch error #0");
    EXPECT_EQ(textOf(0x8004FFFF), "IDispatch error #65023");
    EXPECT_EQ(textOf(0x800401FF), "Unknown error 0x800401FF");
    EXPECT_EQ(textOf(0x8007FFFF), "Unknown error 0x8007FFFF");
    EXPECT_EQ(textOf(0x1234ABC), "Unknown error 0x1234ABC");
}

TEST(ErrorText, EachObjectOwnsItsText) {
    CCoError original(E_FAIL);
    CCoError copy(original);
    CCoError assigned(E_POINTER);
    assigned = original;
    EXPECT_NE(copy.errorText(), original.errorText());
    EXPECT_STREQ(copy.errorText(), "Unspecified error");
    EXPECT_STREQ(assigned.errorText(), "Unspecified error");
    EXPECT_EQ(assigned.hr(), E_FAIL);
}
