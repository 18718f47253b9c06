// FsFileMan: a whole compound file (open, create, close, save), managed as a
// section manager of its root storage.
//
//   FsInstFile file;                          // FsFileMan + the installation layer
//   DWORD r = file.OpenFile("/data/a.dat", FsFileMan::kFileWrite | FsFileMan::kFileWorkingCopy);
//   ... sections through the FsSectMan operations ...
//   r = file.saveFile();                      // the working copy replaces the file
//   r = file.CloseFile();                     // the working copy is deleted
//
// Working-copy mode (flag 32): the storage is opened on a private copy
// ("mctmp*" in $TMP, else the current directory) and saveFile puts that copy
// in place of the file. The replacement is atomic: the bytes go to a new
// file created exclusively beside the target, are flushed to disk, and the
// new file is renamed over the target; a crash or a full disk leaves the old
// file intact. A read-only open that cannot open the file directly (it is
// held exclusively elsewhere) falls back to a working copy.
//
// Flags: 1 write, 4 create (implies write), 8 in memory (with create), 32
// working copy. Result codes as FsSectMan, plus 2 exists, 3 open already,
// 4 cannot create, 7 cannot open, 8 missing / no path to save to, 11 not a
// compound file, 13 not writable, 14 replacing the file failed.
#pragma once

#include "base/fs/FsFile.h"
#include "base/fs/FsSectMan.h"

#include <cstdint>
#include <string>

class FsFileMan : public FsFile, public virtual FsSectMan {
public:
    static constexpr DWORD kFileWrite = 1;
    static constexpr DWORD kFileCreate = 4;
    static constexpr DWORD kFileInMemory = 8;
    static constexpr DWORD kFileWorkingCopy = 32;

    FsFileMan();
    // CloseFile ("error calling FsFileMan::CloseFile" when it fails).
    ~FsFileMan() override;

    DWORD OpenFile(const char* path, DWORD flags);
    // 1 without storage or when CloseAll fails; else releases the root and
    // deletes the working copy. 0 on success.
    DWORD CloseFile() override;
    // Working copy: commits it and puts it in place of the file (8 without
    // a path to save to, 14 when that fails). Otherwise commits the root
    // storage, which writes the file (1 when that fails). 13 when not
    // writable, 9 without storage.
    DWORD saveFile();
    // The magic becomes the integer in "header" (0 when unreadable).
    void ReadMagicNumber();

    // A new compound storage in memory (or in a temporary file deleted on
    // release), as "STORAGE_MODE" decides once per process: FsMemStorage::create.
    static bool createMemStorage(IStorage** out);

    const std::string& workingCopyPath() const noexcept { return m_strWorkingCopy; }

protected:
    std::string m_strWorkingCopy;
    int64_t m_tLastWrite = 0; // target's modification time in seconds (0: unknown)

private:
    DWORD openWorkingCopy(const std::string& path, DWORD access);
    void recordTargetTime();
};
