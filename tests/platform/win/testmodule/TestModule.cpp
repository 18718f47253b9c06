// A module for the module-loading tests. Two copies are built, one beside
// the test program and one in a subfolder, told apart by their id.
#include "platform/win/Module.h"

extern "C" int zebTestModuleId() {
    return ZEB_TEST_MODULE_ID;
}

// Load a module as code inside this module would. Both calls are tail calls
// in an optimised build: the return address then lies in the caller's caller.
extern "C" HMODULE zebTestLoadFromModule(const char* name) {
    return LoadLibraryA(name);
}

extern "C" HMODULE zebTestLoadFromModuleW(const char16_t* name) {
    return LoadLibraryW(name);
}
