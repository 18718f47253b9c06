// zebdemo: a tour of the type registry over the sample components, then of
// the platform runtime, tracing, settings and locks underneath it.
//
// Without --registry it writes an embedded default registry to a private
// temporary directory and points $ZEB_REGISTRY at it, so it never touches the
// user's own registry file. Trace lines released by --trace are collected in a
// file and printed after each step.

#include "co/CCoBasisEsSettings.h"
#include "co/CCoCriticalSection.h"
#include "co/CCoError.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoIfHolder.h"
#include "co/CCoRegistrySwitches.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/Activation.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/GlobalInterfaceTable.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "platform/win/Threading.h"
#include "samples/tour/RegistryTour.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

constexpr const char* kUsage = R"(usage: zebdemo [--registry FILE] [--trace LEVELS] [--help]

Installs the sample types into a registry in memory and shows what the
lookups, snap-ins, extensions and attributes give; then shows the platform
runtime, tracing, settings and traced locks at work.

  --registry FILE  start from this registry file (.reg text, "Windows Registry
                   Editor Version 5.00") instead of the embedded default; the
                   demo works on a private copy, the file itself is not changed
  --trace LEVELS   trace levels to show: "1,3,4" (default), "4", "all" or ""
  --help           this text

Environment: ZEB_REGISTRY (registry file), ZEB_TRACE (released levels),
ZEB_TRACE_FILE (where trace lines go). The options override them.
)";

// The embedded default registry: a product directory, the settings the
// system reads, and the ProgID of the demonstration class.
constexpr const char* kDefaultRegistry = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1]
"ProductDir"="@PRODUCT@"
"Configuration"="demo"

[HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis]
"ConfigDir"="config"
"ConvertDir"="convert"
"SaveAsync"=dword:00000001
"STORAGE_MODE"=dword:00000002

[HKEY_CLASSES_ROOT\Zeb.DemoCounter.1\CLSID]
@="{6D0C1B6E-5A7B-4C1E-9E51-3A8E7F2C0D41}"
)";

// A small COM class: a counter that can be incremented from any thread.
struct IDemoCounter : IUnknown {
    static constexpr IID iid = makeGuid("0B9E3D52-21F4-4C55-8A3C-6F0E1D2B7A90");
    virtual HRESULT increment(LONG* value) = 0;
};
constexpr CLSID CLSID_DemoCounter = makeGuid("6D0C1B6E-5A7B-4C1E-9E51-3A8E7F2C0D41");

class CDemoCounter final : public zeb::ComObject<CDemoCounter, IDemoCounter> {
public:
    HRESULT increment(LONG* value) override {
        if (!value) return E_POINTER;
        *value = ++m_count;
        return S_OK;
    }

private:
    std::atomic<LONG> m_count{0};
};

struct Options {
    std::string registry;
    std::string trace = "1,3,4";
    bool traceGiven = false;
};

std::string g_traceFile;
std::streamoff g_traceShown = 0;

// Prints the trace lines written since the last call, indented.
void showTraces() {
    std::ifstream in(g_traceFile);
    in.seekg(g_traceShown);
    std::string line;
    while (std::getline(in, line))
        std::printf("    | %s\n", line.c_str());
    in.clear();
    g_traceShown = in.tellg() < 0 ? g_traceShown : std::streamoff(in.tellg());
}

void heading(const char* text) {
    std::printf("\n== %s\n", text);
}

int runtimeTour() {
    heading("Runtime: a class registered in the process, created by ProgID");
    DWORD cookie = 0;
    HRESULT hr =
        CoRegisterClassObject(CLSID_DemoCounter, &zeb::ClassFactory<CDemoCounter>::instance(),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) {
        std::printf("CoRegisterClassObject failed: %s\n", CCoError(hr).errorText());
        return 1;
    }
    CLSID clsid = CLSID_DemoCounter;
    hr = CLSIDFromProgID(u"Zeb.DemoCounter.1", &clsid);
    if (SUCCEEDED(hr))
        std::printf("ProgID Zeb.DemoCounter.1 -> %s\n", zeb::guidToString(clsid).c_str());
    else
        std::printf("ProgID Zeb.DemoCounter.1 is not in this registry (%s); using %s\n",
                    CCoError(hr).errorText(), zeb::guidToString(CLSID_DemoCounter).c_str());
    if (FAILED(hr)) clsid = CLSID_DemoCounter;

    ComPtr<IDemoCounter> counter;
    hr = counter.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed: %s\n", CCoError(hr).errorText());
        CoRevokeClassObject(cookie);
        return 1;
    }
    LONG value = 0;
    counter->increment(&value);
    std::printf("counter incremented on the main thread: %d\n", int(value));

    heading("Runtime: the interface parked in the global interface table, used from a thread");
    CCoIfHolder holder;
    holder.setInterface(counter.get());
    std::thread worker([&] {
        ComPtr<IUnknown> unknown = holder.getInterface();
        ComQIPtr<IDemoCounter> other(unknown.get());
        LONG v = 0;
        if (other) other->increment(&v);
        std::printf("counter incremented on thread 0x%X through the holder: %d\n",
                    unsigned(GetCurrentThreadId()), int(v));
    });
    worker.join();
    holder.setInterface(nullptr);
    CoRevokeClassObject(cookie);
    showTraces();
    return 0;
}

void tracingTour() {
    heading("Tracing: a guarded call that fails, and error texts");
    CCoTraceRecord rec("zebdemo", "zebdemo::tracingTour");
    ComPtr<IUnknown> missing;
    const CLSID unknownClass = makeGuid("00000000-0000-0000-0000-0000000000AB");
    HRESULT hr = ZEB_GUARDED_CALL(rec, missing.CoCreateInstance(unknownClass));
    std::printf("creating an unregistered class gives 0x%08X (%s)\n", unsigned(hr),
                CCoError(hr).errorText());
    hr = guardedCall(rec, "thrower()", []() -> HRESULT { throw 42; });
    std::printf("a call that throws counts as 0x%08X (%s)\n", unsigned(hr),
                CCoError(hr).errorText());
    for (HRESULT code : {E_INVALIDARG, HRESULT(0x80040201), HRESULT(0x8123ABCD)})
        std::printf("errorText(0x%08X) = %s\n", unsigned(code), CCoError(code).errorText());
    showTraces();
}

void settingsTour() {
    heading("Settings (read once per process, from the registry store)");
    const char* kinds[] = {"?", "global memory", "temporary file", "block store"};
    std::printf("configuration directory : %s\n",
                CCoBasisEsSettings::configurationDirectory().c_str());
    std::printf("conversion directory    : %s\n",
                CCoBasisEsSettings::conversionDirectory().c_str());
    std::printf("configuration name      : %s\n", CCoBasisEsSettings::configurationName().c_str());
    std::printf("database provider       : %s\n", CCoBasisEsSettings::databaseProvider().c_str());
    std::printf("save asynchronously     : %s\n", CCoBasisEsSettings::saveAsync() ? "yes" : "no");
    std::printf("keep project backup     : %s\n",
                CCoBasisEsSettings::keepProjectBackupFile() ? "yes" : "no");
    std::printf("memory storages         : %s\n",
                kinds[int(CCoRegistrySwitches::storageModeForStorages())]);
    std::printf("allocation pools        : %s\n", CCoRegistrySwitches::purifyMode() ? "off" : "on");
}

void lockTour() {
    heading("Locks: a blocked wait is traced with the owning thread");
    CCoCriticalSection section;
    section.Init();
    section.Lock();
    std::atomic<bool> started{false};
    std::thread waiter([&] {
        started = true;
        section.Lock();
        section.Unlock();
    });
    while (!started)
        std::this_thread::yield();
    Sleep(50); // let the waiter block on the section
    section.Unlock();
    waiter.join();
    section.Term();
    std::printf("main thread 0x%X held the section; the waiter traced its wait\n",
                unsigned(GetCurrentThreadId()));
    showTraces();
}

bool parse(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if ((a == "--registry" || a == "--trace") && i + 1 < argc) {
            (a == "--registry" ? opt.registry : opt.trace) = argv[++i];
            if (a == "--trace") opt.traceGiven = true;
        } else {
            std::fprintf(stderr, "zebdemo: unknown or incomplete option '%s'\n\n%s", a.c_str(),
                         kUsage);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (const char* t = std::getenv("ZEB_TRACE")) opt.trace = t;
    if (!parse(argc, argv, opt)) return 2;
    if (!opt.registry.empty() && !std::filesystem::is_regular_file(opt.registry)) {
        std::fprintf(stderr, "zebdemo: registry file '%s' does not exist\n", opt.registry.c_str());
        return 2;
    }

    char tmpl[] = "/tmp/zebdemo-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("zebdemo: cannot create a temporary directory");
        return 1;
    }
    const std::string work = tmpl;

    if (opt.registry.empty()) {
        std::string text = kDefaultRegistry;
        text.replace(text.find("@PRODUCT@"), 9, work + "/product");
        opt.registry = work + "/registry.reg";
        std::ofstream(opt.registry) << text;
        std::printf("registry: embedded default written to %s\n", opt.registry.c_str());
    } else {
        // The tour registers the sample components, so it works on a copy.
        const std::string copy = work + "/registry.reg";
        std::error_code ec;
        if (!std::filesystem::copy_file(opt.registry, copy, ec)) {
            std::fprintf(stderr, "zebdemo: cannot copy '%s': %s\n", opt.registry.c_str(),
                         ec.message().c_str());
            std::filesystem::remove_all(work, ec);
            return 2;
        }
        std::printf("registry: a private copy of %s\n", opt.registry.c_str());
        opt.registry = copy;
    }
    setenv("ZEB_REGISTRY", opt.registry.c_str(), 1);
    if (!zeb::RegistryStore::lastProblem().empty())
        std::printf("registry problem: %s\n", zeb::RegistryStore::lastProblem().c_str());

    setenv("ZEB_TRACE", opt.trace.c_str(), 1);
    if (const char* f = std::getenv("ZEB_TRACE_FILE"); f && *f && !opt.traceGiven)
        g_traceFile = f;
    else
        g_traceFile = work + "/trace.log";
    std::ofstream(g_traceFile, std::ios::app).flush();
    g_traceShown = std::streamoff(std::filesystem::file_size(g_traceFile));
    setenv("ZEB_TRACE_FILE", g_traceFile.c_str(), 1);
    std::printf("trace: levels \"%s\" released, lines shown after each step\n", opt.trace.c_str());

    heading("Type registry: the sample types installed into a registry in memory");
    std::fflush(stdout);
    const int failures = zeb::samples::registryTour(stdout);
    std::fflush(stdout);
    showTraces();

    const int rc = runtimeTour() != 0 || failures != 0 ? 1 : 0;
    tracingTour();
    settingsTour();
    lockTour();

    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    std::printf("\ndone\n");
    return rc;
}
