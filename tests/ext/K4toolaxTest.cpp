// The settings module: locations, bases and paths over the registry store,
// and its flat entry points as a run-time loader sees them.
#include "ext/k4toolax/k4toolax.h"
#include "platform/win/Module.h"
#include "platform/win/TextConvert.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using k4tl::SettingGetString;
using k4tl::SettingGetValue;
using k4tl::SettingPath;
using zeb::test::ScopedEnv;
using zeb::test::TempDir;

namespace {

class K4toolax : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"ZEB_REGISTRY", dir.file("registry.reg")};

    void registry(const std::string& body) {
        zeb::test::writeFile(dir.file("registry.reg"),
                             "Windows Registry Editor Version 5.00\r\n\r\n" + body);
    }
    // "text" on success, "error <code>" otherwise.
    static std::u16string text(DWORD location, DWORD base, std::u16string path) {
        std::u16string out = u"unchanged";
        LONG rc = SettingGetString(SettingPath(location, base, std::move(path)), out);
        return rc == ERROR_SUCCESS ? out : u"error " + zeb::toWide(std::to_string(rc)) + u" " + out;
    }
};

} // namespace

TEST_F(K4toolax, LocationsSelectHivesAndTheProductKey) {
    registry(R"([HKEY_CURRENT_USER\k]
"both"="user"
[HKEY_LOCAL_MACHINE\k]
"both"="machine"
"machineOnly"="machine"
[HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1\k]
"both"="user product"
[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\k]
"both"="machine product"
"machineOnly"="machine product"
)");
    EXPECT_EQ(text(1, 0, u"k\\both"), u"user");
    EXPECT_EQ(text(2, 0, u"k\\both"), u"machine");
    EXPECT_EQ(text(3, 0, u"k\\both"), u"user");
    EXPECT_EQ(text(3, 0, u"k\\machineOnly"), u"machine");
    EXPECT_EQ(text(1, 0, u"k\\machineOnly"), u"error 2 unchanged");
    EXPECT_EQ(text(16, 0, u"k\\both"), u"user product");
    EXPECT_EQ(text(17, 0, u"k\\both"), u"machine product");
    EXPECT_EQ(text(18, 0, u"k\\both"), u"user product");
    EXPECT_EQ(text(18, 0, u"k\\machineOnly"), u"machine product");
    EXPECT_EQ(text(2, 0, u"SOFTWARE\\Norvale\\ZEB\\4.1\\k\\both"), u"machine product");
    for (DWORD invalid : {0u, 4u, 15u, 19u})
        EXPECT_EQ(text(invalid, 0, u"k\\both"), u"error 87 unchanged") << invalid;
    EXPECT_EQ(text(2, 2, u"k\\both"), u"error 87 unchanged");
    EXPECT_EQ(text(2, 0, u""), u"error 87 unchanged");
}

TEST_F(K4toolax, PathsNameAValueOfTheKeyBeforeTheLastSeparator) {
    registry(R"([HKEY_LOCAL_MACHINE\a\b]
@="default"
"name"="deep"
"empty"=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1]
"top"="Grüße ✓"
[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\Trace]
"top"="trace"
)");
    EXPECT_EQ(text(2, 0, u"a\\b\\name"), u"deep");
    EXPECT_EQ(text(2, 0, u"a\\b\\"), u"default");
    EXPECT_EQ(text(2, 0, u"a\\b\\empty"), u"");
    EXPECT_EQ(text(2, 0, u"A\\B\\NAME"), u"deep"); // keys and names ignore case
    EXPECT_EQ(text(17, 0, u"top"), u"Grüße ✓");
    EXPECT_EQ(text(17, 1, u"top"), u"trace");
    EXPECT_EQ(text(2, 0, u"a\\missing\\name"), u"error 2 unchanged");
}

TEST_F(K4toolax, ValuesMustHaveTheAskedType) {
    registry(R"([HKEY_CURRENT_USER\k]
"n"="text in the user's key"
[HKEY_LOCAL_MACHINE\k]
"n"=dword:0000002a
"t"="text"
"q"=hex(b):01,00,00,00,00,00,00,00
)");
    DWORD value = 7;
    EXPECT_EQ(SettingGetValue(SettingPath(2, 0, u"k\\n"), value), ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);
    value = 7;
    EXPECT_EQ(SettingGetValue(SettingPath(2, 0, u"k\\t"), value), ERROR_INVALID_DATA);
    EXPECT_EQ(SettingGetValue(SettingPath(2, 0, u"k\\q"), value), ERROR_INVALID_DATA);
    // The user's value decides even when it is of the wrong type.
    EXPECT_EQ(SettingGetValue(SettingPath(3, 0, u"k\\n"), value), ERROR_INVALID_DATA);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(text(2, 0, u"k\\n"), u"error 13 unchanged");
}

TEST_F(K4toolax, FlatEntriesWorkThroughRunTimeLoading) {
    registry(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1]
"Configuration"="machine-config"
[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\Trace]
"silent-trace"=dword:00000001
[HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1]
"Configuration"="user"
)");
    HMODULE module = LoadLibraryA("k4toolax.dll");
    ASSERT_NE(module, nullptr) << zeb::lastModuleError();
    auto getValue = reinterpret_cast<decltype(&K4TL_SettingGetValue)>(
        GetProcAddress(module, "K4TL_SettingGetValue"));
    auto getConfiguration = reinterpret_cast<decltype(&K4TL_GetConfiguration)>(
        GetProcAddress(module, "K4TL_GetConfiguration"));
    ASSERT_NE(getValue, nullptr);
    ASSERT_NE(getConfiguration, nullptr);

    DWORD value = 0;
    EXPECT_EQ(getValue(18, 1, u"silent-trace", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(getValue(18, 1, nullptr, &value), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(getValue(18, 1, u"silent-trace", nullptr), ERROR_INVALID_PARAMETER);

    char16_t buffer[256];
    EXPECT_EQ(getConfiguration(buffer, 256), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"user");
    EXPECT_EQ(getConfiguration(buffer, 4), ERROR_MORE_DATA); // no cut-off name
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(getConfiguration(buffer, 5), ERROR_SUCCESS);
    EXPECT_EQ(getConfiguration(nullptr, 256), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(getConfiguration(buffer, 0), ERROR_INVALID_PARAMETER);

    registry("");
    buffer[0] = u'x';
    EXPECT_EQ(getConfiguration(buffer, 256), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(getValue(18, 1, u"silent-trace", &value), ERROR_FILE_NOT_FOUND);
    FreeLibrary(module);
}
