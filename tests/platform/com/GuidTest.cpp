#include "platform/com/Guid.h"
#include "platform/com/TaskAllocator.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr GUID kSample = makeGuid("F7A48574-8ec8-4221-875F-18CD2F64F516");

TEST(GuidText, RegistryFormIsUpperCaseAndRoundTripsInEveryFunction) {
    EXPECT_EQ(zeb::guidToString(kSample), "{F7A48574-8EC8-4221-875F-18CD2F64F516}");
    GUID parsed{};
    ASSERT_TRUE(zeb::guidFromString("{f7a48574-8ec8-4221-875f-18cd2f64f516}", parsed));
    EXPECT_EQ(parsed, kSample);

    zeb::TaskMem<OLECHAR> text;
    ASSERT_EQ(StringFromCLSID(kSample, zeb::outPtr(text)), S_OK);
    EXPECT_EQ(std::u16string(text.get()), u"{F7A48574-8EC8-4221-875F-18CD2F64F516}");
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(text.get(), &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);

    OLECHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), std::u16string(text.get()));
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0); // no room for the terminator
}

TEST(GuidText, MalformedTextIsRejectedWithClassString) {
    zeb::test::TempDir dir; // ProgID fallbacks read an empty registry
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    const std::u16string bad[] = {
        u"",
        u"{}",
        u"F7A48574-8EC8-4221-875F-18CD2F64F516",        // no braces
        u"{F7A48574-8EC8-4221-875F-18CD2F64F516",       // no closing brace
        u"{F7A48574-8EC8-4221-875F-18CD2F64F516}x",     // trailing text
        u"{F7A48574-8EC8-4221-875F-18CD2F64F51G}",      // not a digit
        u"{F7A485748-EC8-4221-875F-18CD2F64F516}",      // hyphen misplaced
        u"{F7A48574-8EC8-4221-875F-18CD2F64F51\uFF16}", // a digit, but not ASCII
        u"{+7A48574-8EC8-4221-875F-18CD2F64F516}",
        u"Not.A.Registered.ProgId",
    };
    for (const auto& text : bad) {
        GUID g = kSample;
        EXPECT_EQ(CLSIDFromString(text.c_str(), &g), CO_E_CLASSSTRING);
        EXPECT_EQ(g, GUID_NULL);
        EXPECT_EQ(IIDFromString(text.c_str(), &g), CO_E_CLASSSTRING);
        EXPECT_FALSE(zeb::guidFromString(std::string(text.begin(), text.end()), g));
    }
    std::string withZero = "{F7A48574-8EC8-4221-875F-18CD2F64F516}";
    withZero[5] = '\0';
    GUID g{};
    EXPECT_FALSE(zeb::guidFromString(withZero, g));
    EXPECT_EQ(CLSIDFromString(nullptr, &g), S_OK); // null text is GUID_NULL, as on Windows
    EXPECT_EQ(g, GUID_NULL);
    EXPECT_EQ(CLSIDFromString(u"{F7A48574-8EC8-4221-875F-18CD2F64F516}", nullptr), E_INVALIDARG);
}

TEST(GuidCreation, CreatedGuidsAreDistinctRandomVersion4) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        GUID g{};
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        seen.insert(zeb::guidToString(g));
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

} // namespace
