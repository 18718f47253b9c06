// FsSectMan: the section manager of one storage. Streams of the storage are
// "sections" (read and written through FsSecCl), sub-storages "directories"
// (each managed by a child FsSectMan).
//
//   FsSecCl* types = root.GetSect("types", FsSectMan::kWrite);   // opens or creates
//   *types << DWORD(0);
//   root.CloseSect(types);                                       // flush + commit
//
// Open elements are cached: a second open returns the same object, moved to
// offset 0, as long as the access mode matches (13 otherwise). The manager
// owns every open section and child; closing (by name, by object, CloseAll,
// or the destructor) destroys them, which flushes and commits.
//
// Result codes: the enum below, shared with the file manager and the
// installation file.
//
// Lock hands the storage out (everything is closed first); until Unlock
// every operation gives 13, and Unlock lists the storage again. Element names
// are UTF-8 here and UTF-16 in the storage. No method throws. Not
// synchronised: one owner at a time.
#pragma once

#include "base/fs/FsSecCl.h"
#include "platform/storage/Storage.h"

#include <map>
#include <memory>
#include <string>

class FsSectMan {
public:
    // Result codes (unsigned 32-bit) of this class, FsFileMan and FsInstFile.
    // The numbers are fixed, gaps included: callers test them and pass them
    // on as they are.
    enum : DWORD {
        kOk = 0,
        kFailed = 1,         // enumeration, allocation, a storage call, a path too long
        kExists = 2,         // the name or file exists; ListAll: the maps are not empty
        kAlreadyOpen = 3,    // the file manager has a file open
        kCreateFailed = 4,   // creating a stream, storage or file
        kCloseFailed = 6,    // closing a child in CloseAll or CloseDir
        kOpenFailed = 7,     // opening a stream, storage or file
        kNotFound = 8,       // name not in the directory; file missing; no path to save to
        kNoStorage = 9,      // no storage attached
        kForeignObject = 10, // the section or directory is not one of this manager's
        kWrongFormat = 11,   // not a compound file, or not an installation file
        kRefused = 13,       // locked, access-mode conflict, not writable, stream handed out
        kSaveFailed = 14,    // putting the working copy in place of the file
        kHeldByWriter = 15,  // open for writing: another writer holds the file (FsWriterLock)
        kNoMemory = 16,      // OpenSect/OpenDir: memory ran out (the element may be whole)
    };

    // Access-mode bits of sections and directories.
    static constexpr DWORD kWrite = 1;
    static constexpr DWORD kCreate = 4;
    // Manager mode flags.
    static constexpr DWORD kModeWritable = 1;
    static constexpr DWORD kModeWorkingCopy = 32;

    // With a storage: one reference; writable when its status says
    // read-write; then ListAll. A failed status or listing locks the manager
    // (traced "error calling Stat" / "error calling ListAll").
    explicit FsSectMan(IStorage* storage = nullptr);
    FsSectMan(const FsSectMan&) = delete;
    FsSectMan& operator=(const FsSectMan&) = delete;
    // CloseAll, commit when writable, release the storage.
    virtual ~FsSectMan();

    DWORD ListAll();
    DWORD OpenSect(const char* name, FsSecCl** out, DWORD mode);
    DWORD CloseSect(const char* name);
    DWORD CloseSect(FsSecCl* section);
    DWORD OpenDir(const char* name, FsSectMan** out, DWORD mode);
    DWORD CloseDir(const char* name);
    DWORD CloseDir(FsSectMan* directory);
    DWORD CloseAll();
    // OpenSect/OpenDir; a missing element is created when the manager is
    // writable and the mode has the write bit. Null on any failure.
    FsSecCl* GetSect(const char* name, DWORD mode);
    FsSectMan* GetDir(const char* name, DWORD mode);
    // The section's size in bytes (0 when unknown or unreadable).
    DWORD GetSize(const char* name);
    bool Lock(IStorage** out);
    DWORD Unlock();
    // A copy of a sub-directory in `destination` (or a new memory storage),
    // with one reference; null on failure. A directory the caller holds open
    // (read-only) stays open with everything in it; one it has locked gives
    // no copy.
    IStorage* getCopyOfDir(const char* name, IStorage* destination);
    // A copy of a section in `destination` (or a new memory stream),
    // positioned at 0, with one reference; null on failure. A section the
    // caller holds open (read-only) stays open at the caller's position; one
    // it has handed out gives no copy.
    IStream* getCopyOfSect(const char* name, IStream* destination);

    bool isLocked() const noexcept { return m_bLocked != 0; }
    bool isWritable() const noexcept { return (m_dwMode & kModeWritable) != 0; }
    DWORD modeFlags() const noexcept { return m_dwMode; }
    INT magic() const noexcept { return m_nMagic; }
    IStorage* storage() const noexcept { return m_pStorage; }
    // Every element name, with its open object (null while not open).
    const std::map<std::string, std::unique_ptr<FsSectMan>>& directories() const noexcept {
        return m_mapDirs;
    }
    const std::map<std::string, std::unique_ptr<FsSecCl>>& sections() const noexcept {
        return m_mapSects;
    }

protected:
    // Takes over one reference to `storage` (the old one is released).
    void adoptStorage(IStorage* storage) noexcept;
    // Destroys every open child and section without closing protocol.
    void dropAll() noexcept;
    // The checks shared by OpenSect and OpenDir; 0 with the wide name on success.
    DWORD checkOpen(const char* name, DWORD mode, std::u16string& wide) const;

    DWORD m_bLocked = 0;
    std::map<std::string, std::unique_ptr<FsSectMan>> m_mapDirs;
    std::map<std::string, std::unique_ptr<FsSecCl>> m_mapSects;
    INT m_nMagic = -1;
    DWORD m_dwMode = 0;
    IStorage* m_pStorage = nullptr;
};
