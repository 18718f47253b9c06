// Activation: finding and creating classes by CLSID or ProgID, per-thread
// initialisation, and the libraries that serve classes.
//
//   CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
//   ComPtr<IWidget> w;
//   HRESULT hr = w.CoCreateInstance(CLSID_Widget);        // see ComPtr.h
//   ...
//   CoUninitialize();
//
// Where a class is found (CoGetClassObject, and CoCreateInstance through it),
// first match wins:
//   1. class objects registered in this process with CoRegisterClassObject
//      (the most recent registration of a CLSID first) whose context
//      overlaps the requested one;
//   2. classes built into the runtime (the global interface tables; other
//      platform parts add theirs through zeb::BuiltInClasses);
//   3. the registry store, when the context includes CLSCTX_INPROC_SERVER or
//      CLSCTX_INPROC_HANDLER: the default value of
//      HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 names a shared library
//      (a Windows name such as "widget.dll" is mapped as LoadLibraryA does,
//      a path is used as it is), which is loaded once, kept loaded, and asked
//      through its exported
//          extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
// Results: REGDB_E_CLASSNOTREG when no step knows the class, CO_E_DLLNOTFOUND
// when the library cannot be loaded, CO_E_ERRORINDLL when it lacks
// DllGetClassObject, E_INVALIDARG for a context naming no server kind,
// E_POINTER for a null out-pointer; otherwise the class object's own result.
// *ppv is null after every failure.
//
// ProgIDs: CLSIDFromProgID reads the default value of
// HKEY_CLASSES_ROOT\<ProgID>\CLSID (built-in classes answer their ProgIDs
// first); an unknown ProgID, or one that cannot be a key name (empty or
// containing a backslash), gives CO_E_CLASSSTRING, as on Windows.
// ProgIDFromCLSID reads HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID and returns a
// task-allocated text (REGDB_E_CLASSNOTREG when there is none).
//
// Unloading: CoFreeUnusedLibrariesEx(delay, 0) asks every library loaded by
// step 3 that exports DllCanUnloadNow. A library's first S_OK only notes the
// time; it is unloaded when it answers S_OK again on a later call made at
// least `delay` milliseconds after that first answer, and nothing was handed
// out from it in between (an S_FALSE or a use starts over). The counts in a
// library drop inside the destructor of its last object and inside its class
// factory's Release, before that code has returned, so one S_OK alone never
// proves that no thread still runs in the library. `delay` INFINITE means the
// default of ten minutes, which CoFreeUnusedLibraries uses; 0 still takes two
// answers. Libraries without DllCanUnloadNow stay loaded.
//
// Initialisation: CoInitialize/CoInitializeEx count per thread (S_OK the
// first time, S_FALSE after; RPC_E_CHANGED_MODE, not counted, when a thread
// asks for the other concurrency model); every successful call needs one
// CoUninitialize. Activation itself does not require initialisation: objects
// are used directly across threads here and there are no apartments to set up.
//
// Thread safety: every function may be called from any thread. Calls into a
// library (DllGetClassObject, DllCanUnloadNow) and into class objects are
// made without holding the runtime's locks, so they may activate classes
// themselves.
#pragma once

#include "platform/com/ComPtr.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;
constexpr DWORD REGCLS_SUSPENDED = 4;

constexpr HRESULT RPC_E_CHANGED_MODE = MAKE_HRESULT_(0x80010106);

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();

// Makes `unknown` (AddRef'd) the class object of `clsid` in this process.
// E_INVALIDARG for a null object or cookie pointer. The flags are accepted
// and do not change in-process behaviour.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD context, DWORD flags,
                              DWORD* cookie);
// Drops a registration and its reference; CO_E_OBJNOTREG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** ppv);

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

void CoFreeUnusedLibraries();
void CoFreeUnusedLibrariesEx(DWORD unloadDelay, DWORD reserved); // delay in ms

// The entry points a class library exports.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
using DllCanUnloadNowFn = HRESULT (*)();
