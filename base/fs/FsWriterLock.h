// FsWriterLock: the advisory lock that a writer of a file holds, so that two
// writers never work on one file at the same time (each on its own working
// copy, the later save would silently replace the earlier one).
//
//   FsWriterLock lock;
//   FsWriterLock::Holder holder;
//   switch (lock.acquire("/data/k4bi00tx.dat", &holder)) {
//   case FsWriterLock::kAcquired: ...          // we are the writer
//   case FsWriterLock::kHeldElsewhere: ...     // holder.pid, holder.name
//   case FsWriterLock::kUnavailable: ...       // no lock file could be used
//   }
//   lock.release();
//
// The lock is an exclusive flock on a lock file beside the file
// ("<file>.lock"), never renamed and never deleted: the file itself is
// replaced by a rename on every save, and a lock on it would go with the old
// file. flock locks belong to the open file description, so a second open in
// the same process (another object, another thread) conflicts like another
// process; the kernel drops the lock when its holder dies. The holder writes
// its pid into the lock file for the refusal message; a pid left there by a
// holder that died blocks nobody (only the flock counts) and is overwritten
// by the next writer. The descriptor is close-on-exec: a program started by
// the holder does not keep the lock; a forked child that has not exec'd
// shares it until the parent releases it, and never releases it itself.
// Readers take no lock and are never blocked. Not synchronised: one owner.
//
// What a holder leaves if it dies: the holder notes in the lock file, one
// line each after its pid, the files it makes that only it would delete (its
// working copy). A holder that lets go empties the lock file; one that dies
// leaves its lines, and the next holder finds them in leftBehind() as it
// takes the lock, to remove them.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class FsWriterLock {
public:
    enum Result {
        kAcquired,      // this object holds the lock
        kHeldElsewhere, // another open (process, object or thread) holds it
        kUnavailable,   // the lock file cannot be opened or locked: no lock
    };

    // Who holds a lock: pid 0 when the lock file names nobody; the name is
    // the program name of the process (/proc/<pid>/comm), empty when unknown.
    struct Holder {
        pid_t pid = 0;
        std::string name;
    };

    FsWriterLock() = default;
    FsWriterLock(const FsWriterLock&) = delete;
    FsWriterLock& operator=(const FsWriterLock&) = delete;
    ~FsWriterLock();

    // Takes the lock for `file` (a lock held already is released first).
    // kHeldElsewhere fills `holder` (when given) from the lock file.
    Result acquire(const std::string& file, Holder* holder);
    // Lets the lock go; the lock file stays, emptied. In a forked child
    // that inherited the lock only the descriptor is closed: the lock stays
    // the parent's.
    void release() noexcept;
    bool held() const noexcept { return m_fd >= 0; }

    // Records `path` in the lock file for as long as the lock is held: if
    // this process dies holding it, the next holder finds it in leftBehind().
    // False when nothing was written: no lock held (or only inherited by a
    // fork), or a lock file of another user, opened read-only.
    bool note(const std::string& path);
    // The paths the previous holder noted and, having died, never cleared;
    // filled by acquire (kAcquired), empty otherwise.
    const std::vector<std::string>& leftBehind() const noexcept { return m_leftBehind; }

    // "<file>.lock".
    static std::string lockPath(const std::string& file);
    // "pid 1234, zebinst", "pid 1234" without a name, "" without a pid.
    static std::string describe(const Holder& holder);

private:
    bool writeContent();

    int m_fd = -1;
    pid_t m_owner = 0; // the process that took the lock
    std::vector<std::string> m_noted;
    std::vector<std::string> m_leftBehind;
};
