// init and register-samples: a new configuration directory, and the sample
// components made available to it.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "base/fs/FsInstFile.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Guid.h"
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

constexpr Command kCommands[] = {
    {"init", "make the configuration directory and an empty installation", kInitHelp, runInit},
    {"register-samples", "register the sample components, copy their PD-files", kRegisterHelp,
     runRegisterSamples},
};

} // namespace

std::span<const Command> setupCommands() {
    return kCommands;
}

} // namespace zebinst
