// Run-time loading of shared libraries under the Windows names.
//
// A Windows module name maps to a shared library: "k4wtrcax.dll" ->
// "libk4wtrcax.so" (lib + stem + .so; a name that already ends in ".so" or
// contains a '/' is used as it is). A name without a '/' is looked up
//   1. beside the module whose code calls LoadLibrary,
//   2. beside libzebcom.so, then beside the program,
//   3. by the dynamic linker's normal search.
// The first existing file wins. LoadLibraryA/W are inline, so every module
// compiles its own copy and the address of that copy names the calling module
// for certain, in every build: a return address would name the caller's
// caller once the optimiser turns the call into a tail call.
// Failures set the thread's last error (ERROR_MOD_NOT_FOUND,
// ERROR_PROC_NOT_FOUND) and zeb::lastModuleError() gives dlerror's text.
// Handles are checked: GetProcAddress, FreeLibrary and GetModuleFileNameA
// refuse a handle that LoadLibrary did not return or that was freed as often
// as it was loaded (ERROR_INVALID_HANDLE), instead of passing it to dlsym or
// dlclose. GetLastError/SetLastError are per thread, shared by the whole
// platform layer.
//
//   HMODULE trace = LoadLibraryA("k4wtrcax.dll"); // libk4wtrcax.so
//   if (!trace) return fail(zeb::lastModuleError());
//   auto open = reinterpret_cast<OpenFn>(GetProcAddress(trace, "TrcOpen"));
//   ...
//   FreeLibrary(trace);
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

namespace zeb {
// LoadLibraryA/W with the calling module named by any address inside it
// (null: look beside libzebcom.so and the program only).
HMODULE loadLibraryBeside(LPCSTR name, const void* addressInCaller);
HMODULE loadLibraryBeside(LPCWSTR name, const void* addressInCaller);
} // namespace zeb

// Internal linkage on purpose: each module's copy lies in that module.
static inline HMODULE LoadLibraryA(LPCSTR name) {
    return zeb::loadLibraryBeside(name, reinterpret_cast<const void*>(&LoadLibraryA));
}
static inline HMODULE LoadLibraryW(LPCWSTR name) {
    return zeb::loadLibraryBeside(name, reinterpret_cast<const void*>(&LoadLibraryW));
}
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size); // null module: the program
DWORD GetLastError();
void SetLastError(DWORD error);

namespace zeb {
std::string mapModuleName(const std::string& windowsName); // "k4wtrcax.dll" -> "libk4wtrcax.so"
std::string moduleFileOf(const void* addressInModule);     // full path of the file holding it
std::string lastModuleError(); // dlerror text of this thread's last failure
} // namespace zeb
