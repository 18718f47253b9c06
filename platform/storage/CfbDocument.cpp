#include "platform/storage/CfbDocument.h"

#include "platform/storage/CfbReader.h"
#include "platform/storage/CfbWriter.h"
#include "platform/win/TextConvert.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zeb {

namespace {

HRESULT errnoToStg(int e, HRESULT fallback) {
    switch (e) {
    case ENOENT:
        return STG_E_FILENOTFOUND;
    case ENOTDIR:
        return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
        return STG_E_ACCESSDENIED;
    case EROFS:
        return STG_E_DISKISWRITEPROTECTED;
    case ENOSPC:
    case EDQUOT:
        return STG_E_MEDIUMFULL;
    case EMFILE:
    case ENFILE:
        return STG_E_TOOMANYOPENFILES;
    case ENOMEM:
        return STG_E_INSUFFICIENTMEMORY;
    case EWOULDBLOCK:
        return STG_E_SHAREVIOLATION;
    default:
        return fallback;
    }
}

bool writeAll(int fd, const BYTE* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Reads the whole file into a buffer that is not zeroed first.
HRESULT readAll(int fd, std::unique_ptr<BYTE[]>& out, size_t& size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return errnoToStg(errno, STG_E_READFAULT);
    size = static_cast<size_t>(st.st_size);
    out.reset(new BYTE[size ? size : 1]);
    size_t done = 0;
    while (done < size) {
        ssize_t r = ::pread(fd, out.get() + done, size - done, static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return errnoToStg(errno, STG_E_READFAULT);
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    size = done;
    return S_OK;
}

std::string baseOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

HRESULT stgmCheck(DWORD mode) noexcept {
    if ((mode & 3) == 3) return STG_E_INVALIDFLAG;
    if ((mode & 0x70) > STGM_SHARE_DENY_NONE) return STG_E_INVALIDFLAG;
    if (mode & STGM_CONVERT) return STG_E_INVALIDFLAG;
    if ((mode & STGM_CREATE) && (mode & STGM_CONVERT)) return STG_E_INVALIDFLAG;
    return S_OK;
}

CfbDocument::~CfbDocument() {
    close();
}

std::u16string CfbDocument::displayName() const {
    try {
        return toWide(m_path);
    } catch (...) {
        return {};
    }
}

HRESULT CfbDocument::lockFile(int fd) noexcept {
    if (m_lockKind == 0) return S_OK;
    while (flock(fd, m_lockKind | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? STG_E_SHAREVIOLATION : STG_E_LOCKVIOLATION;
    }
    return S_OK;
}

HRESULT CfbDocument::loadImage(std::shared_ptr<const BYTE[]> image, size_t size) noexcept {
    std::shared_ptr<CfbNode> root;
    HRESULT hr = CfbReader::read(std::move(image), size, root);
    if (FAILED(hr)) return hr;
    m_root = std::move(root);
    return S_OK;
}

HRESULT CfbDocument::openFile(const std::string& path, DWORD mode, bool create) noexcept {
    try {
        m_path = path;
        m_mode = mode;
        m_deleteOnRelease = (mode & STGM_DELETEONRELEASE) != 0;
        m_writable = stgmWrites(mode) || create;
        DWORD share = mode & 0x70;
        // Writers rewrite the whole file, so they always exclude others.
        if (m_writable || share == STGM_SHARE_EXCLUSIVE || share == STGM_SHARE_DENY_READ)
            m_lockKind = LOCK_EX;
        else if (share == STGM_SHARE_DENY_WRITE)
            m_lockKind = LOCK_SH;
        int fd = ::open(path.c_str(), (m_writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        if (fd < 0 && !(create && errno == ENOENT)) return errnoToStg(errno, STG_E_FILENOTFOUND);
        if (fd >= 0) {
            struct stat st {};
            if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
                ::close(fd);
                return STG_E_ACCESSDENIED;
            }
            if (create && !(mode & STGM_CREATE)) {
                ::close(fd);
                return STG_E_FILEALREADYEXISTS;
            }
            m_fd = fd;
            HRESULT hr = lockFile(fd);
            if (FAILED(hr)) {
                close();
                return hr;
            }
            if (m_writable) removeStaleTemporaries();
        }
        if (create) {
            m_root = std::make_shared<CfbNode>();
            m_root->name = u"Root Entry";
            m_root->mtime = cfbNow();
            return save(true);
        }
        std::unique_ptr<BYTE[]> image;
        size_t size = 0;
        HRESULT hr = readAll(m_fd, image, size);
        if (SUCCEEDED(hr)) hr = loadImage(std::shared_ptr<const BYTE[]>(std::move(image)), size);
        if (FAILED(hr)) close();
        return hr;
    } catch (const std::bad_alloc&) {
        close();
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        close();
        return STG_E_UNKNOWN;
    }
}

HRESULT CfbDocument::openLockBytes(ILockBytes* lockBytes, DWORD mode, bool create) noexcept {
    try {
        m_lockBytes = lockBytes;
        m_mode = mode;
        m_writable = stgmWrites(mode) || create;
        if (create) {
            m_root = std::make_shared<CfbNode>();
            m_root->name = u"Root Entry";
            m_root->mtime = cfbNow();
            return save(true);
        }
        STATSTG st{};
        HRESULT hr = lockBytes->Stat(&st, STATFLAG_NONAME);
        if (FAILED(hr)) return hr;
        if (st.cbSize.QuadPart > SIZE_MAX / 2) return STG_E_DOCFILETOOLARGE;
        size_t size = static_cast<size_t>(st.cbSize.QuadPart);
        std::unique_ptr<BYTE[]> image(new BYTE[size ? size : 1]);
        size_t done = 0;
        while (done < size) {
            ULONG chunk = static_cast<ULONG>(std::min<size_t>(size - done, 1u << 30));
            ULONG got = 0;
            ULARGE_INTEGER off;
            off.QuadPart = done;
            hr = lockBytes->ReadAt(off, image.get() + done, chunk, &got);
            if (FAILED(hr)) return hr;
            if (got == 0) break;
            done += got;
        }
        return loadImage(std::shared_ptr<const BYTE[]>(std::move(image)), done);
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        return STG_E_UNKNOWN;
    }
}

void CfbDocument::removeStaleTemporaries() noexcept {
    // Holding the exclusive lock on the file, no other writer is saving it,
    // so a temporary of its name is left from a save that died (a crash or
    // a kill between creating it and renaming it).
    try {
        std::string dir = directoryOf(m_path);
        // (Appended piece by piece: GCC 12 warns falsely on "." + s + "...".)
        std::string prefix(1, '.');
        prefix.append(baseOf(m_path)).append(".tmp-");
        DIR* d = ::opendir(dir.c_str());
        if (!d) return;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
                ::unlinkat(::dirfd(d), name.c_str(), 0);
        }
        ::closedir(d);
    } catch (...) {
    }
}

HRESULT CfbDocument::replaceFile(const std::vector<BYTE>& image) noexcept {
    try {
        std::string dir = directoryOf(m_path);
        std::string base = baseOf(m_path);
        // mkostemp creates the name exclusively, with random letters: no other
        // process can plant the file we write into.
        std::string tmpl = dir + "/." + base + ".tmp-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? STG_E_PATHNOTFOUND : errnoToStg(errno, STG_E_WRITEFAULT);
        auto fail = [&](HRESULT hr) {
            ::close(fd);
            ::unlink(name.data());
            return hr;
        };
        // The new file gets the old one's permissions (or the default ones).
        mode_t perms = 0666;
        struct stat st {};
        if (m_fd >= 0 && fstat(m_fd, &st) == 0) {
            perms = st.st_mode & 07777;
        } else {
            mode_t mask = umask(0);
            umask(mask);
            perms &= ~mask;
        }
        if (fchmod(fd, perms) != 0) return fail(errnoToStg(errno, STG_E_WRITEFAULT));
        if (!writeAll(fd, image.data(), image.size()))
            return fail(errnoToStg(errno, STG_E_WRITEFAULT));
        if (fsync(fd) != 0) return fail(errnoToStg(errno, STG_E_WRITEFAULT));
        // Lock the new file before it takes the name, so that nobody opens
        // it unlocked in between.
        if (m_lockKind && flock(fd, m_lockKind | LOCK_NB) != 0) return fail(STG_E_LOCKVIOLATION);
        if (::rename(name.data(), m_path.c_str()) != 0)
            return fail(errnoToStg(errno, STG_E_WRITEFAULT));
        int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            fsync(dfd);
            ::close(dfd);
        }
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
        return S_OK;
    } catch (...) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT CfbDocument::save(bool force) noexcept {
    if (m_closed) return STG_E_REVERTED;
    // A file that goes at release is written only when asked (Commit).
    if (m_deleteOnRelease && !force && m_closing) return S_OK;
    if (!m_writable) return force ? STG_E_ACCESSDENIED : S_OK;
    if (!m_dirty && !force) return S_OK;
    std::vector<BYTE> image;
    HRESULT hr = CfbWriter::write(*m_root, image);
    if (FAILED(hr)) return hr;
    if (m_lockBytes) {
        size_t done = 0;
        while (done < image.size()) {
            ULONG chunk = static_cast<ULONG>(std::min<size_t>(image.size() - done, 1u << 30));
            ULONG put = 0;
            ULARGE_INTEGER off;
            off.QuadPart = done;
            hr = m_lockBytes->WriteAt(off, image.data() + done, chunk, &put);
            if (FAILED(hr)) return hr;
            if (put == 0) return STG_E_WRITEFAULT;
            done += put;
        }
        ULARGE_INTEGER size;
        size.QuadPart = image.size();
        hr = m_lockBytes->SetSize(size);
        if (FAILED(hr)) return hr;
        hr = m_lockBytes->Flush();
        if (FAILED(hr)) return hr;
    } else {
        hr = replaceFile(image);
        if (FAILED(hr)) return hr;
    }
    m_dirty = false;
    return S_OK;
}

void CfbDocument::close() noexcept {
    if (m_deleteOnRelease && !m_closed && !m_path.empty()) ::unlink(m_path.c_str());
    if (m_fd >= 0) {
        ::close(m_fd); // drops the flock
        m_fd = -1;
    }
    m_lockBytes.Release();
    m_closed = true;
}

} // namespace zeb
