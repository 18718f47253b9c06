// FsInst: the installation-file layer over a section manager: the header
// with its magic, the fixed root sections and the per-type directories named
// after GUIDs.
//
// Header ("header" section): the signed integer 5, CR LF, the string
// "ZEB.BASISES.version.1.0" in the string encoding, CR LF (31 bytes). A file
// is an installation file when both match.
//
// GUID-names: the registry form of the GUID without braces and hyphens, cut
// to its first 30 hexadecimal digits (upper case).
#pragma once

#include "base/fs/FsSectMan.h"
#include "platform/com/Guid.h"

#include <string>

class FsInst : public virtual FsSectMan {
public:
    static constexpr INT kMagic = 5;
    static constexpr const char* kVersion = "ZEB.BASISES.version.1.0";
    // The directory every new installation file carries.
    static constexpr GUID kInitialDirectory = makeGuid("132B44C0-7FF7-11D3-8544-0050046A30DE");

    static std::string guidName(const GUID& guid);

    // OpenSect on the fixed root sections with `mode`; null on any failure.
    FsSecCl* getTypesSect(DWORD mode);
    FsSecCl* getToolsSect(DWORD mode);
    FsSecCl* getXmlTypesSect(DWORD mode);
    FsSecCl* getXPathQueriesSect(DWORD mode);

    // Writes the header into "header" (opened for writing) and closes it.
    DWORD writeHeader();
    // Reads the header's integer and string; the string ("" on failure).
    std::string readHeader();

    // The directory of a type (OpenDir with `mode`), or null.
    FsSectMan* openGuidDir(const GUID& guid, DWORD mode);
    // Creates the directory of a type and closes it again; a result code.
    DWORD createGuidDir(const GUID& guid);
};
