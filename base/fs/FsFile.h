// FsFile: a file known by its path (empty when none). CloseFile is what a
// concrete file class does to let its file go.
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

class FsFile {
public:
    FsFile() = default;
    FsFile(const FsFile&) = delete;
    FsFile& operator=(const FsFile&) = delete;
    virtual ~FsFile();

    // 0 on success, else a storage result code.
    virtual DWORD CloseFile() = 0;

    const std::string& path() const noexcept { return m_strPath; }

protected:
    std::string m_strPath;
};
