#include "platform/win/Registry.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

using zeb::RegistryStore;
using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

const BYTE* bytes(const void* p) {
    return static_cast<const BYTE*>(p);
}

// The names in a directory, sorted.
std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool isLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Runs `body` in a forked child and returns its wait status.
template <typename Body> int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = -1;
    if (child > 0) waitpid(child, &status, 0);
    return status;
}

class RegistryStoreTest : public ::testing::Test {
protected:
    zeb::test::TempDir m_dir;
    std::string m_file = m_dir.file("config/zeb/registry.reg");
    zeb::test::ScopedEnv m_env{"ZEB_REGISTRY", m_file};

    HKEY create(const char16_t* path, REGSAM sam = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, sam, nullptr, &key,
                                  &disposition),
                  ERROR_SUCCESS);
        return key;
    }
};

} // namespace

TEST_F(RegistryStoreTest, EveryValueTypeReadsBackAsWrittenThroughTheFile) {
    HKEY key = create(u"SOFTWARE\\Zeb");
    const char16_t text[] = u"Grüße 日本";
    const char16_t multi[] = u"one\0two\0";
    const DWORD dword = 0x1e;
    const ULONGLONG qword = 0x0102030405060708ull;
    const BYTE binary[] = {0, 1, 0xfe, 0xff};
    struct Case {
        const char16_t* name;
        DWORD type;
        const BYTE* data;
        DWORD size;
    } cases[] = {{u"", REG_SZ, bytes(text), sizeof text},
                 {u"expand", REG_EXPAND_SZ, bytes(text), sizeof text},
                 {u"multi", REG_MULTI_SZ, bytes(multi), sizeof multi},
                 {u"dword", REG_DWORD, bytes(&dword), sizeof dword},
                 {u"qword", REG_QWORD, bytes(&qword), sizeof qword},
                 {u"binary", REG_BINARY, binary, sizeof binary},
                 {u"empty", REG_BINARY, nullptr, 0}};
    for (const Case& c : cases)
        ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data, c.size), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\ZEB", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    for (const Case& c : cases) {
        DWORD type = 0, size = 0;
        ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        ASSERT_EQ(size, c.size);
        std::vector<BYTE> data(size + 1, 0xAA);
        ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, nullptr, data.data(), &size),
                  ERROR_SUCCESS);
        if (c.size) {
            EXPECT_EQ(0, std::memcmp(data.data(), c.data, c.size));
        }
    }
    RegCloseKey(key);
    EXPECT_EQ(RegistryStore::readString("HKLM\\SOFTWARE\\Zeb", ""), std::u16string(text));
    EXPECT_EQ(RegistryStore::readDword("HKLM\\SOFTWARE\\Zeb", "DWORD"), 0x1eu);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\SOFTWARE\\Zeb", "qword"), std::nullopt);
}

TEST_F(RegistryStoreTest, QueryFollowsTheWindowsBufferRules) {
    ASSERT_TRUE(RegistryStore::writeString("HKLM\\SOFTWARE\\Zeb", "name", u"abc"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Zeb", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u) << "three characters and the terminating zero, in bytes";
    char16_t small[2] = {u'x', u'x'};
    size = sizeof small;
    EXPECT_EQ(
        RegQueryValueExW(key, u"name", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], u'x') << "a buffer that is too small is left alone";
    EXPECT_EQ(
        RegQueryValueExW(key, u"name", nullptr, nullptr, reinterpret_cast<BYTE*>(small), nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, CreatingReportsNewOrExistingAndOpeningIgnoresCase) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Zeb", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Zeb\\Inner", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\zeb\\INNER", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    EXPECT_EQ(RegistryStore::subKeys("HKCU\\software"), std::vector<std::string>{"Zeb"});
    EXPECT_NE(readFile(m_file).find("[HKEY_CURRENT_USER\\Software\\Zeb\\Inner]"),
              std::string::npos);
}

TEST_F(RegistryStoreTest, DeletingAKeyWithSubkeysIsRefusedButDeletingTheTreeWorks) {
    RegistryStore::createKey("HKLM\\A\\B\\C");
    RegistryStore::writeDword("HKLM\\A\\B", "v", 1);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A\\B"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A\\B\\C"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A\\B\\C"), ERROR_FILE_NOT_FOUND);
    RegistryStore::createKey("HKLM\\A\\B\\C");
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"a\\b"), ERROR_SUCCESS);
    EXPECT_TRUE(RegistryStore::keyExists("HKLM\\A"));
    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\A\\B"));
    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\A\\B\\C"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED) << "a root stays";
}

TEST_F(RegistryStoreTest, DeletingValuesReportsMissingOnes) {
    HKEY key = create(u"K");
    const DWORD one = 1;
    RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4);
    EXPECT_EQ(RegDeleteValueW(key, u"V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(RegistryStore::deleteValue("HKLM\\K", "v")) << "already gone counts as done";
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, EnumeratingSubkeysEndsWithNoMoreItems) {
    for (const char* k : {"HKLM\\E\\beta", "HKLM\\E\\Alpha", "HKLM\\E\\gamma\\deep"})
        RegistryStore::createKey(k);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"E", 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    char16_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 64;
        const LONG r = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        names.emplace_back(name, cch);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Alpha", u"beta", u"gamma"}));
    DWORD cch = 5; // "Alpha" needs 6 with its zero
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, AHandleToADeletedKeyDoesNotRecreateIt) {
    HKEY key = create(u"Doomed");
    RegistryStore::deleteTree("HKLM\\Doomed");
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\Doomed"));
    RegCloseKey(key);
}

TEST_F(RegistryStoreTest, HandlesAreCheckedForValidityAndAccess) {
    HKEY key = create(u"K");
    RegCloseKey(key);
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(readOnly, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(readOnly, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"bad\nname", 0, REG_DWORD, bytes(&one), 4),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryStoreTest, AMissingFileReadsAsEmptyAndReadsCreateNothing) {
    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\SOFTWARE"));
    EXPECT_EQ(RegistryStore::readDword("HKLM\\SOFTWARE", "x"), std::nullopt);
    EXPECT_EQ(RegistryStore::lastProblem(), "");
    struct stat st {};
    EXPECT_NE(stat(m_file.c_str(), &st), 0);
    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\SOFTWARE", "x", 7));
    EXPECT_EQ(RegistryStore::readDword("HKLM\\SOFTWARE", "x"), 7u) << "the directory was created";
}

TEST_F(RegistryStoreTest, ACorruptFileIsReportedAndNeitherReadsNorWritesChangeIt) {
    RegistryStore::createKey("HKLM\\x");
    const std::string corrupt =
        "Windows Registry Editor Version 5.00\n\n[HKLM\\Kept]\n\"v\"=dword:1\n"
        "\"broken\"=hex:zz\n";
    writeFile(m_file, corrupt);

    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\Kept"));
    EXPECT_NE(RegistryStore::lastProblem().find("line 5"), std::string::npos)
        << RegistryStore::lastProblem();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Kept", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_BADDB);
    EXPECT_FALSE(RegistryStore::writeString("HKLM\\Kept", "v", u"x"));
    EXPECT_FALSE(RegistryStore::deleteTree("HKLM\\Kept"));
    EXPECT_NE(RegistryStore::lastProblem().find("refused"), std::string::npos);
    EXPECT_EQ(readFile(m_file), corrupt);

    writeFile(m_file, "Windows Registry Editor Version 5.00\n\n[HKLM\\Kept]\n");
    EXPECT_TRUE(RegistryStore::keyExists("HKLM\\Kept")) << "a repaired file is read again";
    EXPECT_EQ(RegistryStore::lastProblem(), "");
}

TEST_F(RegistryStoreTest, ChangesMadeByOthersAreSeenAtOnce) {
    RegistryStore::writeDword("HKLM\\K", "v", 1);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\K", "v"), 1u);
    // Same size, same second, rewritten in place: the store must not trust a stale reading.
    writeFile(m_file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
                      "\"v\"=dword:00000002\n");
    EXPECT_EQ(RegistryStore::readDword("HKLM\\K", "v"), 2u);
    RegistryStore::writeDword("HKLM\\K", "w", 3);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\K", "v"), 2u) << "a write starts from the file";
}

TEST_F(RegistryStoreTest, ThePathFallsBackToTheUserConfigDirectory) {
    zeb::test::ScopedEnv noRegistry("ZEB_REGISTRY", std::nullopt);
    {
        zeb::test::ScopedEnv xdg("XDG_CONFIG_HOME", m_dir.path());
        EXPECT_EQ(RegistryStore::path(), m_dir.file("zeb/registry.reg"));
    }
    zeb::test::ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    zeb::test::ScopedEnv home("HOME", m_dir.path());
    EXPECT_EQ(RegistryStore::path(), m_dir.file(".config/zeb/registry.reg"));
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNoKey) {
    constexpr int kPerWriter = 40;
    auto writeKeys = [](const char* who) {
        bool ok = true;
        for (int i = 0; i < kPerWriter; ++i)
            ok = RegistryStore::writeDword("HKLM\\Race\\" + std::string(who) + std::to_string(i),
                                           "v", static_cast<DWORD>(i)) &&
                 ok;
        return ok;
    };
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) _exit(writeKeys("child") ? 0 : 1);
    std::thread sibling([&] { EXPECT_TRUE(writeKeys("thread")); });
    EXPECT_TRUE(writeKeys("parent"));
    sibling.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(RegistryStore::subKeys("HKLM\\Race").size(), 3u * kPerWriter);
    for (const char* who : {"child", "parent", "thread"})
        for (int i = 0; i < kPerWriter; ++i)
            EXPECT_EQ(RegistryStore::readDword(
                          "HKLM\\Race\\" + std::string(who) + std::to_string(i), "v"),
                      static_cast<DWORD>(i));
}

// ---------------------------------------------------------------------------
// The file behind the store

TEST_F(RegistryStoreTest, AStorePathThatIsALinkIsWrittenThroughToItsTarget) {
    std::filesystem::create_directories(m_dir.file("config/zeb"));
    std::filesystem::create_directories(m_dir.file("real"));
    const std::string real = m_dir.file("real/registry.reg");
    ASSERT_EQ(symlink("../../real/registry.reg", m_file.c_str()), 0) << "relative, dangling";

    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\Linked", "first", 1));
    EXPECT_TRUE(isLink(m_file)) << "the link is kept";
    EXPECT_NE(readFile(real).find("\"first\"=dword:00000001"), std::string::npos)
        << "a dangling link names the file to create";
    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\Linked", "second", 2));
    EXPECT_TRUE(isLink(m_file));
    EXPECT_NE(readFile(real).find("\"second\"=dword:00000002"), std::string::npos);
    EXPECT_EQ(entries(m_dir.file("config/zeb")), std::vector<std::string>{"registry.reg"})
        << "nothing is written beside the link";

    // A chain of links, one of them absolute, ends at the same file.
    const std::string outer = m_dir.file("outer.reg");
    ASSERT_EQ(symlink(m_file.c_str(), outer.c_str()), 0);
    {
        zeb::test::ScopedEnv viaChain("ZEB_REGISTRY", outer);
        ASSERT_TRUE(RegistryStore::writeDword("HKLM\\Linked", "third", 3));
    }
    EXPECT_TRUE(isLink(outer));
    EXPECT_TRUE(isLink(m_file));
    zeb::test::ScopedEnv direct("ZEB_REGISTRY", real);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Linked", "first"), 1u);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Linked", "third"), 3u);
}

TEST_F(RegistryStoreTest, WritersThroughALinkAndThroughItsTargetLoseNoKey) {
    std::filesystem::create_directories(m_dir.file("config/zeb"));
    const std::string real = m_dir.file("registry-real.reg");
    writeFile(real, "Windows Registry Editor Version 5.00\n");
    ASSERT_EQ(symlink(real.c_str(), m_file.c_str()), 0);
    constexpr int kPerWriter = 30;
    auto writeKeys = [](const std::string& who) {
        bool ok = true;
        for (int i = 0; i < kPerWriter; ++i)
            ok = RegistryStore::writeDword("HKLM\\Race\\" + who + std::to_string(i), "v",
                                           static_cast<DWORD>(i)) &&
                 ok;
        return ok;
    };
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        setenv("ZEB_REGISTRY", real.c_str(), 1);
        _exit(writeKeys("real") ? 0 : 1);
    }
    EXPECT_TRUE(writeKeys("link"));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(isLink(m_file));
    for (const std::string& path : {m_file, real}) {
        zeb::test::ScopedEnv env("ZEB_REGISTRY", path);
        EXPECT_EQ(RegistryStore::subKeys("HKLM\\Race").size(), 2u * kPerWriter) << path;
    }
}

TEST_F(RegistryStoreTest, AWriterKilledMidWriteLeavesNoTemporaryBehind) {
    // A store whose text is far larger than the file size the children may write.
    ASSERT_TRUE(RegistryStore::writeValue("HKLM\\Big", "blob", REG_BINARY,
                                          std::vector<BYTE>(64 * 1024, 0x5a)));
    const std::string before = readFile(m_file);
    for (int i = 0; i < 3; ++i) {
        // The kernel kills the child with SIGXFSZ in the middle of writing the new text.
        const int status = inChild([] {
            const rlimit noCore{0, 0};
            const rlimit small{16 * 1024, 16 * 1024};
            setrlimit(RLIMIT_CORE, &noCore);
            setrlimit(RLIMIT_FSIZE, &small);
            RegistryStore::writeDword("HKLM\\Big", "more", 1);
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    }
    EXPECT_EQ(readFile(m_file), before);
    EXPECT_EQ(entries(m_dir.file("config/zeb")),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_TRUE(RegistryStore::writeDword("HKLM\\Big", "more", 1));
}

TEST_F(RegistryStoreTest, WritersKilledAtRandomMomentsLeaveOnlyTheStoreAndItsLock) {
    ASSERT_TRUE(RegistryStore::writeValue("HKLM\\Big", "blob", REG_BINARY,
                                          std::vector<BYTE>(32 * 1024, 0xa5)));
    std::vector<pid_t> children;
    for (int i = 0; i < 8; ++i) {
        const pid_t child = fork();
        if (child < 0) break; // those running are still killed below
        if (child == 0) {
            for (DWORD n = 0;; ++n)
                RegistryStore::writeDword("HKLM\\Big", "n" + std::to_string(i), n);
        }
        children.push_back(child);
    }
    EXPECT_EQ(children.size(), 8u);
    for (size_t i = 0; i < children.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * i));
        kill(children[i], SIGKILL);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\Big", "after", 1));
    EXPECT_EQ(entries(m_dir.file("config/zeb")),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Big", "after"), 1u);
}

TEST_F(RegistryStoreTest, AWriteRemovesTemporariesLeftByAKilledWriterAndNothingElse) {
    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\K", "v", 1));
    // What a writer killed after naming its temporary and before renaming it leaves.
    const std::string leftover = m_file + ".tmp-Q7xk2P";
    writeFile(leftover,
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dw");
    // Names that are not the store's temporaries.
    for (const char* other : {"registry.reg.backup", "registry.reg.tmp-notes",
                              "registry.reg.tmp-Q7xk2P.txt", "other.reg.tmp-Q7xk2P"})
        writeFile(m_dir.file(std::string("config/zeb/") + other), "keep");
    std::filesystem::create_directory(m_file + ".tmp-Dir123");

    ASSERT_TRUE(RegistryStore::writeDword("HKLM\\K", "v", 2));
    EXPECT_EQ(
        entries(m_dir.file("config/zeb")),
        (std::vector<std::string>{"other.reg.tmp-Q7xk2P", "registry.reg", "registry.reg.backup",
                                  "registry.reg.lock", "registry.reg.tmp-Dir123",
                                  "registry.reg.tmp-Q7xk2P.txt", "registry.reg.tmp-notes"}));
    EXPECT_EQ(RegistryStore::readDword("HKLM\\K", "v"), 2u);
}

// ---------------------------------------------------------------------------
// Names

TEST_F(RegistryStoreTest, NamesWithAnUnpairedSurrogateAreRefusedAndHarmNoOtherName) {
    HKEY key = create(u"Names");
    // The names an unpaired surrogate used to collapse into (U+FFFD stands in for it).
    const DWORD kept = 7;
    ASSERT_EQ(RegSetValueExW(key, u"a\uFFFD", 0, REG_DWORD, bytes(&kept), 4), ERROR_SUCCESS);
    RegistryStore::createKey("HKLM\\Names\\k\xEF\xBF\xBD"); // "k" U+FFFD

    const char16_t highValue[] = {u'a', 0xD800, 0};
    const char16_t lowValue[] = {u'a', 0xDC00, 0};
    const char16_t swappedValue[] = {u'a', 0xDC00, 0xD800, 0};
    const char16_t highKey[] = {u'k', 0xD800, 0};
    const char16_t lowKey[] = {u'k', 0xDFFF, 0};
    const char16_t deepKey[] = {u'k', 0xD800, u'\\', u'x', 0};
    const DWORD one = 1;
    for (const char16_t* name : {highValue, lowValue, swappedValue}) {
        DWORD size = 4;
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, bytes(&one), 4), 87);
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), 87);
        EXPECT_EQ(RegDeleteValueW(key, name), 87);
    }
    for (const char16_t* name : {highKey, lowKey, deepKey}) {
        HKEY sub = nullptr;
        EXPECT_EQ(RegCreateKeyExW(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                  87);
        EXPECT_EQ(RegOpenKeyExW(key, name, 0, KEY_READ, &sub), 87);
        EXPECT_EQ(sub, nullptr);
        EXPECT_EQ(RegDeleteKeyW(key, name), 87);
        EXPECT_EQ(RegDeleteTreeW(key, name), 87);
    }
    // The UTF-8 face: an encoded surrogate or a stray byte names no value either.
    for (const char* name : {"a\xED\xA0\x80", "a\xFF"}) {
        EXPECT_EQ(RegistryStore::readDword("HKLM\\Names", name), std::nullopt);
        EXPECT_FALSE(RegistryStore::writeDword("HKLM\\Names", name, 1));
        RegistryStore::deleteValue("HKLM\\Names", name);
    }
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Names", "a\xEF\xBF\xBD"), 7u);
    EXPECT_EQ(RegistryStore::values("HKLM\\Names").size(), 1u);
    EXPECT_EQ(RegistryStore::subKeys("HKLM\\Names"), std::vector<std::string>{"k\xEF\xBF\xBD"});

    // A surrogate pair is a character like any other.
    HKEY emoji = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, u"\U0001F600", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &emoji,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(emoji, u"\U0001F600", 0, REG_DWORD, bytes(&one), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Names\\\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"), 1u);
    RegCloseKey(emoji);

    // String data is kept unit for unit, unpaired surrogates included: it is
    // data, not a name, and two such strings stay distinct.
    const char16_t loneData[] = {u'x', 0xD800, 0};
    const char16_t replacedData[] = u"x\uFFFD";
    ASSERT_EQ(RegSetValueExW(key, u"lone", 0, REG_SZ, bytes(loneData), sizeof loneData),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"replaced", 0, REG_SZ, bytes(replacedData), sizeof replacedData),
              ERROR_SUCCESS);
    EXPECT_EQ(RegistryStore::readString("HKLM\\Names", "lone"), std::u16string(loneData));
    EXPECT_EQ(RegistryStore::readString("HKLM\\Names", "replaced"), std::u16string(u"x\uFFFD"));
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Handles to deleted keys

TEST_F(RegistryStoreTest, AHandleToADeletedKeyStaysDeletedWhenThePathIsCreatedAgain) {
    HKEY doomed = create(u"Doomed");
    HKEY inner = create(u"Outer\\Inner");
    ASSERT_TRUE(RegistryStore::deleteTree("HKLM\\Doomed"));
    ASSERT_TRUE(RegistryStore::createKey("HKLM\\Doomed\\Child"));
    ASSERT_TRUE(RegistryStore::deleteTree("HKLM\\Outer")); // an ancestor
    ASSERT_TRUE(RegistryStore::createKey("HKLM\\Outer\\Inner"));

    const DWORD one = 1;
    for (HKEY key : {doomed, inner}) {
        DWORD size = 4, cch = 16;
        char16_t name[16];
        HKEY sub = nullptr;
        EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4), 1018);
        EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), 1018);
        EXPECT_EQ(RegDeleteValueW(key, u"v"), 1018);
        EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), 1018);
        EXPECT_EQ(RegOpenKeyExW(key, u"Child", 0, KEY_READ, &sub), 1018);
        EXPECT_EQ(
            RegCreateKeyExW(key, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            1018);
        EXPECT_EQ(RegDeleteKeyW(key, u"Child"), 1018);
        EXPECT_EQ(RegDeleteTreeW(key, nullptr), 1018);
        RegCloseKey(key);
    }
    EXPECT_TRUE(RegistryStore::keyExists("HKLM\\Doomed\\Child")) << "nothing reached the new key";
    EXPECT_FALSE(RegistryStore::keyExists("HKLM\\Doomed\\New"));
    EXPECT_TRUE(RegistryStore::values("HKLM\\Doomed").empty());
    EXPECT_TRUE(RegistryStore::values("HKLM\\Outer\\Inner").empty());

    HKEY fresh = create(u"Doomed", KEY_ALL_ACCESS);
    EXPECT_EQ(RegSetValueExW(fresh, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_SUCCESS)
        << "a handle opened on the new key uses it";
    RegCloseKey(fresh);
}

TEST_F(RegistryStoreTest, AKeyDeletedAndCreatedAgainByAnotherProcessIsSeenAsDeleted) {
    // A key written by hand (no identity recorded for it) and one made through the store.
    std::filesystem::create_directories(m_dir.file("config/zeb"));
    writeFile(m_file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\ByHand]\n");
    HKEY byHand = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"ByHand", 0, KEY_ALL_ACCESS, &byHand),
              ERROR_SUCCESS);
    HKEY made = create(u"Made");
    const int status = inChild([] {
        const bool ok =
            RegistryStore::deleteTree("HKLM\\ByHand") && RegistryStore::createKey("HKLM\\ByHand") &&
            RegistryStore::deleteTree("HKLM\\Made") && RegistryStore::createKey("HKLM\\Made");
        _exit(ok ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(byHand, u"v", 0, REG_DWORD, bytes(&one), 4), 1018);
    EXPECT_EQ(RegSetValueExW(made, u"v", 0, REG_DWORD, bytes(&one), 4), 1018);
    RegCloseKey(byHand);
    RegCloseKey(made);
}

TEST_F(RegistryStoreTest, AHandleOutlivesOtherWritesToItsKeyAndItsFile) {
    HKEY key = create(u"Kept\\Sub");
    const int status = inChild([] {
        const bool ok = RegistryStore::writeDword("HKLM\\Kept\\Sub", "fromChild", 1) &&
                        RegistryStore::createKey("HKLM\\Kept\\Sub\\Deeper") &&
                        RegistryStore::createKey("HKLM\\Kept\\Sibling") &&
                        RegistryStore::deleteTree("HKLM\\Kept\\Sibling");
        _exit(ok ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(key, nullptr), ERROR_SUCCESS) << "empties the key, keeps it";
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_SUCCESS);

    // A writer that keeps no key identities (an older one, or an editor)
    // rewrote the file: the key cannot be told apart and still counts as the same.
    writeFile(m_file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Kept\\Sub]\n");
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, bytes(&one), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegistryStore::readDword("HKLM\\Kept\\Sub", "v"), 1u);
    RegCloseKey(key);
}
