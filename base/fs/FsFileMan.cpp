#include "base/fs/FsFileMan.h"

#include "base/fs/FsIoHooks.h"
#include "base/fs/FsMemStorage.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/ComPtr.h"
#include "platform/win/GlobalMemory.h"
#include "platform/win/TextConvert.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSource = "fs_inst";
// How messages name the working copy, which lives in memory.
constexpr const char* kWorkingCopyName = "<working copy>";

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
// mode 0600) as `dir`/`prefix`XXXXXX; its path, or "" on failure. The path
// is made before the file: nothing can fail between its creation and the
// return that would leave it behind unnamed.
std::string createUniqueFile(const std::string& dir, const std::string& prefix) {
    std::string path = (dir.empty() ? std::string(".") : dir) + "/" + prefix + "XXXXXX";
    const FsIoHooks& io = fsIoHooks();
    const int fd = io.mkstemp(path.data());
    if (fd < 0) return {};
    io.close(fd);
    return path;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

bool writeAll(const FsIoHooks& io, int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = io.write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= size_t(w);
    }
    return true;
}

// Reads the whole file at `path` into a new memory block, the bytes under a
// working copy; null on failure.
HGLOBAL readIntoMemory(const std::string& path) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return nullptr;
    struct stat st {};
    HGLOBAL block = ::fstat(in, &st) == 0 && st.st_size >= 0 && uint64_t(st.st_size) < 0xFFFFFFFFull
                        ? GlobalAlloc(GMEM_MOVEABLE, SIZE_T(st.st_size))
                        : nullptr;
    if (!block) {
        ::close(in);
        return nullptr;
    }
    auto* bytes = static_cast<char*>(GlobalLock(block));
    const size_t want = size_t(st.st_size);
    size_t done = 0;
    bool ok = true;
    while (done < want) {
        const ssize_t r = ::read(in, bytes + done, want - done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        done += size_t(r);
    }
    GlobalUnlock(block);
    ::close(in);
    // A file that shrank meanwhile is taken as far as it reached.
    if (ok && done < want && !GlobalReAlloc(block, done, GMEM_MOVEABLE)) ok = false;
    if (!ok) GlobalFree(block);
    return ok ? block : nullptr;
}

// Replaces `target` by `n` bytes at `data` so that `target` always holds
// either its old or its new bytes: they go to a new file created
// exclusively in the target's directory, are flushed to disk, and the new
// file is renamed over the target; then the directory entry is flushed.
// Returns 0 or an errno value.
int replaceFileAtomically(const char* data, size_t n, const std::string& target) {
    const std::filesystem::path t(target);
    const std::string dir = t.has_parent_path() ? t.parent_path().string() : std::string(".");
    std::string prefix(1, '.');
    prefix += t.filename().string();
    prefix += '.';
    const FsIoHooks& io = fsIoHooks();
    const std::string temp = createUniqueFile(dir, prefix);
    if (temp.empty()) return errno ? errno : EIO;
    const int fd = io.open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
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
    if (!writeAll(io, fd, data, n) || io.fsync(fd) != 0) error = errno ? errno : EIO;
    if (io.close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && io.rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    const int dirFd = io.open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        io.fsync(dirFd);
        io.close(dirFd);
    }
    return 0;
}

// Puts the bytes of the working copy `bytes` in place of `target`
// (replaceFileAtomically); 0 or an errno value.
int replaceFileFromWorkingCopy(ILockBytes* bytes, const std::string& target) {
    STATSTG st{};
    HGLOBAL block = nullptr;
    if (FAILED(bytes->Stat(&st, STATFLAG_NONAME)) ||
        FAILED(GetHGlobalFromILockBytes(bytes, &block)) || !block ||
        st.cbSize.QuadPart > GlobalSize(block))
        return EIO;
    const auto* data = static_cast<const char*>(GlobalLock(block));
    const int error = replaceFileAtomically(data, size_t(st.cbSize.QuadPart), target);
    GlobalUnlock(block);
    return error;
}

// Removes the files in `dir` named `prefix` and then `tail` characters
// (mkstemp's random letters): temporaries of a save that died.
void removeTemporaries(const std::string& dir, const std::string& prefix, size_t tail) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    // Nothing in the loop allocates: nothing can leave it before closedir.
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() != prefix.size() + tail || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
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
            m_spWorkingCopy = nullptr;
        }
        m_writerLock.release();
    });
}

bool FsFileMan::createMemStorage(IStorage** out) {
    return FsMemStorage::create(out);
}

void FsFileMan::removeLeftBehind(const std::string& target) {
    // Holding the writer lock, nobody else saves `target`: a temporary
    // ".<file>.XXXXXX" of a replacement beside it is one a writer that died
    // left behind.
    const std::filesystem::path t(target);
    std::string prefix(1, '.');
    prefix.append(t.filename().string()).append(1, '.');
    removeTemporaries(t.has_parent_path() ? t.parent_path().string() : std::string("."), prefix, 6);
}

DWORD FsFileMan::openWorkingCopy(const std::string& path, DWORD access) {
    HGLOBAL block = readIntoMemory(path);
    if (!block) return kOpenFailed;
    ComPtr<ILockBytes> bytes;
    // The lock-bytes take the block only when they are made.
    if (FAILED(CreateILockBytesOnHGlobal(block, TRUE, &bytes))) {
        GlobalFree(block);
        return kOpenFailed;
    }
    ComPtr<IStorage> root;
    if (FAILED(StgOpenStorageOnILockBytes(bytes.get(), nullptr, access, nullptr, 0, &root)))
        return kOpenFailed;
    adoptStorage(root.Detach());
    m_spWorkingCopy = std::move(bytes);
    return kOk;
}

DWORD FsFileMan::OpenFile(const char* pathIn, DWORD flags) {
    CCoTraceRecord rec(kSource, "FsFileMan::OpenFile");
    const bool wasOpen = m_pStorage != nullptr;
    const DWORD result = guardedBody<DWORD>(rec, kFailed, [&]() -> DWORD {
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
    if (result != kOk && !wasOpen && (m_pStorage || m_writerLock.held())) {
        // An open that stopped half-way (memory ran out after the storage
        // was taken) leaves nothing open: not a storage nothing was read
        // from, nor the writer lock.
        dropAll();
        m_mapDirs.clear();
        m_mapSects.clear();
        adoptStorage(nullptr);
        m_spWorkingCopy = nullptr;
        m_writerLock.release();
    }
    return result;
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
            m_spWorkingCopy = nullptr;
            m_tLastWrite = 0;
            return kOk;
        }
        if (path.empty()) {
            path = createUniqueFile(".", "Fs");
            if (path.empty()) return kCreateFailed;
        }
        ComPtr<IStorage> root;
        if (flags & kFileWorkingCopy) {
            ComPtr<ILockBytes> bytes;
            if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes)) ||
                FAILED(StgCreateDocfileOnILockBytes(bytes.get(), access | STGM_CREATE, 0, &root)))
                return kCreateFailed;
            m_spWorkingCopy = std::move(bytes);
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
            m_spWorkingCopy = nullptr;
            return r;
        }
        ReadMagicNumber();
    }
    m_strPath = absolutePath(path);
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
    m_spWorkingCopy = nullptr; // the working copy goes with its last reference
    m_writerLock.release();
    return kOk;
}

DWORD FsFileMan::saveFile() {
    CCoTraceRecord rec(kSource, "FsFileMan::saveFile");
    if (!isWritable()) return kRefused;
    if (!m_pStorage) return kNoStorage;
    if (!(m_dwMode & kFileWorkingCopy) || !m_spWorkingCopy) {
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
    // The working copy must hold the tree as it is now; its bytes then go
    // straight from memory to the new file.
    int error = FAILED(m_pStorage->Commit(STGC_DEFAULT)) ? EIO : 0;
    if (error == 0) error = replaceFileFromWorkingCopy(m_spWorkingCopy.get(), m_strPath);
    if (error != 0) {
        ZEB_TRACE(rec, 4, "error calling CopyFile from %s to %s, %0x", kWorkingCopyName,
                  m_strPath.c_str(), unsigned(error));
        return kSaveFailed;
    }
    recordTargetTime();
    return kOk;
}
