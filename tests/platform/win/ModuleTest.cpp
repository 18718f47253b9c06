#include "platform/win/Module.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

namespace {

using IdFn = int (*)();
using LoadFn = HMODULE (*)(const char*);
using LoadWFn = HMODULE (*)(const char16_t*);

std::string programDir() {
    char path[PATH_MAX];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string file(path, n);
    return file.substr(0, file.rfind('/'));
}

int idOf(HMODULE module) {
    auto fn = reinterpret_cast<IdFn>(GetProcAddress(module, "zebTestModuleId"));
    return fn ? fn() : -1;
}

} // namespace

TEST(ModuleNames, WindowsNamesMapToLowerCaseSharedLibraries) {
    EXPECT_EQ(zeb::mapModuleName("k4wtrcax.dll"), "libk4wtrcax.so");
    EXPECT_EQ(zeb::mapModuleName("K4BT03AX.DLL"), "libk4bt03ax.so");
    EXPECT_EQ(zeb::mapModuleName("k4toolax"), "libk4toolax.so");
    EXPECT_EQ(zeb::mapModuleName("libfoo.so"), "libfoo.so");
    EXPECT_EQ(zeb::mapModuleName("/opt/x/Foo.dll"), "/opt/x/Foo.dll");
}

TEST(ModuleLoading, AModuleIsFoundBesideTheCallerByItsWindowsName) {
    HMODULE module = LoadLibraryA("ZebWinTestMod.dll");
    ASSERT_NE(module, nullptr) << zeb::lastModuleError();
    EXPECT_EQ(idOf(module), 1);

    char file[PATH_MAX];
    const DWORD n = GetModuleFileNameA(module, file, sizeof file);
    EXPECT_EQ(std::string(file, n), programDir() + "/libzebwintestmod.so");
    EXPECT_EQ(zeb::moduleFileOf(reinterpret_cast<void*>(GetProcAddress(module, "zebTestModuleId"))),
              programDir() + "/libzebwintestmod.so");

    // The copy in beside/ asks for the same name and gets the one beside
    // itself, not the one the dynamic linker would find first.
    HMODULE other = LoadLibraryA((programDir() + "/beside/libzebwintestmod.so").c_str());
    ASSERT_NE(other, nullptr) << zeb::lastModuleError();
    auto load = reinterpret_cast<LoadFn>(GetProcAddress(other, "zebTestLoadFromModule"));
    ASSERT_NE(load, nullptr);
    HMODULE fromOther = load("zebwintestmod.dll");
    EXPECT_EQ(idOf(fromOther), 2);
    auto loadW = reinterpret_cast<LoadWFn>(GetProcAddress(other, "zebTestLoadFromModuleW"));
    ASSERT_NE(loadW, nullptr);
    HMODULE fromOtherW = loadW(u"ZEBWINTESTMOD.DLL");
    EXPECT_EQ(idOf(fromOtherW), 2);

    EXPECT_TRUE(FreeLibrary(fromOtherW));
    EXPECT_TRUE(FreeLibrary(fromOther));
    EXPECT_TRUE(FreeLibrary(other));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleLoading, FailuresSetTheLastErrorAndDescribeTheCause) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"no-such-module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(zeb::lastModuleError().find("libno-such-module.so"), std::string::npos)
        << zeb::lastModuleError();

    HMODULE module = LoadLibraryA("zebwintestmod.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "noSuchEntryPoint"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));

    // A handle freed as often as it was loaded, or never loaded, is refused.
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    int notAModule = 0;
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&notAModule), "x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ModuleLoading, LastErrorIsPerThread) {
    SetLastError(42);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(7);
    }).join();
    EXPECT_EQ(GetLastError(), 42u);
}

TEST(ModuleLoading, AFileNameThatDoesNotFitIsCutAndTerminated) {
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 4u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[3], '\0');
    EXPECT_EQ(std::string(small), programDir().substr(0, 3));
}
