// FsFileMan: a whole compound file (open, create, close, save), managed as a
// section manager of its root storage.
//
//   FsInstFile file;                          // FsFileMan + the installation layer
//   DWORD r = file.OpenFile("/data/a.dat", FsFileMan::kFileWrite | FsFileMan::kFileWorkingCopy);
//   ... sections through the FsSectMan operations ...
//   r = file.saveFile();                      // the working copy replaces the file
//   r = file.CloseFile();                     // the working copy is dropped
//
// Working-copy mode (flag 32): the storage is opened on a private copy of
// the file's bytes in process memory (memory lock-bytes; the file is read
// once, nothing is written beside it) and saveFile puts that copy in place
// of the file. The replacement is atomic: the bytes go to a new file
// created exclusively beside the target, are flushed to disk, and the new
// file is renamed over the target; a crash or a full disk leaves the old
// file intact. Its system calls go through FsIoHooks, where tests make
// them fail. A read-only open that cannot open the file directly (it is
// held exclusively elsewhere) falls back to a working copy.
//
// One writer at a time. An open for writing (write or create flag, on a
// file on disk) takes the writer lock of the file (FsWriterLock: a lock file
// "<file>.lock" beside it, which the atomic replacement leaves alone) before
// it reads anything, and holds it until CloseFile; while another open holds
// it, in this process or another, the open fails with 15 and
// writerLockHolder() names the holder. Opens for reading take no lock and
// are never refused. A lock file that cannot be used at all (a folder
// nobody may create it in) leaves the open unlocked, as before.
//
// A writer killed while it saves leaves the temporary of the replacement
// (".<file>.XXXXXX") beside the file. Taking the lock, the next writer
// removes it: while the lock is held, such a file can only be a dead
// writer's.
//
// Flags: 1 write, 4 create (implies write), 8 in memory (with create), 32
// working copy. Result codes as FsSectMan, plus 2 exists, 3 open already,
// 4 cannot create, 7 cannot open, 8 missing / no path to save to, 11 not a
// compound file, 13 not writable, 14 replacing the file failed, 15 another
// writer holds the file.
#pragma once

#include "base/fs/FsFile.h"
#include "base/fs/FsSectMan.h"
#include "base/fs/FsWriterLock.h"
#include "platform/com/ComPtr.h"
#include "platform/storage/Storage.h"

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
    // 1 without storage or when CloseAll fails; else releases the root,
    // deletes the working copy and lets the writer lock go. 0 on success.
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

    // Whether the storage is a working copy (in memory) that saveFile puts in place.
    bool hasWorkingCopy() const noexcept { return m_spWorkingCopy != nullptr; }
    // The writer that held the file when the last open for writing was
    // refused with 15 (pid 0 when that open was not refused).
    const FsWriterLock::Holder& writerLockHolder() const noexcept { return m_lockHolder; }

protected:
    ComPtr<ILockBytes> m_spWorkingCopy; // the bytes under a working copy, else null
    int64_t m_tLastWrite = 0;           // target's modification time in seconds (0: unknown)
    FsWriterLock m_writerLock;
    FsWriterLock::Holder m_lockHolder;

private:
    DWORD openStorage(std::string path, DWORD flags);
    DWORD openWorkingCopy(const std::string& path, DWORD access);
    // Removes saveFile's temporaries beside `target` that writers who died
    // left. REQUIRES: the writer lock is held.
    void removeLeftBehind(const std::string& target);
    void recordTargetTime();
};
