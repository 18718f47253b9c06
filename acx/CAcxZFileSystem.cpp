#include "acx/CAcxZFileSystem.h"
#include "acx/CAcxZFileHandle.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CAcxZFileHandle::~CAcxZFileHandle() {
    close();
}

int CAcxZFileHandle::close() {
    int rc = 0;
    if (m_gz && gzclose(m_gz) != Z_OK) rc = -1;
    if (m_pPlain && fclose(m_pPlain) != 0) rc = -1;
    m_gz = nullptr;
    m_pPlain = nullptr;
    return rc;
}

namespace {

CAcxZFileHandle* asZ(CAcxFileHandleBase* handle) {
    return dynamic_cast<CAcxZFileHandle*>(handle);
}

// Probes an open plain file: gzip magic, and the data length (the gzip
// trailer's length field, or the file length).
bool probe(FILE* f, bool& compressed, int64_t& length) {
    unsigned char magic[2] = {0, 0};
    size_t got = fread(magic, 1, 2, f);
    compressed = got == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    off_t end = ftello(f);
    if (end < 0) return false;
    length = end;
    if (compressed) {
        unsigned char trailer[4] = {0, 0, 0, 0};
        if (end >= 4 && fseeko(f, -4, SEEK_END) == 0 && fread(trailer, 1, 4, f) == 4)
            length = int64_t(trailer[0] | trailer[1] << 8 | trailer[2] << 16 |
                             uint32_t(trailer[3]) << 24);
        else
            length = 0;
    }
    return fseeko(f, 0, SEEK_SET) == 0;
}

bool writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

} // namespace

bool CAcxZFileSystem::unpack(const char* path) {
    if (!path || !*path) return false;
    // A symbolic link is followed: the file it names is rewritten beside itself.
    char* real = ::realpath(path, nullptr);
    if (!real) return false;
    std::string target(real);
    std::free(real);
    std::string dir = ".", name = target;
    if (auto slash = target.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : target.substr(0, slash);
        name = target.substr(slash + 1);
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    // mkstemp creates the file exclusively (O_EXCL) with an unguessable name.
    std::string temp = dir + "/." + name + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = true;
    gzFile gz = gzopen(target.c_str(), "rb");
    if (!gz) ok = false;
    if (ok) {
        gzbuffer(gz, 128 * 1024);
        static constexpr size_t kBlock = 64 * 1024;
        std::string block(kBlock, '\0');
        for (;;) {
            int got = gzread(gz, block.data(), unsigned(kBlock));
            if (got < 0) {
                ok = false;
                break;
            }
            if (got == 0) break;
            if (!writeAll(fd, block.data(), size_t(got))) {
                ok = false;
                break;
            }
        }
        // A stream cut short, a bad check value or a lying length field all
        // leave an error behind: the copy is then incomplete.
        int err = Z_OK;
        gzerror(gz, &err);
        if (err != Z_OK) ok = false;
        if (gzclose(gz) != Z_OK) ok = false;
    }
    if (ok && ::fchmod(fd, st.st_mode & 07777) != 0) ok = false;
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

CAcxFileHandleBase* CAcxZFileSystem::open(const char* path, const char* mode) {
    if (!path || !mode) return nullptr;
    const bool reading = mode[0] == 'r' || (mode[0] && mode[1] == 'r');
    if (!reading) {
        gzFile gz = gzopen(path, mode);
        return gz ? new CAcxZFileHandle(gz, nullptr, false, 0) : nullptr;
    }
    FILE* plain = fopen(path, "rb");
    if (!plain) return nullptr;
    bool isCompressed = false;
    int64_t length = 0;
    if (!probe(plain, isCompressed, length)) {
        fclose(plain);
        return nullptr;
    }
    if (isCompressed && m_bUnpackInPlace) {
        fclose(plain);
        if (!unpack(path)) return nullptr;
        plain = fopen(path, "rb");
        if (!plain) return nullptr;
        if (!probe(plain, isCompressed, length)) {
            fclose(plain);
            return nullptr;
        }
    }
    // The stream reads the very file that was probed, through its own
    // descriptor; the FILE's buffering may have left the shared offset
    // anywhere, so it is rewound first.
    int fd = ::dup(fileno(plain));
    gzFile gz = fd >= 0 && ::lseek(fd, 0, SEEK_SET) == 0 ? gzdopen(fd, "rb") : nullptr;
    if (!gz) {
        if (fd >= 0) ::close(fd);
        fclose(plain);
        return nullptr;
    }
    // Compressed files get a large buffer. Plain files are copied through
    // it, except reads of at least its size, which go straight to the
    // caller: a small buffer keeps the reader's large reads copy-free.
    gzbuffer(gz, isCompressed ? 256 * 1024 : 16 * 1024);
    return new CAcxZFileHandle(gz, plain, isCompressed, length);
}

int CAcxZFileSystem::close(CAcxFileHandleBase* handle) {
    if (!handle) return -1;
    int rc = 0;
    if (auto* z = asZ(handle)) rc = z->close();
    delete handle;
    return rc;
}

size_t CAcxZFileSystem::read(void* buffer, size_t size, size_t count, CAcxFileHandleBase* handle) {
    auto* z = asZ(handle);
    if (!z || !z->m_gz || !buffer || size == 0 || count == 0) return 0;
    return gzfread(buffer, size, count, z->m_gz);
}

size_t CAcxZFileSystem::write(const void* buffer, size_t size, size_t count,
                              CAcxFileHandleBase* handle) {
    auto* z = asZ(handle);
    if (!z || !z->m_gz || !buffer || size == 0 || count == 0) return 0;
    return gzfwrite(buffer, size, count, z->m_gz);
}

int CAcxZFileSystem::seek(CAcxFileHandleBase* handle, int64_t offset, int origin) {
    auto* z = asZ(handle);
    if (!z || !z->m_gz) return -1;
    return gzseek(z->m_gz, z_off_t(offset), origin) < 0 ? -1 : 0;
}

int64_t CAcxZFileSystem::tell(CAcxFileHandleBase* handle) {
    auto* z = asZ(handle);
    if (!z || !z->m_gz) return -1;
    z_off_t pos = gztell(z->m_gz);
    return pos < 0 ? -1 : int64_t(pos);
}

int64_t CAcxZFileSystem::size(CAcxFileHandleBase* handle) {
    auto* z = asZ(handle);
    return z ? z->m_nLength : -1;
}

bool CAcxZFileSystem::compressed(CAcxFileHandleBase* handle) {
    auto* z = asZ(handle);
    return z && z->m_bCompressed;
}
