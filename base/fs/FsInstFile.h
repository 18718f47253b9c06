// FsInstFile: the installation file ("k4bi00tx.dat"): a compound file
// (FsFileMan) with the installation layout (FsInst), both over one section
// manager. Always used in working-copy mode: changes reach the file only
// through saveFile.
//
//   FsInstFile file;
//   DWORD r = file.makeEmptyFile(path);        // 2 when it exists
//   r = file.saveFile();                       // the new file appears at `path`
//   ...
//   r = file.openExistFile(path, FsFileMan::kFileWrite);   // 11: not an installation file
#pragma once

#include "base/fs/FsFileMan.h"
#include "base/fs/FsInst.h"

class FsInstFile : public FsFileMan, public FsInst {
public:
    FsInstFile();
    ~FsInstFile() override;

    // A new installation file, open in working-copy mode: the five root
    // sections, the initial directory and the header. 2 when `path` exists.
    DWORD makeEmptyFile(const char* path);
    // Opens an installation file in working-copy mode; 11 (and closed again)
    // when the header is not an installation header.
    DWORD openExistFile(const char* path, DWORD flags);
};
