// The exchange commands: export and import of a type's data, the files of a
// package, and the merge of a type description from an XML file.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "platform/storage/Storage.h"
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDom.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace zebinst {

namespace {

constexpr const char* kExportHelp = R"(usage: zebinst [-C DIR] export NAME|ID -o FILE

Writes the data of a type, and of every type it depends on, to FILE: a
compound file with the sections "typecont" (the install entries) and
"xmltree" (their descriptions), which 'zebinst import' reads into another
installation (and zebstg shows). FILE is written whole or not at all. Only
reads the installation. An unknown type: exit 2; an export that fails (a
type it depends on is not installed): exit 3 with the code.
)";

constexpr const char* kImportHelp = R"(usage: zebinst [-C DIR] import FILE

Reads a file written by 'zebinst export' into the installation: every type
in it is installed (replacing an installed type of the same identifier)
with its description (replacing the description of a type of the same
name), and the installation is saved.
)";

constexpr const char* kPackageFileHelp =
    R"(usage: zebinst [-C DIR] package-file add PACKAGE DEVICE FILE
       zebinst [-C DIR] package-file remove PACKAGE DEVICE

Records in the classification that the package type PACKAGE carries FILE
for the device type DEVICE (both by name), or removes that record. The
package must be described (see 'zebinst refresh'). Saves.
)";

constexpr const char* kDescribeHelp = R"(usage: zebinst [-C DIR] describe NAME|ID FILE.xml

Merges a type description into the classification: FILE.xml holds an
element of the type's class (e.g. Device) with an ESType child whose ESName
is the type's name. Its Attributes/Attribute elements (Name, Value) set the
type's attributes; SubObj and Connector elements replace those with the same
Id; other elements are added. Saves.
)";

std::string codeText(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", unsigned(code));
    return text;
}

int runExport(Invocation& in) {
    const std::string typeArg = in.args.positional("NAME|ID");
    const auto out = in.args.option("-o");
    in.args.finish();
    if (!out || out->empty()) throw CommandError(kExitUsage, "export: give the file with -o FILE");
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    const GUID typeId = session.resolveType(typeArg);
    ComPtr<IStorage> exchange;
    DWORD ret = 0;
    if (FAILED(inst.exportTypeData(typeId, &exchange, &ret)) || ret != 0 || !exchange)
        throw CommandError(kExitFailure, "cannot export " + session.typeName(typeId) + ": " +
                                             (ret ? resultText(ret) : std::string("failed")) +
                                             " (code " + codeText(ret) + ")");
    // Written beside the target and renamed over it: never half a file.
    const std::string temp = *out + ".part";
    ComPtr<IStorage> file;
    HRESULT hr = StgCreateDocfile(zeb::toWide(temp).c_str(),
                                  STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &file);
    if (SUCCEEDED(hr)) hr = exchange->CopyTo(0, nullptr, nullptr, file.get());
    if (SUCCEEDED(hr)) hr = file->Commit(0);
    file.Release();
    std::error_code ec;
    if (SUCCEEDED(hr)) std::filesystem::rename(temp, *out, ec);
    if (FAILED(hr) || ec) {
        std::filesystem::remove(temp, ec);
        throw CommandError(kExitFailure, *out + ": cannot be written" +
                                             (FAILED(hr) ? " (" + codeText(DWORD(hr)) + ")"
                                                         : ": " + ec.message()));
    }
    std::printf("exported %s to %s\n", session.typeName(typeId).c_str(), out->c_str());
    return kExitOk;
}

int runImport(Invocation& in) {
    const std::string path = in.args.positional("FILE");
    in.args.finish();
    ComPtr<IStorage> file;
    if (FAILED(StgOpenStorage(zeb::toWide(path).c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                              nullptr, 0, &file)))
        throw CommandError(kExitFailure, path + ": not a compound file that can be read");
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const size_t before = inst.typeCont().size();
    DWORD ret = 0;
    if (FAILED(inst.importTypeData(file.get(), &ret)) || ret != 0) {
        // What was imported before the failure is kept and saved.
        session.save();
        throw CommandError(kExitFailure, path + ": " +
                                             (ret == 29 ? std::string("no exported type data in it")
                                                        : "the import failed: " + resultText(ret)) +
                                             " (code " + codeText(ret) + ")");
    }
    session.save();
    std::printf("imported %s into %s (%zu types installed now, %zu before)\n", path.c_str(),
                session.filePath().c_str(), inst.typeCont().size() - 1, before - 1);
    return kExitOk;
}

int runPackageFile(Invocation& in) {
    const std::string action = in.args.positional("action (add or remove)");
    if (action != "add" && action != "remove")
        throw CommandError(kExitUsage, "package-file: unknown action '" + action + "'");
    const std::string package = in.args.positional("PACKAGE");
    const std::string device = in.args.positional("DEVICE");
    const std::string fileName = action == "add" ? in.args.positional("FILE") : std::string();
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    DWORD ret = 0;
    HRESULT hr;
    if (action == "add") {
        zeb::Bstr file(fileName);
        hr = inst.addPackageFile(package.c_str(), device.c_str(), file, &ret);
    } else {
        hr = inst.removePackageFile(package.c_str(), device.c_str(), &ret);
    }
    if (FAILED(hr) || ret != 0)
        throw CommandError(ret == 0xBE020003 ? kExitNotFound : kExitFailure,
                           "package-file " + action + ": " +
                               (ret == 0xBE020003
                                    ? "no described package " + package + " or no type " + device
                                    : (FAILED(hr) ? "the call failed" : resultText(ret))));
    session.save();
    if (action == "add")
        std::printf("package %s carries %s for %s\n", package.c_str(), fileName.c_str(),
                    device.c_str());
    else
        std::printf("package %s carries no file for %s\n", package.c_str(), device.c_str());
    return kExitOk;
}

int runDescribe(Invocation& in) {
    const std::string typeArg = in.args.positional("NAME|ID");
    const std::string path = in.args.positional("FILE.xml");
    in.args.finish();
    auto doc = zeb::xml::DomDocument::create();
    bool loaded = false;
    try {
        loaded = doc.load(path);
    } catch (const zeb::ComError&) {
        loaded = false;
    }
    if (!loaded) throw CommandError(kExitFailure, path + ": not an XML document that can be read");
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const GUID typeId = session.resolveType(typeArg);
    const std::string name = session.typeName(typeId);
    const auto described = doc.selectSingleNode(u".//*[ESType/@ESName]/ESType/@ESName");
    if (!described)
        throw CommandError(kExitFailure, path + ": no element with an ESType naming a type");
    if (zeb::toNarrow(described.text()) != name)
        throw CommandError(kExitUsage, path + ": describes " + zeb::toNarrow(described.text()) +
                                           ", not " + name);
    DWORD ret = 0;
    const HRESULT hr = inst.addXMLTypeDescription(doc.get(), &ret);
    if (FAILED(hr) || ret != 0)
        throw CommandError(ret == 13 ? kExitNotFound : kExitFailure,
                           "cannot merge the description of " + name + ": " +
                               (ret == 13 ? std::string("the type has no element of that class in "
                                                        "the classification (see 'zebinst tree')")
                                          : (FAILED(hr) ? "the call failed" : resultText(ret))));
    session.save();
    std::printf("merged %s into the description of %s\n", path.c_str(), name.c_str());
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"export", "write a type's data (and its dependencies) to a compound file", kExportHelp,
     runExport},
    {"import", "read a file written by export into the installation", kImportHelp, runImport},
    {"package-file", "record or remove the file a package carries for a device type",
     kPackageFileHelp, runPackageFile},
    {"describe", "merge a type description from an XML file", kDescribeHelp, runDescribe},
};

} // namespace

std::span<const Command> exchangeCommands() {
    return kCommands;
}

} // namespace zebinst
