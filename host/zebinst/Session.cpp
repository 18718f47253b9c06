#include "host/zebinst/Session.h"

#include "base/fs/FsInstFile.h"
#include "co/CCoBasisEsSettings.h"
#include "host/zebinst/Output.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <sys/stat.h>

#include <cstdio>

namespace zebinst {

namespace {

// The configured directory counts only when the settings name one: the
// product directory alone gives "<ProductDir>/", which is not a choice.
std::string configuredDirectory() {
    std::string dir = CCoBasisEsSettings::configurationDirectory();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

} // namespace

bool parseGuid(const std::string& text, GUID& out) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    const std::u16string wide = zeb::toWide(text);
    return SUCCEEDED(CLSIDFromString(wide.c_str(), &out));
}

GUID guidArgument(const std::string& text, const char* what) {
    GUID id{};
    if (!parseGuid(text, id))
        throw CommandError(kExitUsage, std::string(what) + " '" + text +
                                           "' is not a GUID in registry form "
                                           "({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
    return id;
}

Session::Session(std::string dir) : m_dir(std::move(dir)) {
    if (m_dir.empty()) m_dir = configuredDirectory();
    if (m_dir.empty())
        throw CommandError(kExitUsage,
                           "no configuration directory: give one with -C DIR (the settings name "
                           "none: \"ConfigDir\" under the product key of the registry store)");
    while (m_dir.size() > 1 && m_dir.back() == '/')
        m_dir.pop_back();
}

CZEBIntInstallation& Session::open(Access access) {
    m_access = access;
    const std::string path = filePath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw CommandError(kExitFailure, path +
                                             ": no installation file (make one with 'zebinst -C " +
                                             m_dir + " init')");
    {
        // A look at the header first, so that the cause can be named: the
        // installation object only traces it.
        FsInstFile probe;
        const DWORD r = probe.openExistFile(path.c_str(), 0);
        if (r == 11) throw CommandError(kExitFailure, path + ": not an installation file");
        if (r != 0)
            throw CommandError(kExitFailure,
                               path + ": cannot be opened (code " + std::to_string(r) + ")");
        probe.CloseFile();
    }
    make();
    if (!m_inst->isFileOpen()) throw CommandError(kExitFailure, path + ": cannot be read");
    // A damaged section does not stop the work: the installation holds what
    // could be read, and its first save keeps the damaged file beside it.
    if (m_inst->hasDamagedSections())
        std::fprintf(stderr,
                     "zebinst: warning: %s: a section does not read cleanly (see 'zebinst "
                     "check'); %s\n",
                     path.c_str(),
                     access == Access::Write
                         ? "working with what could be read, the damaged file is kept beside "
                           "it when the change is saved"
                         : "showing what could be read");
    return *m_inst;
}

CZEBIntInstallation& Session::create() {
    m_access = Access::Write;
    make();
    if (!m_inst->isFileOpen())
        throw CommandError(kExitFailure, filePath() + ": cannot be made (is " + m_dir +
                                             " writable? is $TMPDIR?)");
    return *m_inst;
}

void Session::make() {
    // Reading commands open the file read-only: no writer lock is taken, so
    // a program that installs meanwhile is not turned away.
    const auto mode = m_access == Access::Write ? CZEBIntInstallation::OpenMode::Write
                                                : CZEBIntInstallation::OpenMode::ReadOnly;
    if (FAILED(CZEBIntInstallation::createObject(&m_inst, std::string(m_dir), mode)) || !m_inst)
        throw CommandError(kExitFailure, filePath() + ": the installation could not be made");
}

GUID Session::resolveType(const std::string& arg) {
    CIsTypeCont& types = m_inst->typeCont();
    GUID id{};
    if (parseGuid(arg, id)) {
        if (types.isType(id)) return id;
    } else {
        id = types.getTypeIdByName(arg);
        if (!isNoType(id) && types.isType(id)) return id;
        id = types.getTypeIdByVIDName(arg);
        if (!isNoType(id) && types.isType(id)) return id;
    }
    throw CommandError(kExitNotFound, "no installed type " + arg);
}

std::string Session::typeName(const GUID& typeId) {
    return std::string(m_inst->typeCont().getTypeNameByID(typeId).view());
}

std::string Session::className(const GUID& typeId) {
    const char* name = typeClassName(m_inst->typeCont().getTypeClass(typeId));
    return name ? name : "?";
}

void Session::save() {
    if (m_access != Access::Write || !m_inst) return;
    DWORD ret = 0;
    const HRESULT hr = m_inst->saveChanges(&ret);
    if (SUCCEEDED(hr) && ret == 0) return;
    std::string cause = FAILED(hr) ? "the save failed" : "the save failed: " + resultText(ret);
    if (m_inst->classification().isRefreshNeeded())
        cause += "; describing the types failed (are the stylesheet k4bi00tx_tf.xsl and the "
                 "PD-files the types name in " +
                 m_dir + "?)";
    throw CommandError(kExitFailure, filePath() + ": " + cause);
}

} // namespace zebinst
