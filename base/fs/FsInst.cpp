#include "base/fs/FsInst.h"

#include "base/fs/FsSectNames.h"
#include "co/CCoTraceRecord.h"

namespace {
constexpr const char* kSource = "fs_inst";

FsSecCl* openOrNull(FsSectMan& man, const char* name, DWORD mode) {
    FsSecCl* section = nullptr;
    return man.OpenSect(name, &section, mode) == 0 ? section : nullptr;
}
} // namespace

std::string FsInst::guidName(const GUID& guid) {
    std::string text = zeb::guidToString(guid);
    std::string digits;
    for (char c : text)
        if (c != '{' && c != '}' && c != '-') digits += c;
    if (digits.size() != 32) return {};
    digits.resize(30);
    return digits;
}

FsSecCl* FsInst::getTypesSect(DWORD mode) {
    return openOrNull(*this, FS_SECT_TYPES, mode);
}
FsSecCl* FsInst::getToolsSect(DWORD mode) {
    return openOrNull(*this, FS_SECT_TOOLS, mode);
}
FsSecCl* FsInst::getXmlTypesSect(DWORD mode) {
    return openOrNull(*this, FS_SECT_XMLTYPES, mode);
}
FsSecCl* FsInst::getXPathQueriesSect(DWORD mode) {
    return openOrNull(*this, FS_SECT_XPATHQUERIES, mode);
}

DWORD FsInst::writeHeader() {
    FsSecCl* header = nullptr;
    if (const DWORD r = OpenSect(FS_SECT_HEADER, &header, kWrite); r != 0) return r;
    header->setSize(0);
    *header << kMagic;
    header->writeText("\r\n");
    *header << kVersion;
    header->writeText("\r\n");
    const DWORD state = header->state();
    const DWORD r = CloseSect(FS_SECT_HEADER);
    return state != 0 ? kFailed : r;
}

std::string FsInst::readHeader() {
    CCoTraceRecord rec(kSource, "FsInst::readHeader");
    FsSecCl* header = nullptr;
    if (OpenSect(FS_SECT_HEADER, &header, 0) != 0 || !header) return {};
    INT magic = 0;
    std::string text;
    *header >> magic >> text;
    const bool ok = header->state() == 0;
    if (CloseSect(FS_SECT_HEADER) != 0) ZEB_TRACE(rec, 4, "internal error closing section");
    return ok ? text : std::string();
}

FsSectMan* FsInst::openGuidDir(const GUID& guid, DWORD mode) {
    const std::string name = guidName(guid);
    if (name.empty()) return nullptr;
    FsSectMan* dir = nullptr;
    return OpenDir(name.c_str(), &dir, mode) == 0 ? dir : nullptr;
}

DWORD FsInst::createGuidDir(const GUID& guid) {
    const std::string name = guidName(guid);
    if (name.empty()) return kFailed;
    FsSectMan* dir = nullptr;
    if (const DWORD r = OpenDir(name.c_str(), &dir, kCreate); r != 0) return r;
    return CloseDir(dir);
}
