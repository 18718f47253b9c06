#include "platform/com/Activation.h"

#include "platform/com/BuiltInClasses.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/Module.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "platform/win/Threading.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr DWORD kServerContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD kInprocContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

const std::string kClassesRoot = "HKEY_CLASSES_ROOT\\";

// ---- per-thread initialisation ------------------------------------------

struct ThreadInit {
    DWORD count = 0;
    DWORD model = 0; // COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED, valid when count > 0
};
thread_local ThreadInit t_init;

// ---- class objects registered in the process -----------------------------

struct Registration {
    DWORD cookie;
    DWORD context;
    IUnknown* object; // holds one reference
};

// Found by class and by cookie: a process may hold many registrations (a
// test or a benchmark registers a class object per installed type), and
// every activation and revocation looks one up.
struct RegisteredClasses {
    std::mutex mutex;
    // Each class's registrations in registration order: the newest that
    // matches the context serves.
    std::map<CLSID, std::vector<Registration>> byClass;
    std::unordered_map<DWORD, CLSID> classOfCookie;
    DWORD nextCookie = 1;
};

// Never destroyed: registrations left at exit keep their objects, and
// activation may run while other modules' static objects are torn down.
RegisteredClasses& registered() {
    static RegisteredClasses* r = new RegisteredClasses;
    return *r;
}

// The class object registered for clsid in a matching context, AddRef'd.
IUnknown* findRegistered(REFCLSID clsid, DWORD context) {
    RegisteredClasses& r = registered();
    std::lock_guard lock(r.mutex);
    auto found = r.byClass.find(clsid);
    if (found == r.byClass.end()) return nullptr;
    for (auto it = found->second.rbegin(); it != found->second.rend(); ++it)
        if (it->context & context & kServerContexts) {
            it->object->AddRef();
            return it->object;
        }
    return nullptr;
}

// ---- libraries that serve classes ------------------------------------------

using Clock = std::chrono::steady_clock;

// How long a library must go on answering S_OK before it is unloaded, unless
// the caller of CoFreeUnusedLibrariesEx names another delay: ten minutes, as
// on Windows.
constexpr Clock::duration kDefaultUnloadDelay = std::chrono::minutes(10);

struct Library {
    HMODULE module;
    DllGetClassObjectFn getClassObject;
    DllCanUnloadNowFn canUnloadNow; // may be null: then never unloaded
    std::vector<std::string> names; // registry texts that led here
    int inUse = 0;                  // calls into the library in progress
    uint64_t uses = 0;              // how often it was handed out, ever
    // Set when the library answered S_OK and nothing has used it since; then
    // `unusedSince` is the time of that answer and `usesThen` its use count.
    bool unloadPending = false;
    Clock::time_point unusedSince{};
    uint64_t usesThen = 0;
};

struct Libraries {
    std::mutex mutex;
    std::vector<Library> loaded;
};

Libraries& libraries() {
    static Libraries* l = new Libraries;
    return *l;
}

Library* findLibrary(Libraries& l, const std::string& name) {
    for (Library& lib : l.loaded)
        if (std::find(lib.names.begin(), lib.names.end(), name) != lib.names.end()) return &lib;
    return nullptr;
}

Library* findLibrary(Libraries& l, HMODULE module) {
    for (Library& lib : l.loaded)
        if (lib.module == module) return &lib;
    return nullptr;
}

// Marks a library as in use for one call and gives its entry point; loads it
// the first time. Pair every success with releaseLibrary(module).
HRESULT acquireLibrary(const std::string& name, HMODULE& module, DllGetClassObjectFn& entry) {
    Libraries& l = libraries();
    {
        std::lock_guard lock(l.mutex);
        if (Library* lib = findLibrary(l, name)) {
            ++lib->inUse;
            ++lib->uses;
            module = lib->module;
            entry = lib->getClassObject;
            return S_OK;
        }
    }
    // Loading runs the library's static initialisers, which may activate
    // classes themselves: no lock is held here. Two threads loading the same
    // library get the same handle and the second reference is given back.
    HMODULE loadedModule = LoadLibraryA(name.c_str());
    if (!loadedModule) return CO_E_DLLNOTFOUND;
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(loadedModule, "DllGetClassObject"));
    if (!getClassObject) {
        FreeLibrary(loadedModule);
        return CO_E_ERRORINDLL;
    }
    auto canUnloadNow =
        reinterpret_cast<DllCanUnloadNowFn>(GetProcAddress(loadedModule, "DllCanUnloadNow"));
    bool extraReference = false;
    {
        std::lock_guard lock(l.mutex);
        Library* lib = findLibrary(l, loadedModule);
        if (lib) {
            extraReference = true;
            if (std::find(lib->names.begin(), lib->names.end(), name) == lib->names.end())
                lib->names.push_back(name);
        } else {
            l.loaded.push_back(Library{loadedModule, getClassObject, canUnloadNow, {name}});
            lib = &l.loaded.back();
        }
        ++lib->inUse;
        ++lib->uses;
        module = lib->module;
        entry = lib->getClassObject;
    }
    if (extraReference) FreeLibrary(loadedModule);
    return S_OK;
}

void releaseLibrary(HMODULE module) {
    Libraries& l = libraries();
    std::lock_guard lock(l.mutex);
    if (Library* lib = findLibrary(l, module)) --lib->inUse;
}

// The registry text naming the library of clsid, without surrounding quotes.
bool inprocServerOf(REFCLSID clsid, std::string& name) {
    auto value = zeb::RegistryStore::readString(
        kClassesRoot + "CLSID\\" + zeb::guidToString(clsid) + "\\InprocServer32", "");
    if (!value) return false;
    name = zeb::toNarrow(*value);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    return !name.empty();
}

HRESULT classObjectFromLibrary(REFCLSID clsid, REFIID riid, void** ppv) {
    std::string name;
    if (!inprocServerOf(clsid, name)) return REGDB_E_CLASSNOTREG;
    HMODULE module = nullptr;
    DllGetClassObjectFn entry = nullptr;
    HRESULT hr = acquireLibrary(name, module, entry);
    if (FAILED(hr)) return hr;
    try {
        hr = entry(clsid, riid, ppv);
    } catch (...) {
        hr = E_FAIL;
    }
    releaseLibrary(module);
    return hr;
}

// A ProgID must be usable as one key name below HKEY_CLASSES_ROOT.
bool plausibleProgId(std::u16string_view progId) {
    return !progId.empty() && progId.find(u'\\') == std::u16string_view::npos;
}

HRESULT copyToTaskMemory(std::u16string_view text, LPOLESTR* out) {
    auto* buffer = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!buffer) return E_OUTOFMEMORY;
    std::memcpy(buffer, text.data(), text.size() * sizeof(OLECHAR));
    buffer[text.size()] = 0;
    *out = buffer;
    return S_OK;
}

} // namespace

// ---- initialisation ------------------------------------------------------------

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    const DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (t_init.count > 0) {
        if (t_init.model != model) return RPC_E_CHANGED_MODE;
        ++t_init.count;
        return S_FALSE;
    }
    t_init.model = model;
    t_init.count = 1;
    return S_OK;
}

void CoUninitialize() {
    if (t_init.count > 0) --t_init.count;
}

// ---- registered class objects -------------------------------------------------

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD context, DWORD,
                              DWORD* cookie) {
    if (!cookie) return E_INVALIDARG;
    *cookie = 0;
    if (!unknown || !(context & kServerContexts)) return E_INVALIDARG;
    try {
        RegisteredClasses& r = registered();
        std::lock_guard lock(r.mutex);
        if (r.nextCookie == 0) ++r.nextCookie; // 0 is never a cookie
        DWORD id = r.nextCookie++;
        // After a wrap of the counter, a cookie still in use is skipped.
        while (id == 0 || r.classOfCookie.count(id))
            id = r.nextCookie++;
        std::vector<Registration>& list = r.byClass[clsid];
        list.push_back(Registration{id, context, unknown});
        try {
            r.classOfCookie.emplace(id, clsid);
        } catch (...) {
            list.pop_back();
            if (list.empty()) r.byClass.erase(clsid);
            throw;
        }
        unknown->AddRef();
        *cookie = id;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    IUnknown* object = nullptr;
    {
        RegisteredClasses& r = registered();
        std::lock_guard lock(r.mutex);
        auto cls = r.classOfCookie.find(cookie);
        if (cls == r.classOfCookie.end()) return CO_E_OBJNOTREG;
        auto list = r.byClass.find(cls->second);
        r.classOfCookie.erase(cls);
        if (list == r.byClass.end()) return CO_E_OBJNOTREG;
        auto it = std::find_if(list->second.begin(), list->second.end(),
                               [&](const Registration& e) { return e.cookie == cookie; });
        if (it == list->second.end()) return CO_E_OBJNOTREG;
        object = it->object;
        list->second.erase(it);
        if (list->second.empty()) r.byClass.erase(list);
    }
    // Released outside the lock: the object's destructor may use the runtime.
    object->Release();
    return S_OK;
}

// ---- activation ------------------------------------------------------------------

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(context & kServerContexts)) return E_INVALIDARG;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    try {
        if (IUnknown* object = findRegistered(clsid, context)) {
            try {
                hr = object->QueryInterface(riid, ppv);
            } catch (...) {
                hr = E_FAIL;
            }
            object->Release();
        } else if (auto builtIn = zeb::BuiltInClasses::find(clsid)) {
            hr = builtIn(riid, ppv);
        } else if (context & kInprocContexts) {
            hr = classObjectFromLibrary(clsid, riid, ppv);
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregated object can only hand its non-delegating IUnknown to the
    // outer object; asking for anything else is refused before any creation.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    try {
        hr = factory->CreateInstance(outer, riid, ppv);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

// A library's DllCanUnloadNow answers S_OK as soon as its counts reach zero,
// which happens inside the destructor of its last object or inside the
// Release of its class factory, before that code has returned. Unloading on
// that answer would pull the code from under the thread that is leaving it.
// So the first S_OK only starts a grace period; the library is unloaded when
// it answers S_OK again on a call made after the delay, and was neither
// handed out nor answered otherwise in between.
void CoFreeUnusedLibrariesEx(DWORD unloadDelay, DWORD) {
    const Clock::duration delay = unloadDelay == INFINITE
                                      ? kDefaultUnloadDelay
                                      : Clock::duration(std::chrono::milliseconds(unloadDelay));
    Libraries& l = libraries();
    std::vector<HMODULE> candidates;
    try {
        std::lock_guard lock(l.mutex);
        for (const Library& lib : l.loaded)
            if (lib.canUnloadNow && lib.inUse == 0) candidates.push_back(lib.module);
    } catch (const std::bad_alloc&) {
        return; // nothing is unloaded this time
    }
    for (HMODULE module : candidates) {
        DllCanUnloadNowFn canUnloadNow = nullptr;
        uint64_t usesBefore = 0;
        {
            std::lock_guard lock(l.mutex);
            Library* lib = findLibrary(l, module);
            if (!lib || lib->inUse != 0) continue;
            ++lib->inUse; // keeps it loaded while we ask, without our lock held
            usesBefore = lib->uses;
            canUnloadNow = lib->canUnloadNow;
        }
        HRESULT answer = S_FALSE;
        try {
            answer = canUnloadNow();
        } catch (...) {
            answer = S_FALSE;
        }
        const Clock::time_point now = Clock::now();
        bool unload = false;
        {
            std::lock_guard lock(l.mutex);
            Library* lib = findLibrary(l, module);
            if (!lib) continue;
            --lib->inUse;
            if (answer != S_OK || lib->uses != usesBefore) {
                // In use again, or handed out while we asked (a class object
                // handed out meanwhile would outlive its code): start over.
                lib->unloadPending = false;
                continue;
            }
            if (lib->inUse != 0) continue; // another thread is asking or loading
            if (!lib->unloadPending || lib->usesThen != lib->uses) {
                lib->unloadPending = true;
                lib->unusedSince = now;
                lib->usesThen = lib->uses;
                continue;
            }
            if (now - lib->unusedSince < delay) continue;
            l.loaded.erase(l.loaded.begin() + (lib - l.loaded.data()));
            unload = true;
        }
        if (unload) FreeLibrary(module);
    }
}

void CoFreeUnusedLibraries() {
    CoFreeUnusedLibrariesEx(INFINITE, 0);
}

// ---- ProgIDs -------------------------------------------------------------------------

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    try {
        const std::u16string_view text(progId, zeb::wideLength(progId));
        if (!plausibleProgId(text)) return CO_E_CLASSSTRING;
        if (zeb::BuiltInClasses::findProgId(text, *clsid)) return S_OK;
        auto value =
            zeb::RegistryStore::readString(kClassesRoot + zeb::toNarrow(text) + "\\CLSID", "");
        if (!value) return CO_E_CLASSSTRING;
        CLSID found{};
        if (!zeb::guidFromString(zeb::toNarrow(*value), found)) return CO_E_CLASSSTRING;
        *clsid = found;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    try {
        std::u16string text = zeb::BuiltInClasses::progIdOf(clsid);
        if (text.empty()) {
            auto value = zeb::RegistryStore::readString(
                kClassesRoot + "CLSID\\" + zeb::guidToString(clsid) + "\\ProgID", "");
            if (!value || value->empty()) return REGDB_E_CLASSNOTREG;
            text = std::move(*value);
        }
        return copyToTaskMemory(text, progId);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
