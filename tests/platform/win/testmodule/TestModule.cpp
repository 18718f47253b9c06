// A module for the module-loading tests. Two copies are built, one beside
// the test program and one in a subfolder, told apart by their id.
#include "platform/win/Module.h"

extern "C" int zebTestModuleId() {
    return ZEB_TEST_MODULE_ID;
}

// Loads a module as code inside this module would.
extern "C" HMODULE zebTestLoadFromModule(const char* name) {
    return LoadLibraryA(name);
}
