// init, register-samples and regsvr: a new configuration directory, the
// sample components made available to it, and any component module
// registered in the registry store.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "base/fs/FsInstFile.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Guid.h"
#include "platform/win/Module.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"
#include "samples/tour/SamplePdFiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace zebinst {

namespace {

constexpr const char* kInitHelp = R"(usage: zebinst [-C DIR] init

Makes the configuration directory (with its parents) and in it an empty
installation file k4bi00tx.dat and the default stylesheets k4bi00tx_tf.xsl
and k4bi00tx_tfb.xsl (a stylesheet already there is kept).

An installation file already there is left as it is: exit 0 when it is one,
exit 3 when the file is something else.
)";

constexpr const char* kRegisterHelp = R"(usage: zebinst [-C DIR] register-samples

Registers the sample components (libzebsamples.so) in the registry store
($ZEB_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg), with
a ProgID for each sample type, and copies the sample PD-files Drive.pd and
Cam.pd into the configuration directory. The installation file is not
changed: install the types with 'zebinst install'.
)";

constexpr const char* kRegsvrHelp = R"(usage: zebinst regsvr [-u] MODULE

Registers the classes a component module serves in the registry store
($ZEB_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg) by
calling its DllRegisterServer; with -u removes them (DllUnregisterServer).
MODULE is the path of the shared library (libk4bi00tx.so for the
installation itself, or a plugin's library); a Windows-style name such as
k4bi00tx.dll is looked up as libk4bi00tx.so beside zebinst and by the
dynamic linker.

Exit 3 when the module cannot be loaded, lacks the entry point, or the
entry point reports a failure (its code is printed).
)";

// The ProgIDs register-samples writes, one for each sample type class that
// installs by class, with the class it installs as.
struct SampleProgId {
    const char* progId;
    CLSID clsid;
    const char* typeClass;
};
constexpr SampleProgId kSampleProgIds[] = {
    {"Zeb.SampleDrive.1", CLSID_SampleDriveType, "Device"},
    {"Zeb.SampleAxis.1", CLSID_SampleAxisType, "TObject"},
    {"Zeb.SampleCam.1", CLSID_SampleCamType, "TObject"},
    {"Zeb.SamplePack.1", CLSID_SamplePackageType, "Package"},
    {"Zeb.SampleProgram.1", CLSID_SampleProgramType, "Program"},
};

int runInit(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    const std::string& dir = session.directory();
    const std::string path = session.filePath();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir))
        throw CommandError(kExitFailure, dir + ": cannot make the directory: " +
                                             (ec ? ec.message() : std::string("not a directory")));
    std::string error;
    if (!zeb::classification::installDefaultStylesheets(dir, &error))
        throw CommandError(kExitFailure, dir + ": cannot write the stylesheets: " + error);

    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        FsInstFile probe;
        const DWORD r = probe.openExistFile(path.c_str(), 0);
        if (r == 11)
            throw CommandError(kExitFailure, path + ": exists and is not an installation file");
        if (r != 0)
            throw CommandError(kExitFailure, path + ": exists and cannot be opened (code " +
                                                 std::to_string(r) + ")");
        std::printf("%s: an installation file is already there; left as it is\n", path.c_str());
        return kExitOk;
    }
    // The installation object makes the file when it is missing and saves
    // it at once with every section written.
    session.create();
    std::printf("made %s (empty installation)\n", path.c_str());
    for (const auto& sheet : zeb::classification::defaultStylesheets())
        std::printf("stylesheet %s/%s\n", dir.c_str(), sheet.name);
    return kExitOk;
}

int runRegisterSamples(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    const std::string& dir = session.directory();
    if (!std::filesystem::is_directory(dir))
        throw CommandError(kExitFailure, dir + ": no such directory (make it with 'zebinst -C " +
                                             dir + " init')");
    const std::string store = zeb::RegistryStore::path();
    if (!zeb::samples::registerServer())
        throw CommandError(kExitFailure, store + ": cannot register the sample components" +
                                             (zeb::RegistryStore::lastProblem().empty()
                                                  ? std::string()
                                                  : ": " + zeb::RegistryStore::lastProblem()));
    for (const SampleProgId& p : kSampleProgIds)
        if (!zeb::RegistryStore::writeString(std::string("HKEY_CLASSES_ROOT\\") + p.progId +
                                                 "\\CLSID",
                                             "", zeb::toWide(zeb::guidToString(p.clsid))))
            throw CommandError(kExitFailure, store + ": cannot write the ProgID " + p.progId);
    std::printf("registered the sample components in %s\n", store.c_str());
    for (const SampleProgId& p : kSampleProgIds)
        std::printf("  %-20s %s  (install with --class %s)\n", p.progId,
                    zeb::guidToString(p.clsid).c_str(), p.typeClass);
    std::string error;
    if (!zeb::samples::installSamplePdFiles(dir, &error))
        throw CommandError(kExitFailure, dir + ": cannot write the sample PD-files: " + error);
    for (const auto& pd : zeb::samples::samplePdFiles())
        std::printf("copied %s/%s\n", dir.c_str(), pd.name);
    return kExitOk;
}

int runRegsvr(Invocation& in) {
    const bool remove = in.args.flag("-u");
    const std::string module = in.args.positional("MODULE");
    in.args.finish();
    const char* entry = remove ? "DllUnregisterServer" : "DllRegisterServer";
    HMODULE handle = LoadLibraryA(module.c_str());
    if (!handle)
        throw CommandError(kExitFailure, module + ": cannot be loaded: " + zeb::lastModuleError());
    auto call = reinterpret_cast<HRESULT (*)()>(GetProcAddress(handle, entry));
    if (!call) {
        FreeLibrary(handle);
        throw CommandError(kExitFailure, module + ": has no entry point " + entry);
    }
    const HRESULT hr = call();
    char path[4096] = {};
    GetModuleFileNameA(handle, path, sizeof path);
    FreeLibrary(handle);
    const std::string store = zeb::RegistryStore::path();
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", unsigned(hr));
        throw CommandError(kExitFailure, std::string(path[0] ? path : module.c_str()) + ": " +
                                             entry + " failed with " + code + " (" + store + ")");
    }
    std::printf("%s %s in %s\n", remove ? "unregistered" : "registered",
                path[0] ? path : module.c_str(), store.c_str());
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"init", "make the configuration directory and an empty installation", kInitHelp, runInit},
    {"register-samples", "register the sample components, copy their PD-files", kRegisterHelp,
     runRegisterSamples},
    {"regsvr", "register (or with -u unregister) a component module", kRegsvrHelp, runRegsvr},
};

} // namespace

std::span<const Command> setupCommands() {
    return kCommands;
}

} // namespace zebinst
