// The entry points of libk4bi00tx.so, the component module that serves the
// installation: the class objects of its two classes, the unload test, and
// the registration of both classes in the registry store.
//
//   regsvr: DllRegisterServer()   -> HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 = this file
//   client: CoCreateInstance(CLSID_CZEBInstallation, ...)   // loads this module
#include "is/CZEBInstallation.h"
#include "is/CZEBIntInstallation.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/Guid.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"

#include <dlfcn.h>

#include <string>

#define ZEB_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr zeb::ClassEntry kClasses[] = {
    zeb::classEntry<CZEBInstallation>(CLSID_CZEBInstallation),
    zeb::classEntry<CZEBIntInstallation>(CLSID_CZEBIntInstallation),
};

// What registration writes for one class.
struct ClassKeys {
    const CLSID& clsid;
    const char* progId;      // version-dependent
    const char* viProgId;    // version-independent
    const char* description; // the default value of the class and ProgID keys
};

const ClassKeys kClassKeys[] = {
    {CLSID_CZEBInstallation, "CZEBInstallation.CZEBInstallation.1",
     "CZEBInstallation.CZEBInstallation", "CZEBInstallation Class"},
    {CLSID_CZEBIntInstallation, "CZEBIntInstallation.CZEBIntInstallation.1",
     "CZEBIntInstallation.CZEBIntInstallation", "CZEBIntInstallation Class"},
};

constexpr const char* kRoot = "HKEY_CLASSES_ROOT\\";
// A class could not be (un)registered: the code registration tools know.
constexpr HRESULT kSelfRegClassError = MAKE_HRESULT_(0x80040201);

std::string ownPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ownPath), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

bool writeText(const std::string& key, const char* name, const std::string& value) {
    return zeb::RegistryStore::writeString(kRoot + key, name, zeb::toWide(value));
}

bool registerClass(const ClassKeys& c, const std::string& modulePath) {
    const std::string clsid = zeb::guidToString(c.clsid);
    const std::string classKey = "CLSID\\" + clsid;
    bool ok = writeText(c.progId, "", c.description);
    ok = writeText(std::string(c.progId) + "\\CLSID", "", clsid) && ok;
    ok = writeText(c.viProgId, "", c.description) && ok;
    ok = writeText(std::string(c.viProgId) + "\\CLSID", "", clsid) && ok;
    ok = writeText(std::string(c.viProgId) + "\\CurVer", "", c.progId) && ok;
    // The class key is made anew, so nothing of an earlier registration stays.
    ok = zeb::RegistryStore::deleteTree(kRoot + classKey) && ok;
    ok = writeText(classKey, "", c.description) && ok;
    ok = writeText(classKey + "\\ProgID", "", c.progId) && ok;
    ok = writeText(classKey + "\\VersionIndependentProgID", "", c.viProgId) && ok;
    ok = writeText(classKey + "\\InprocServer32", "", modulePath) && ok;
    ok = writeText(classKey + "\\InprocServer32", "ThreadingModel", "Apartment") && ok;
    return ok;
}

// Removes what registerClass wrote; the key CLSID itself stays.
bool unregisterClass(const ClassKeys& c) {
    bool ok = zeb::RegistryStore::deleteTree(kRoot + ("CLSID\\" + zeb::guidToString(c.clsid)));
    ok = zeb::RegistryStore::deleteTree(kRoot + std::string(c.progId)) && ok;
    ok = zeb::RegistryStore::deleteTree(kRoot + std::string(c.viProgId)) && ok;
    return ok;
}

} // namespace

ZEB_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return zeb::getClassObject(kClasses, clsid, riid, ppv);
}

ZEB_MODULE_EXPORT HRESULT DllCanUnloadNow() {
    return zeb::thisModule().canUnloadNow();
}

ZEB_MODULE_EXPORT HRESULT DllRegisterServer() {
    const std::string path = ownPath();
    if (path.empty()) return E_FAIL;
    bool ok = true;
    for (const ClassKeys& c : kClassKeys)
        ok = registerClass(c, path) && ok;
    return ok ? S_OK : kSelfRegClassError;
}

ZEB_MODULE_EXPORT HRESULT DllUnregisterServer() {
    bool ok = true;
    for (const ClassKeys& c : kClassKeys)
        ok = unregisterClass(c) && ok;
    return ok ? S_OK : kSelfRegClassError;
}
