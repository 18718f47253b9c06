#include "base/fs/FsFileMan.h"

#include "base/fs/FsMemStorage.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/ComPtr.h"
#include "platform/win/TextConvert.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kSource = "fs_inst";

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int64_t modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return int64_t(st.st_mtime);
}

// Creates a new, empty file with a name nobody can predict (mkstemp: O_EXCL,
// mode 0600) as `dir`/`prefix`XXXXXX; its path, or "" on failure.
std::string createUniqueFile(const std::string& dir, const std::string& prefix) {
    std::string pattern = (dir.empty() ? std::string(".") : dir) + "/" + prefix + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    const int fd = ::mkstemp(buf.data());
    if (fd < 0) return {};
    ::close(fd);
    return std::string(buf.data());
}

std::string temporaryDirectory() {
    const char* tmp = std::getenv("TMP");
    return tmp && *tmp ? std::string(tmp) : std::string(".");
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

bool writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= size_t(w);
    }
    return true;
}

// Copies `from` into the open file `fd`; errno describes a failure.
bool copyInto(const std::string& from, int fd) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (r == 0) break;
        if (!writeAll(fd, buf, size_t(r))) {
            ok = false;
            break;
        }
    }
    const int saved = errno;
    ::close(in);
    errno = saved;
    return ok;
}

// Copies `from` over `to` (plain overwrite): for working copies only, which
// nobody else reads.
bool copyFile(const std::string& from, const std::string& to) {
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) return false;
    const bool ok = copyInto(from, out);
    const int saved = errno;
    ::close(out);
    errno = saved;
    return ok;
}

// Replaces `target` by a copy of `from` so that `target` always holds either
// its old or its new bytes: the copy goes to a new file created exclusively
// in the target's directory, is flushed to disk and renamed over the target,
// then the directory entry is flushed. Returns 0 or an errno value.
int replaceFileAtomically(const std::string& from, const std::string& target) {
    const std::filesystem::path t(target);
    const std::string dir = t.has_parent_path() ? t.parent_path().string() : std::string(".");
    std::string prefix(1, '.');
    prefix += t.filename().string();
    prefix += '.';
    const std::string temp = createUniqueFile(dir, prefix);
    if (temp.empty()) return errno ? errno : EIO;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return e;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    else
        ::fchmod(fd, 0644);
    int error = 0;
    if (!copyInto(from, fd) || ::fsync(fd) != 0) error = errno ? errno : EIO;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

// Removes the files in `dir` named `prefix` and then `tail` characters
// (mkstemp's random letters): temporaries of a save that died.
void removeTemporaries(const std::string& dir, const std::string& prefix, size_t tail) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + tail || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), name.c_str(), 0);
    }
    ::closedir(d);
}

// A working copy of ours by its name and kind: "mctmp" and six letters, a
// plain file of this user. Only such a file named in the lock file is
// removed: whoever could write a line there cannot make us delete another.
bool isWorkingCopy(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    struct stat st {};
    return name.size() == 11 && name.compare(0, 5, "mctmp") == 0 &&
           ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

FsFileMan::FsFileMan() = default;

FsFileMan::~FsFileMan() {
    CCoTraceRecord rec(kSource, "FsFileMan::~FsFileMan");
    guardedDestructor(rec, [&] {
        if (m_pStorage && CloseFile() != 0) {
            ZEB_TRACE(rec, 4, "error calling FsFileMan::CloseFile");
            // Let go regardless: no working copy outlives its manager.
            dropAll();
            adoptStorage(nullptr);
            if (!m_strWorkingCopy.empty()) ::unlink(m_strWorkingCopy.c_str());
        }
        m_writerLock.release();
    });
}

bool FsFileMan::createMemStorage(IStorage** out) {
    return FsMemStorage::create(out);
}

std::string FsFileMan::createWorkingCopy() {
    const std::string copy = createUniqueFile(temporaryDirectory(), "mctmp");
    // A writer that dies leaves it: the next writer removes it.
    if (!copy.empty() && m_writerLock.held()) m_writerLock.note(absolutePath(copy));
    return copy;
}

void FsFileMan::removeLeftBehind(const std::string& target) {
    CCoTraceRecord rec(kSource, "FsFileMan::OpenFile");
    // Holding the writer lock, nobody else saves `target` or works on the
    // working copies a writer that died noted in the lock file.
    for (const std::string& noted : m_writerLock.leftBehind()) {
        const std::filesystem::path copy(noted);
        if (!copy.is_absolute() || !isWorkingCopy(copy)) continue;
        ZEB_TRACE(rec, 3, "removing working copy %s left by a writer that died", noted.c_str());
        ::unlink(noted.c_str());
        // The compound-file engine commits the copy through a temporary
        // ".<name>.tmp-XXXXXX" beside it.
        std::string prefix(1, '.');
        prefix.append(copy.filename().string()).append(".tmp-");
        removeTemporaries(copy.parent_path().string(), prefix, 6);
    }
    // saveFile's temporary ".<file>.XXXXXX" beside the file.
    const std::filesystem::path t(target);
    std::string prefix(1, '.');
    prefix.append(t.filename().string()).append(1, '.');
    removeTemporaries(t.has_parent_path() ? t.parent_path().string() : std::string("."), prefix, 6);
}

DWORD FsFileMan::openWorkingCopy(const std::string& path, DWORD access) {
    const std::string copy = createWorkingCopy();
    if (copy.empty()) return kOpenFailed;
    ComPtr<IStorage> root;
    if (!copyFile(path, copy) ||
        FAILED(StgOpenStorage(zeb::toWide(copy).c_str(), nullptr, access, nullptr, 0, &root))) {
        ::unlink(copy.c_str());
        return kOpenFailed;
    }
    adoptStorage(root.Detach());
    m_strWorkingCopy = copy;
    return kOk;
}

DWORD FsFileMan::OpenFile(const char* pathIn, DWORD flags) {
    CCoTraceRecord rec(kSource, "FsFileMan::OpenFile");
    return guardedBody<DWORD>(rec, kFailed, [&]() -> DWORD {
        if (flags & kFileCreate) flags |= kFileWrite;
        if (m_pStorage) return kAlreadyOpen;
        // Nothing is open: a lock left by an open that failed half-way goes.
        m_writerLock.release();
        std::string path = pathIn ? pathIn : "";
        const bool onDisk = !((flags & kFileCreate) && (flags & kFileInMemory));
        if ((flags & kFileWrite) && onDisk && !path.empty()) {
            // Before anything is read: a working copy taken while another
            // writer still works would be stale when its save lands.
            m_lockHolder = {};
            switch (m_writerLock.acquire(absolutePath(path), &m_lockHolder)) {
            case FsWriterLock::kAcquired:
                removeLeftBehind(absolutePath(path));
                break;
            case FsWriterLock::kHeldElsewhere:
                ZEB_TRACE(rec, 3, "file %s is held by another writer (%s)", path.c_str(),
                          FsWriterLock::describe(m_lockHolder).c_str());
                return kHeldByWriter;
            case FsWriterLock::kUnavailable:
                ZEB_TRACE(rec, 3, "no writer lock for %s, opened without", path.c_str());
                break;
            }
        }
        const DWORD r = openStorage(std::move(path), flags);
        if (r != kOk) m_writerLock.release();
        return r;
    });
}

DWORD FsFileMan::openStorage(std::string path, DWORD flags) {
    m_dwMode = flags & (kFileWrite | kFileWorkingCopy);
    const DWORD access = ((flags & kFileWrite) ? STGM_READWRITE : STGM_READ) | STGM_SHARE_EXCLUSIVE;
    if (flags & kFileCreate) {
        if (flags & kFileInMemory) {
            IStorage* storage = nullptr;
            if (!createMemStorage(&storage)) return kCreateFailed;
            adoptStorage(storage);
            m_dwMode &= ~kFileWorkingCopy;
            m_strPath.clear();
            m_strWorkingCopy.clear();
            m_tLastWrite = 0;
            return kOk;
        }
        if (path.empty()) {
            path = createUniqueFile(".", "Fs");
            if (path.empty()) return kCreateFailed;
        }
        ComPtr<IStorage> root;
        if (flags & kFileWorkingCopy) {
            const std::string copy = createWorkingCopy();
            if (copy.empty()) return kCreateFailed;
            if (FAILED(
                    StgCreateDocfile(zeb::toWide(copy).c_str(), access | STGM_CREATE, 0, &root))) {
                ::unlink(copy.c_str());
                return kCreateFailed;
            }
            m_strWorkingCopy = copy;
        } else if (FAILED(StgCreateDocfile(zeb::toWide(path).c_str(), access | STGM_CREATE, 0,
                                           &root))) {
            return kCreateFailed;
        }
        adoptStorage(root.Detach());
    } else {
        if (path.empty() || !exists(path)) return kNotFound;
        if (StgIsStorageFile(zeb::toWide(path).c_str()) != S_OK) return kWrongFormat;
        if (flags & kFileWorkingCopy) {
            if (const DWORD r = openWorkingCopy(path, access); r != 0) return r;
        } else {
            ComPtr<IStorage> root;
            const HRESULT hr =
                StgOpenStorage(zeb::toWide(path).c_str(), nullptr, access, nullptr, 0, &root);
            if (SUCCEEDED(hr)) {
                adoptStorage(root.Detach());
            } else if (!(flags & kFileWrite)) {
                if (openWorkingCopy(path, access) != 0) return kOpenFailed;
                m_dwMode |= kFileWorkingCopy;
            } else {
                return kOpenFailed;
            }
        }
        if (const DWORD r = ListAll(); r != 0) {
            adoptStorage(nullptr);
            if (!m_strWorkingCopy.empty()) ::unlink(m_strWorkingCopy.c_str());
            m_strWorkingCopy.clear();
            return r;
        }
        ReadMagicNumber();
    }
    m_strPath = absolutePath(path);
    m_strWorkingCopy = absolutePath(m_strWorkingCopy);
    m_tLastWrite = 0;
    if (m_dwMode & kFileWorkingCopy) recordTargetTime();
    return kOk;
}

void FsFileMan::recordTargetTime() {
    m_tLastWrite = modificationTime(m_strPath);
}

void FsFileMan::ReadMagicNumber() {
    CCoTraceRecord rec(kSource, "FsFileMan::ReadMagicNumber");
    FsSecCl* header = nullptr;
    if (OpenSect("header", &header, 0) != 0 || !header) {
        m_nMagic = 0;
        return;
    }
    INT magic = 0;
    *header >> magic;
    m_nMagic = header->state() == 0 ? magic : 0;
    if (CloseSect("header") != 0) ZEB_TRACE(rec, 4, "internal error closing section");
}

DWORD FsFileMan::CloseFile() {
    CCoTraceRecord rec(kSource, "FsFileMan::CloseFile");
    if (!m_pStorage) {
        m_writerLock.release(); // nothing open: nothing to hold
        return kFailed;
    }
    if (CloseAll() != 0) return kFailed;
    m_mapDirs.clear();
    m_mapSects.clear();
    adoptStorage(nullptr);
    if ((m_dwMode & kFileWorkingCopy) && !m_strWorkingCopy.empty()) {
        if (::unlink(m_strWorkingCopy.c_str()) != 0) ZEB_TRACE(rec, 4, "error calling DeleteFile");
    }
    m_strWorkingCopy.clear();
    m_writerLock.release();
    return kOk;
}

DWORD FsFileMan::saveFile() {
    CCoTraceRecord rec(kSource, "FsFileMan::saveFile");
    if (!isWritable()) return kRefused;
    if (!m_pStorage) return kNoStorage;
    if (!(m_dwMode & kFileWorkingCopy) || m_strWorkingCopy.empty()) {
        // The file (or memory storage) is the storage itself; the engine
        // writes it on the root's commit, or only at the last release, which
        // a process that dies after saving never reaches.
        if (FAILED(m_pStorage->Commit(STGC_DEFAULT))) {
            ZEB_TRACE(rec, 4, "error calling Commit");
            return kFailed;
        }
        return kOk;
    }
    if (m_strPath.empty()) return kNotFound;
    if (modificationTime(m_strPath) > m_tLastWrite)
        ZEB_TRACE(rec, 3, "file %s was changed since last open or save op", m_strPath.c_str());
    // The working copy on disk must hold the tree as it is now.
    if (FAILED(m_pStorage->Commit(STGC_DEFAULT))) {
        ZEB_TRACE(rec, 4, "error calling CopyFile from %s to %s, %0x", m_strWorkingCopy.c_str(),
                  m_strPath.c_str(), unsigned(EIO));
        return kSaveFailed;
    }
    if (const int error = replaceFileAtomically(m_strWorkingCopy, m_strPath); error != 0) {
        ZEB_TRACE(rec, 4, "error calling CopyFile from %s to %s, %0x", m_strWorkingCopy.c_str(),
                  m_strPath.c_str(), unsigned(error));
        return kSaveFailed;
    }
    recordTargetTime();
    return kOk;
}
