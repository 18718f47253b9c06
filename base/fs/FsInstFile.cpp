#include "base/fs/FsInstFile.h"

#include "base/fs/FsSectNames.h"
#include "co/CCoTraceRecord.h"

#include <sys/stat.h>

namespace {
constexpr const char* kSource = "fs_inst";
}

FsInstFile::FsInstFile() = default;
FsInstFile::~FsInstFile() = default;

DWORD FsInstFile::makeEmptyFile(const char* path) {
    CCoTraceRecord rec(kSource, "FsInstFile::makeEmptyFile");
    struct stat st {};
    if (path && *path && ::stat(path, &st) == 0) return kExists;
    m_nMagic = kMagic;
    if (const DWORD r = OpenFile(path, kFileCreate | kFileWorkingCopy); r != 0) return r;
    const char* names[] = {FS_SECT_HEADER, FS_SECT_TOOLS, FS_SECT_TYPES, FS_SECT_XMLTYPES,
                           FS_SECT_XPATHQUERIES};
    bool ok = true;
    for (const char* name : names) {
        FsSecCl* section = nullptr;
        if (OpenSect(name, &section, kCreate) != 0) {
            ok = false;
            break;
        }
    }
    if (ok && createGuidDir(kInitialDirectory) == 0) writeHeader();
    const DWORD r = CloseAll();
    if (r == 0) return kOk;
    if (CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
    return r;
}

DWORD FsInstFile::openExistFile(const char* path, DWORD flags) {
    CCoTraceRecord rec(kSource, "FsInstFile::openExistFile");
    if (m_pStorage) return kAlreadyOpen;
    if (const DWORD r = OpenFile(path, flags | kFileWorkingCopy); r != 0) return r;
    if (m_nMagic == kMagic && readHeader() == kVersion) return kOk;
    if (CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
    return kWrongFormat;
}
