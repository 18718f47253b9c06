#include "platform/com/Bstr.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SysAllocString, RecordsTheByteLengthAndTerminates) {
    BSTR s = SysAllocString(u"Motor");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringByteLen(s), 10u);
    EXPECT_EQ(s[5], u'\0');
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    SysFreeString(s);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(SysAllocString, LengthFormsKeepEmbeddedZerosAndZeroMissingContent) {
    BSTR embedded = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(embedded[2], u'b');
    SysFreeString(embedded);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(blank[i], 0) << i;
    SysFreeString(blank);

    // An odd byte length is kept exactly; scanning for the terminator by
    // whole units stays inside the allocation (ASan checks).
    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(std::memcmp(odd, "abc", 4), 0);
    size_t units = 0;
    while (odd[units])
        ++units;
    EXPECT_EQ(units, 2u);
    SysFreeString(odd);
}

TEST(SysAllocString, LengthsBeyondThe32BitPrefixFail) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(SysReAllocString, MayReuseItsOwnContent) {
    BSTR s = SysAllocString(u"Motor");
    ASSERT_TRUE(SysReAllocString(&s, s + 2));
    EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), u"tor");

    // Without a source the old content stays as far as it reaches.
    ASSERT_TRUE(SysReAllocStringLen(&s, nullptr, 5));
    EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), std::u16string_view(u"tor\0\0", 5));

    ASSERT_TRUE(SysReAllocString(&s, nullptr));
    EXPECT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 0u);
    SysFreeString(s);

    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(BstrOwner, ConvertsUtf8BothWays) {
    zeb::Bstr s("Größe");
    EXPECT_EQ(s.view(), u"Größe");
    EXPECT_EQ(s.Length(), 5u);
    EXPECT_EQ(s.toUtf8(), "Größe");
    EXPECT_TRUE(zeb::Bstr().empty());
    EXPECT_EQ(zeb::Bstr().toUtf8(), "");
}

TEST(BstrOwner, CopiesDeeplyAndTransfersOnMove) {
    zeb::Bstr a(u"Axis");
    zeb::Bstr b = a;
    EXPECT_NE(a.m_str, b.m_str);
    EXPECT_EQ(a, b);

    zeb::Bstr c = std::move(a);
    EXPECT_EQ(a.m_str, nullptr);
    EXPECT_EQ(c.view(), u"Axis");

    BSTR raw = c.Detach();
    EXPECT_EQ(c.m_str, nullptr);
    zeb::Bstr d;
    d.Attach(raw);
    EXPECT_EQ(d.view(), u"Axis");

    zeb::Bstr copy;
    EXPECT_EQ(d.CopyTo(&copy), S_OK); // as an out-parameter
    EXPECT_NE(copy.m_str, d.m_str);
    EXPECT_EQ(copy, d);
    EXPECT_EQ(d.CopyTo(nullptr), E_POINTER);
}

} // namespace
