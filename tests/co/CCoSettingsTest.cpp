// Settings: the location mapping, the ES-Basis accessors with their
// defaults, the per-process caches and the direct registry switches.
#include "co/CCoSettings.h"
#include "co/CCoBasisEsSettings.h"
#include "co/CCoRegistrySwitches.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

using zeb::test::runChildScenario;
using zeb::test::ScopedEnv;
using zeb::test::TempDir;

namespace {

const std::string kMachine = R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1])";
const std::string kMachineBasis = R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis])";
const std::string kUser = R"([HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1])";
const std::string kUserBasis = R"([HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1\ES-Basis])";

// A registry file in the store's text format from key and value lines.
std::string registryText(std::initializer_list<std::string> lines) {
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (const std::string& line : lines) {
        if (line.starts_with("[")) text += "\r\n";
        text += line + "\r\n";
    }
    return text;
}

// A registry file in its own temporary directory.
struct Registry {
    TempDir dir;
    std::string file = dir.file("registry.reg");
    explicit Registry(std::initializer_list<std::string> lines) {
        zeb::test::writeFile(file, registryText(lines));
    }
};

std::string report() {
    std::string out;
    auto add = [&](const char* name, const std::string& value) {
        out += name;
        out += "=" + value + "\n";
    };
    add("configurationDirectory", CCoBasisEsSettings::configurationDirectory());
    add("conversionDirectory", CCoBasisEsSettings::conversionDirectory());
    add("databaseProvider", CCoBasisEsSettings::databaseProvider());
    add("configurationName", CCoBasisEsSettings::configurationName());
    add("useOnlineContext", std::to_string(CCoBasisEsSettings::useOnlineContext()));
    add("memoryCheckEnabled", std::to_string(CCoBasisEsSettings::memoryCheckEnabled()));
    add("keepProjectBackupFile", std::to_string(CCoBasisEsSettings::keepProjectBackupFile()));
    add("storages", std::to_string(int(CCoRegistrySwitches::storageModeForStorages())));
    add("streams", std::to_string(int(CCoRegistrySwitches::storageModeForStreams())));
    add("purifyMode", std::to_string(CCoRegistrySwitches::purifyMode()));
    return out;
}

// The cached settings as a fresh process with the given registry sees them.
std::string reportFor(const Registry& registry) {
    auto result = runChildScenario("reportCachedSettings", {{"ZEB_REGISTRY", registry.file}});
    EXPECT_EQ(result.exitCode, 0);
    return result.output;
}

std::string storageKinds(const std::string& storageModeLine) {
    Registry registry{kMachineBasis, storageModeLine};
    auto result = runChildScenario("reportStorageKinds", {{"ZEB_REGISTRY", registry.file}});
    EXPECT_EQ(result.exitCode, 0);
    return result.output;
}

} // namespace

ZEB_CHILD_SCENARIO(reportCachedSettings) {
    return report();
}

ZEB_CHILD_SCENARIO(reportStorageKinds) {
    return std::to_string(int(CCoRegistrySwitches::storageModeForStorages())) + "/" +
           std::to_string(int(CCoRegistrySwitches::storageModeForStreams()));
}

// Reads everything, replaces the registry with different values, reads again.
ZEB_CHILD_SCENARIO(rereadAfterChange) {
    std::string first = report();
    zeb::test::writeFile(
        std::getenv("ZEB_REGISTRY"),
        registryText({kMachine, R"("ProductDir"="/elsewhere")", kMachineBasis,
                      R"("STORAGE_MODE"=dword:00000001)", R"("PURIFY_MODE"=dword:00000001)",
                      R"("KeepProjectBackupFile"=dword:00000000)",
                      R"("SaveAsync"=dword:00000001)"}));
    std::string second = report();
    return first + "--\n" + second + "saveAsync=" + std::to_string(CCoBasisEsSettings::saveAsync());
}

// Eight threads make their first call at once while the product directory
// keeps changing underneath; every answer must be the one published value.
// Threads make their first calls in a quick staggered sequence while the
// product directory keeps changing underneath, so their reads see different
// texts; every answer must still be the one published value.
ZEB_CHILD_SCENARIO(concurrentFirstCalls) {
    const std::string file = std::getenv("ZEB_REGISTRY");
    std::atomic<bool> stop{false};
    std::atomic<int> versions{0};
    std::thread writer([&] {
        // Each version replaces the file whole, so a reader always finds one.
        for (int i = 0; !stop; ++i) {
            zeb::test::writeFile(
                file + ".new",
                registryText({kMachine, "\"ProductDir\"=\"/dir" + std::to_string(i) + "\""}));
            std::rename((file + ".new").c_str(), file.c_str());
            ++versions;
        }
    });
    while (versions < 3) {
    }
    std::atomic<int> ready{0};
    std::vector<std::string> seen(16);
    std::vector<std::thread> readers;
    for (size_t t = 0; t < seen.size(); ++t)
        readers.emplace_back([&, t] {
            ++ready;
            while (ready < int(seen.size())) {
            }
            auto start = std::chrono::steady_clock::now();
            while (std::chrono::steady_clock::now() - start < std::chrono::microseconds(40 * t)) {
            }
            seen[t] = CCoBasisEsSettings::configurationDirectory();
        });
    for (auto& r : readers)
        r.join();
    stop = true;
    writer.join();
    std::set<std::string> distinct(seen.begin(), seen.end());
    distinct.insert(CCoBasisEsSettings::configurationDirectory());
    std::string out;
    for (const auto& s : distinct)
        out += s + "\n";
    return out;
}

ZEB_CHILD_SCENARIO(storageFallback) {
    CCoRegistrySwitches::storageModeForStorages();
    CCoRegistrySwitches::setStorageModeForStorages(MemoryStorageKind::GlobalMemory);
    return reportStorageKindsScenario();
}

TEST(CachedSettings, AnEmptyRegistryGivesTheDefaults) {
    Registry registry{};
    EXPECT_EQ(reportFor(registry), "configurationDirectory=\n"
                                   "conversionDirectory=\n"
                                   "databaseProvider=Microsoft.Jet.OLEDB.4.0\n"
                                   "configurationName=ES\n"
                                   "useOnlineContext=0\n"
                                   "memoryCheckEnabled=1\n"
                                   "keepProjectBackupFile=1\n"
                                   "storages=3\n"
                                   "streams=3\n"
                                   "purifyMode=0\n");
}

TEST(CachedSettings, ValuesAreReadFromMachineAndUserKeys) {
    Registry registry{kMachine,
                      R"("ProductDir"="/opt/zeb")",
                      R"("DataBaseProvider"="SQLOLEDB")",
                      R"("Configuration"="machine")",
                      kMachineBasis,
                      R"("ConfigDir"="config")",
                      R"("ConvertDir"="convert")",
                      R"("DisableMemoryCheck"=dword:00000001)",
                      R"("KeepProjectBackupFile"=dword:00000000)",
                      R"("STORAGE_MODE"=dword:00000000)",
                      R"("PURIFY_MODE"=dword:00000003)",
                      kUser,
                      R"("Configuration"="Test-1")",
                      kUserBasis,
                      R"("UseOnlineContext"=dword:00000001)"};
    EXPECT_EQ(reportFor(registry), "configurationDirectory=/opt/zeb/config\n"
                                   "conversionDirectory=/opt/zeb/convert\n"
                                   "databaseProvider=SQLOLEDB\n"
                                   "configurationName=TEST-1\n"
                                   "useOnlineContext=1\n"
                                   "memoryCheckEnabled=0\n"
                                   "keepProjectBackupFile=0\n"
                                   "storages=1\n"
                                   "streams=1\n"
                                   "purifyMode=1\n");
}

TEST(CachedSettings, MissingOrEmptyPartsFallBackOneByOne) {
    // No ConfigDir: the product directory and a separator; an empty
    // configuration name: "ES"; KeepProjectBackupFile other than 0: kept.
    Registry registry{kMachine, R"("ProductDir"="/opt/zeb")", R"("Configuration"="")", kUserBasis,
                      R"("KeepProjectBackupFile"=dword:00000002)"};
    std::string out = reportFor(registry);
    for (const char* line :
         {"configurationDirectory=/opt/zeb/\n", "conversionDirectory=/opt/zeb/\n",
          "configurationName=ES\n", "keepProjectBackupFile=1\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;

    // No product directory: no directory, whatever ConfigDir says.
    Registry noProduct{kMachineBasis, R"("ConfigDir"="config")"};
    EXPECT_NE(reportFor(noProduct).find("configurationDirectory=\n"), std::string::npos);
}

TEST(CachedSettings, LaterChangesDoNotReachTheSameProcess) {
    Registry registry{kMachine, R"("ProductDir"="/opt/zeb")"};
    auto result = runChildScenario("rereadAfterChange", {{"ZEB_REGISTRY", registry.file}});
    ASSERT_EQ(result.exitCode, 0);
    size_t cut = result.output.find("--\n");
    ASSERT_NE(cut, std::string::npos);
    std::string first = result.output.substr(0, cut);
    std::string second = result.output.substr(cut + 3);
    EXPECT_NE(first.find("configurationDirectory=/opt/zeb/\n"), std::string::npos) << first;
    // The uncached switch sees the change; the cached values do not.
    EXPECT_EQ(second, first + "saveAsync=1");
}

TEST(CachedSettings, ConcurrentFirstCallsAgreeOnOneValue) {
    Registry registry{kMachine, R"("ProductDir"="/dir0")"};
    auto result = runChildScenario("concurrentFirstCalls", {{"ZEB_REGISTRY", registry.file}});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
    EXPECT_TRUE(result.output.starts_with("/dir")) << result.output;
}

TEST(RegistrySwitches, StorageModeBitsChooseTheKindOfStoragesAndStreams) {
    // Kinds: 1 global memory, 2 temporary file, 3 block store.
    EXPECT_EQ(storageKinds(R"("STORAGE_MODE"=dword:00000000)"), "1/1");
    EXPECT_EQ(storageKinds(R"("STORAGE_MODE"=dword:00000001)"), "2/1");
    EXPECT_EQ(storageKinds(R"("STORAGE_MODE"=dword:00000002)"), "3/3");
    EXPECT_EQ(storageKinds(R"("STORAGE_MODE"=dword:00000003)"), "2/1");
    EXPECT_EQ(storageKinds(R"("STORAGE_MODE"="1")"), "3/3"); // not a number: absent
}

TEST(RegistrySwitches, AFallbackForStoragesLeavesStreamsAlone) {
    Registry registry{};
    auto result = runChildScenario("storageFallback", {{"ZEB_REGISTRY", registry.file}});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "1/3");
}

TEST(RegistrySwitches, SwitchesAreReadFromTheMachineKeyOnly) {
    Registry registry{kUserBasis, R"("PURIFY_MODE"=dword:00000001)", kMachineBasis,
                      R"("STORAGE_MODE"=dword:00000007)"};
    ScopedEnv env("ZEB_REGISTRY", registry.file);
    EXPECT_EQ(CCoRegistrySwitches::readSwitch(u"PURIFY_MODE"), std::nullopt);
    EXPECT_EQ(CCoRegistrySwitches::readSwitch(u"STORAGE_MODE"), 7u);
}

TEST(SettingsLocations, EachSystemLocationReadsItsOwnRoots) {
    Registry registry{R"([HKEY_LOCAL_MACHINE\a])",  R"("both"="machine")",
                      R"("machineOnly"="machine")", R"([HKEY_CURRENT_USER\a])",
                      R"("both"="user")",           kMachine,
                      R"("p"="machine product")",   kUser,
                      R"("p"="user product")"};
    ScopedEnv env("ZEB_REGISTRY", registry.file);
    auto read = [](int location, std::u16string_view path) {
        std::u16string text = u"unchanged";
        LONG rc = CCoSettings::getString(location, path, text);
        return rc == 0 ? text : u"error " + std::u16string(text);
    };
    EXPECT_EQ(read(0, u"a\\both"), u"user");
    EXPECT_EQ(read(1, u"a\\both"), u"machine");
    EXPECT_EQ(read(2, u"a\\both"), u"user");
    EXPECT_EQ(read(2, u"a\\machineOnly"), u"machine");
    EXPECT_EQ(read(0, u"a\\machineOnly"), u"error unchanged");
    EXPECT_EQ(read(10, u"p"), u"user product");
    EXPECT_EQ(read(11, u"p"), u"machine product");
    EXPECT_EQ(read(12, u"p"), u"user product");
    for (int other : {-1, 3, 9, 13, 16})
        EXPECT_EQ(read(other, u"a\\both"), u"error unchanged") << other;
}

TEST(BasisEsSettings, ValuesAreNamedBelowTheEsBasisKey) {
    Registry registry{kMachineBasis, R"("Empty"="")", R"("Number"=dword:0000002a)"};
    ScopedEnv env("ZEB_REGISTRY", registry.file);
    std::u16string text = u"old";
    EXPECT_EQ(CCoBasisEsSettings::getString(1, u"Empty", text), 0);
    EXPECT_EQ(text, u"");
    DWORD value = 7;
    EXPECT_EQ(CCoBasisEsSettings::getValue(1, u"Number", value), 0);
    EXPECT_EQ(value, 42u);
    EXPECT_NE(CCoBasisEsSettings::getValue(1, u"Missing", value), 0);
    EXPECT_NE(CCoBasisEsSettings::getValue(1, u"Empty", value), 0); // a text is no number
    EXPECT_EQ(value, 42u);
}

TEST(BasisEsSettings, UncachedAccessorsFollowTheRegistryAndTheirDefaults) {
    TempDir dir;
    ScopedEnv env("ZEB_REGISTRY", dir.file("registry.reg"));
    DWORD count = 0, seconds = 0;
    EXPECT_TRUE(CCoBasisEsSettings::useV9OnlineData());
    EXPECT_FALSE(CCoBasisEsSettings::objectCacheLimits(count, seconds));
    EXPECT_EQ(CCoBasisEsSettings::threadCreationTimeout(), 0u);
    EXPECT_FALSE(CCoBasisEsSettings::useMemoryTracer());
    EXPECT_FALSE(CCoBasisEsSettings::saveAsync());
    EXPECT_FALSE(CCoBasisEsSettings::traceCallsActive());

    zeb::test::writeFile(
        dir.file("registry.reg"),
        registryText({kMachineBasis, R"("CreateThreadTimeOut"=dword:00001388)",
                      R"("SaveAsync"=dword:00000002)",
                      R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis\useV9OD])",
                      R"("DoNotUseV9OD"=dword:00000005)",
                      R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis\objcache])",
                      R"("count_max"=dword:00000064)",
                      R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis\rtmm])",
                      R"("active"=dword:00000001)",
                      R"([HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis\tracecalls])",
                      R"("active"=dword:00000001)"}));
    EXPECT_FALSE(CCoBasisEsSettings::useV9OnlineData());
    EXPECT_FALSE(CCoBasisEsSettings::objectCacheLimits(count, seconds));
    EXPECT_EQ(count, 100u); // kept although the time is missing
    EXPECT_EQ(CCoBasisEsSettings::threadCreationTimeout(), 5000u);
    EXPECT_TRUE(CCoBasisEsSettings::useMemoryTracer());
    EXPECT_FALSE(CCoBasisEsSettings::saveAsync()); // only 1 switches it on
    EXPECT_TRUE(CCoBasisEsSettings::traceCallsActive());
}
