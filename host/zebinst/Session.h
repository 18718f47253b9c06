// Session: the configuration directory a zebinst run works on and the
// installation opened there.
//
//   Session session(globalDir);                 // -C DIR, or the configured one
//   CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
//   GUID id = session.resolveType("SampleDrive");   // exit 2 when unknown
//   session.save();                             // only after Access::Write
//
// A read-only session opens the installation read-only: it takes no writer
// lock, creates nothing and cannot save.
#pragma once

#include "is/CZEBIntInstallation.h"
#include "platform/com/ComPtr.h"

#include <string>

namespace zebinst {

class Session {
public:
    enum class Access { ReadOnly, Write };

    // `dir` from -C; empty: the configured directory (a usage error when
    // there is none).
    explicit Session(std::string dir);

    const std::string& directory() const { return m_dir; }
    std::string filePath() const { return m_dir + "/" + CZEBIntInstallation::kFileName; }

    // Opens the installation file of the directory; a failure (no file, not
    // an installation file, unreadable) ends the command with exit 3.
    CZEBIntInstallation& open(Access access);
    // Makes the installation file (the installation object creates and
    // saves it when missing); exit 3 when that fails.
    CZEBIntInstallation& create();
    CZEBIntInstallation& inst() { return *m_inst; }

    // A type by name ("SampleDrive.1.0", any case), by version-independent
    // name (the newest "SampleDrive.x.y") or by identifier in registry form
    // ("{5A3E1001-...}"); exit 2 when no installed type matches.
    GUID resolveType(const std::string& arg);
    // The type's name ("" when it has none).
    std::string typeName(const GUID& typeId);
    // The type's class name ("Device", ...).
    std::string className(const GUID& typeId);

    // Saves the changes; exit 3 with the cause when that fails.
    void save();

private:
    std::string m_dir;
    Access m_access = Access::ReadOnly;
    ComPtr<CZEBIntInstallation> m_inst;

    void make(); // the installation object over the directory
};

// Parses a GUID in registry form; nullopt for other text.
bool parseGuid(const std::string& text, GUID& out);
// A GUID argument; a usage error naming `what` when it is not one.
GUID guidArgument(const std::string& text, const char* what);

} // namespace zebinst
