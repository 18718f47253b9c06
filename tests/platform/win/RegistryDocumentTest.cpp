#include "platform/win/RegistryDocument.h"
#include "platform/win/Registry.h"

#include <gtest/gtest.h>

using zeb::RegistryDocument;

namespace {

constexpr const char* kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeb";

std::vector<BYTE> utf16z(std::u16string_view s) {
    std::vector<BYTE> d;
    for (char16_t c : s) {
        d.push_back(static_cast<BYTE>(c & 0xFF));
        d.push_back(static_cast<BYTE>(c >> 8));
    }
    d.push_back(0);
    d.push_back(0);
    return d;
}

RegistryDocument parseOk(std::string_view text) {
    RegistryDocument doc;
    std::string problem;
    EXPECT_TRUE(RegistryDocument::parse(text, doc, problem)) << problem;
    return doc;
}

std::string parseProblem(std::string_view text) {
    RegistryDocument doc;
    std::string problem;
    EXPECT_FALSE(RegistryDocument::parse(text, doc, problem));
    return problem;
}

RegistryDocument reparsed(const RegistryDocument& doc) {
    return parseOk(doc.format());
}

} // namespace

TEST(RegistryText, EveryValueTypeSurvivesFormatAndParseBitForBit) {
    RegistryDocument doc;
    doc.createKey(kKey);
    std::vector<BYTE> big(300);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    doc.setValue(kKey, "", REG_SZ, utf16z(u"default"));
    doc.setValue(kKey, "sz", REG_SZ, utf16z(u"text"));
    doc.setValue(kKey, "expand", REG_EXPAND_SZ, utf16z(u"%HOME%/x"));
    doc.setValue(kKey, "dword", REG_DWORD, {0x1e, 0, 0, 0x80});
    doc.setValue(kKey, "binary", REG_BINARY, big); // spans continuation lines
    doc.setValue(kKey, "empty binary", REG_BINARY, {});
    doc.setValue(kKey, "multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
    doc.setValue(kKey, "qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    doc.setValue(kKey, "odd type", 0x12345, {9});
    // Strings the quoted form cannot carry fall back to hex(1).
    doc.setValue(kKey, "no terminator", REG_SZ, {'a', 0});
    doc.setValue(kKey, "line break", REG_SZ, utf16z(u"a\nb"));
    doc.setValue(kKey, "lone surrogate", REG_SZ, utf16z(std::u16string(1, u'\xD800')));
    doc.setValue(kKey, "odd length", REG_SZ, {'a', 0, 0});
    doc.setValue(kKey, "short dword", REG_DWORD, {1, 2});

    const std::string text = doc.format();
    EXPECT_EQ(reparsed(doc), doc) << text;
    EXPECT_EQ(reparsed(doc).format(), text);
    EXPECT_NE(text.find("\"dword\"=dword:8000001e\n"), std::string::npos) << text;
    EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"qword\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos);
    EXPECT_NE(text.find("\"line break\"=hex(1):"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long hex lists continue over lines";
}

TEST(RegistryText, QuotesAndBackslashesAreEscapedAndNonAsciiKeptAsUtf8) {
    RegistryDocument doc;
    const std::string key = "HKEY_CURRENT_USER\\Grüße\\日本";
    doc.createKey(key);
    doc.setValue(key, "say \"hi\"\\", REG_SZ, utf16z(u"C:\\dir\\\"q\" Ä €𝄞"));
    const std::string text = doc.format();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Grüße\\日本]"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("say \"hi\"\\"="C:\\dir\\\"q\" Ä €𝄞")"), std::string::npos) << text;
    EXPECT_EQ(reparsed(doc), doc);
}

TEST(RegistryText, ReadsForeignSpellingsOfTheFormat) {
    // CRLF, BOM, comments, spaces around '=', short dword, continued upper-case
    // hex, deletion entries, implicit parent keys, abbreviated root.
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                             "; a comment\r\n"
                             "[HKLM\\A\\B]\r\n"
                             "\"n\" = dword:1e\r\n"
                             "\"h\"=hex:0A,\\\r\n"
                             "    0B\r\n"
                             "\"gone\"=-\r\n"
                             "[-HKEY_LOCAL_MACHINE\\Old]\r\n"
                             "\"ignored\"=\"x\"\r\n";
    const RegistryDocument doc = parseOk(text);
    EXPECT_TRUE(doc.hasKey("HKEY_LOCAL_MACHINE\\A"));
    ASSERT_NE(doc.findValue("HKEY_LOCAL_MACHINE\\A\\B", "n"), nullptr);
    EXPECT_EQ(doc.findValue("HKEY_LOCAL_MACHINE\\A\\B", "n")->data,
              (std::vector<BYTE>{0x1e, 0, 0, 0}));
    EXPECT_EQ(doc.findValue("HKEY_LOCAL_MACHINE\\A\\B", "h")->data, (std::vector<BYTE>{10, 11}));
    EXPECT_EQ(doc.findValue("HKEY_LOCAL_MACHINE\\A\\B", "gone"), nullptr);
    EXPECT_FALSE(doc.hasKey("HKEY_LOCAL_MACHINE\\Old"));
    EXPECT_EQ(doc.keyCount(), 2u);
}

TEST(RegistryText, ReadsUtf16LittleEndianWithBom) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\K]\r\n"
                                u"\"v\"=\"ü\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const RegistryDocument doc = parseOk(bytes);
    ASSERT_NE(doc.findValue("HKEY_USERS\\K", "v"), nullptr);
    EXPECT_EQ(doc.findValue("HKEY_USERS\\K", "v")->data, utf16z(u"ü"));
}

TEST(RegistryText, KeysAndValueNamesIgnoreCaseButKeepTheFirstSpelling) {
    RegistryDocument doc;
    doc.createKey("HKEY_CLASSES_ROOT\\CLSID\\Ärger");
    doc.createKey("HKEY_CLASSES_ROOT\\clsid\\ärger\\Sub");
    doc.setValue("HKEY_CLASSES_ROOT\\CLSID", "Name", REG_SZ, utf16z(u"1"));
    doc.setValue("HKEY_CLASSES_ROOT\\CLSID", "NAME", REG_SZ, utf16z(u"2"));
    EXPECT_TRUE(doc.hasKey("HKEY_CLASSES_ROOT\\clsid\\ÄRGER\\sub"));
    EXPECT_EQ(doc.displayPath("HKEY_CLASSES_ROOT\\clsid\\ärger\\SUB"),
              "HKEY_CLASSES_ROOT\\CLSID\\Ärger\\Sub");
    ASSERT_EQ(doc.values("HKEY_CLASSES_ROOT\\CLSID").size(), 1u);
    EXPECT_EQ(doc.values("HKEY_CLASSES_ROOT\\CLSID")[0].name, "Name");
    EXPECT_EQ(doc.values("HKEY_CLASSES_ROOT\\CLSID")[0].data, utf16z(u"2"));
}

TEST(RegistryText, KeysAreWrittenInAStableTreeOrder) {
    RegistryDocument a, b;
    for (const char* k : {"HKLM\\b", "HKLM\\A\\z", "HKLM\\a-x", "HKLM\\A"})
        a.createKey(RegistryDocument::normalizeKeyPath(k));
    for (const char* k : {"HKLM\\a-x", "HKLM\\A\\z", "HKLM\\b"})
        b.createKey(RegistryDocument::normalizeKeyPath(k));
    EXPECT_EQ(a.format(), b.format());
    EXPECT_EQ(a.format(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\n"
                          "[HKEY_LOCAL_MACHINE\\A\\z]\n\n[HKEY_LOCAL_MACHINE\\a-x]\n\n"
                          "[HKEY_LOCAL_MACHINE\\b]\n");
    EXPECT_EQ(a.subKeys("HKEY_LOCAL_MACHINE"), (std::vector<std::string>{"A", "a-x", "b"}));
}

TEST(RegistryText, EmptyTextIsAnEmptyRegistry) {
    EXPECT_EQ(parseOk("").keyCount(), 0u);
    EXPECT_EQ(parseOk("\n  \n").keyCount(), 0u);
}

TEST(RegistryText, MalformedTextIsRefusedWithItsLine) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n";
    EXPECT_EQ(parseProblem("REGEDIT4\n"),
              "line 1: expected \"Windows Registry Editor Version 5.00\"");
    EXPECT_EQ(parseProblem(head + "\"v\"=\"x\"\n").substr(0, 7), "line 3:");
    EXPECT_EQ(parseProblem(head + "[HKEY_NOWHERE\\x]\n").substr(0, 7), "line 3:");
    EXPECT_EQ(parseProblem(head + "[HKLM\\a\\\\b]\n").substr(0, 7), "line 3:");
    EXPECT_EQ(parseProblem(head + "[HKLM\\a\n").substr(0, 7), "line 3:");
    const std::string inKey = head + "[HKLM\\a]\n";
    for (const char* bad :
         {"\"v\"=\"unterminated\n", "\"v\"=\"C:\\dir\"\n", "\"v\"=dword:123456789\n",
          "\"v\"=dword:xyz\n", "\"v\"=hex:1,2g\n", "\"v\"=hex(zz):00\n", "\"v\"=hex:00,\\",
          "\"v\"=\"a\" junk\n", "\"v\" \"x\"\n", "junk\n"})
        EXPECT_EQ(parseProblem(inKey + bad).substr(0, 7), "line 4:") << bad;
    EXPECT_EQ(parseProblem(inKey + "\"v\"=\"\xC3\x28\"\n"), "line 4: not UTF-8 text");
    EXPECT_EQ(parseProblem(std::string("\xFE\xFF\0W", 4)).substr(0, 7), "line 1:");
    EXPECT_EQ(parseProblem(std::string("\xFF\xFEW\0\n\0\0\xDC", 8)).substr(0, 7), "line 2:");
}

TEST(RegistryText, KeyPathsAreCheckedAndNormalized) {
    EXPECT_EQ(RegistryDocument::normalizeKeyPath("hkcr\\CLSID\\"), "HKEY_CLASSES_ROOT\\CLSID");
    EXPECT_EQ(RegistryDocument::normalizeKeyPath("HKEY_USERS"), "HKEY_USERS");
    for (const char* bad : {"", "CLSID\\x", "HKCR\\\\x", "\\HKCR", "HKCR\\a\nb", "HKCR\\\xFF"})
        EXPECT_EQ(RegistryDocument::normalizeKeyPath(bad), "") << bad;
    EXPECT_EQ(RegistryDocument::normalizeKeyPath("HKCR\\" + std::string(256, 'k')), "");
    EXPECT_FALSE(RegistryDocument::validValueName("a\nb"));
}

TEST(RegistryText, KeyIdentitiesAreKeptAsACommentUnderTheKeyLine) {
    RegistryDocument doc;
    static uint64_t next;
    next = 0xfe;
    auto newId = [] { return ++next; };
    EXPECT_TRUE(doc.createKey("HKEY_LOCAL_MACHINE\\A\\B", newId));
    EXPECT_FALSE(doc.createKey("HKEY_LOCAL_MACHINE\\A", newId)) << "an existing key keeps its id";
    doc.createKey("HKEY_LOCAL_MACHINE\\Plain");
    doc.setValue("HKEY_LOCAL_MACHINE\\A", "v", REG_DWORD, {1, 0, 0, 0});
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\a"), 0xffu);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\A\\B"), 0x100u);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\Plain"), 0u);
    EXPECT_EQ(doc.format(), "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\A]\n; key id 00000000000000ff\n"
                            "\"v\"=dword:00000001\n\n"
                            "[HKEY_LOCAL_MACHINE\\A\\B]\n; key id 0000000000000100\n\n"
                            "[HKEY_LOCAL_MACHINE\\Plain]\n");
    EXPECT_EQ(reparsed(doc), doc);

    RegistryDocument other = reparsed(doc);
    other.deleteTree("HKEY_LOCAL_MACHINE\\A\\B");
    other.createKey("HKEY_LOCAL_MACHINE\\A\\B", newId);
    EXPECT_EQ(other.keyId("HKEY_LOCAL_MACHINE\\A\\B"), 0x101u);
    EXPECT_FALSE(other == doc) << "a key made again is not the same key";
}

TEST(RegistryText, OnlyAKeyIdCommentInsideAKeySectionNamesItsIdentity) {
    const RegistryDocument doc =
        parseOk("Windows Registry Editor Version 5.00\n"
                "; key id 11\n"
                "[HKLM\\Upper]\n\"v\"=dword:1\n;\tkey id  ABCDEF0123456789\n"
                "[HKLM\\TooLong]\n; key id 12345678901234567\n"
                "[HKLM\\NotHex]\n; key id 12g\n"
                "[HKLM\\Zero]\n; key id 0\n"
                "[HKEY_LOCAL_MACHINE]\n; key id 22\n"
                "[HKLM\\Kept]\n; key id 33\n"
                "[-HKLM\\Kept]\n; key id 44\n");
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\Upper"), 0xABCDEF0123456789u);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\TooLong"), 0u);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\NotHex"), 0u);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\Zero"), 0u);
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE"), 0u) << "root keys are never deleted";
    EXPECT_EQ(doc.keyId("HKEY_LOCAL_MACHINE\\Kept"), 0x33u);
    EXPECT_EQ(reparsed(doc), doc);
}
