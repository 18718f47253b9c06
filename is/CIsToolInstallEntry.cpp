#include "is/CIsToolInstallEntry.h"

#include "base/fs/FsSecCl.h"

CIsToolInstallEntry::~CIsToolInstallEntry() = default;

void CIsToolInstallEntry::write(FsSecCl& sec) const {
    sec << m_name;
    sec.separator();
    sec << m_clsid;
    sec.separator();
    sec << m_value;
}

void CIsToolInstallEntry::read(FsSecCl& sec) {
    sec >> m_name >> m_clsid >> m_value;
}

FsSecCl& operator<<(FsSecCl& sec, const CIsToolInstallEntry& entry) {
    entry.write(sec);
    return sec;
}

FsSecCl& operator>>(FsSecCl& sec, CIsToolInstallEntry& entry) {
    entry.read(sec);
    return sec;
}
