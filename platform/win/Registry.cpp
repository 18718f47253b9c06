#include "platform/win/Registry.h"

#include "platform/win/RegistryDocument.h"
#include "platform/win/TextConvert.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

// Predefined keys are static sentinels; opened keys are heap objects that
// hold the full path of the key they name.
struct HKEY__ {
    int root; // 1..4 for the predefined keys, 0 for an opened key
};

namespace {

HKEY__ g_rootKeys[4] = {{1}, {2}, {3}, {4}};
constexpr const char* kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                       "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

} // namespace

const HKEY HKEY_CLASSES_ROOT = &g_rootKeys[0];
const HKEY HKEY_CURRENT_USER = &g_rootKeys[1];
const HKEY HKEY_LOCAL_MACHINE = &g_rootKeys[2];
const HKEY HKEY_USERS = &g_rootKeys[3];

namespace {

using zeb::RegistryDocument;

struct OpenKey : HKEY__ {
    std::string path; // normalized full path, as the store spells it
    REGSAM access;
    uint64_t id; // the key's identity when it was opened (RegistryDocument::keyId)
};

// ---------------------------------------------------------------------------
// Reading the file

// One reading of the store file.
struct Snapshot {
    std::shared_ptr<const RegistryDocument> doc;
    LONG error = ERROR_SUCCESS; // ERROR_BADDB: corrupt, ERROR_CANTREAD: unreadable
    std::string problem;        // what was wrong, "" when error is ERROR_SUCCESS
    bool exists = false;
    mode_t mode = 0644;
};

// The last reading of each file, reused while the file is unchanged. A stat
// match alone is trusted only when the file's mtime was well before the
// moment we read it (otherwise a rewrite within the same timestamp tick,
// even one that reuses the inode, could go unseen); else the bytes are read
// and compared, which still saves the parse.
struct CacheEntry {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec readAt{};
    std::string bytes;
    Snapshot snapshot;
};

std::mutex& cacheMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::unordered_map<std::string, CacheEntry>& cache() {
    static auto* c = new std::unordered_map<std::string, CacheEntry>;
    return *c;
}
constexpr size_t kMaxCachedFiles = 16;
constexpr time_t kRacySeconds = 2;

thread_local std::string t_lastProblem;

std::shared_ptr<const RegistryDocument> emptyDocument() {
    static const auto* empty =
        new std::shared_ptr<const RegistryDocument>(std::make_shared<const RegistryDocument>());
    return *empty;
}

timespec realNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool readAll(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

void remember(const std::string& path, const struct stat& st, const timespec& readAt,
              std::string bytes, const Snapshot& snapshot) {
    std::lock_guard lock(cacheMutex());
    auto& c = cache();
    if (c.size() >= kMaxCachedFiles && !c.count(path)) c.erase(c.begin());
    c[path] = CacheEntry{st.st_dev, st.st_ino,        st.st_size, st.st_mtim,
                         readAt,    std::move(bytes), snapshot};
}

Snapshot readStore(const std::string& path) {
    Snapshot snap;
    snap.doc = emptyDocument();
    if (path.empty()) {
        snap.error = ERROR_CANTREAD;
        snap.problem = "no registry path: neither ZEB_REGISTRY nor a home directory is set";
        return snap;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return snap; // a missing store is empty
        snap.error = ERROR_CANTREAD;
        snap.problem = path + ": cannot open: " + std::strerror(errno);
        return snap;
    }
    struct stat st {};
    const timespec readAt = realNow(); // taken before the stat: see CacheEntry
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        snap.error = ERROR_CANTREAD;
        snap.problem = path + ": not a regular file";
        return snap;
    }
    snap.exists = true;
    snap.mode = st.st_mode & 07777;
    {
        std::lock_guard lock(cacheMutex());
        auto it = cache().find(path);
        if (it != cache().end()) {
            const CacheEntry& e = it->second;
            if (e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size &&
                sameTime(e.mtime, st.st_mtim) &&
                st.st_mtim.tv_sec + kRacySeconds < e.readAt.tv_sec) {
                close(fd);
                return e.snapshot;
            }
        }
    }
    std::string bytes;
    const bool ok = readAll(fd, bytes);
    close(fd);
    if (!ok) {
        snap.error = ERROR_CANTREAD;
        snap.problem = path + ": cannot read: " + std::strerror(errno);
        return snap;
    }
    {
        std::lock_guard lock(cacheMutex());
        auto it = cache().find(path);
        if (it != cache().end() && it->second.bytes == bytes) {
            Snapshot same = it->second.snapshot;
            same.mode = snap.mode;
            CacheEntry& e = it->second;
            e.dev = st.st_dev, e.ino = st.st_ino, e.size = st.st_size, e.mtime = st.st_mtim;
            e.readAt = readAt;
            return same;
        }
    }
    auto doc = std::make_shared<RegistryDocument>();
    std::string problem;
    if (RegistryDocument::parse(bytes, *doc, problem)) {
        snap.doc = std::move(doc);
    } else {
        snap.error = ERROR_BADDB;
        snap.problem = path + ": " + problem;
    }
    remember(path, st, readAt, std::move(bytes), snap);
    return snap;
}

// A read for a caller: the problem, if any, becomes this thread's lastProblem.
Snapshot readForCaller() {
    Snapshot snap = readStore(zeb::RegistryStore::path());
    t_lastProblem = snap.problem;
    return snap;
}

// ---------------------------------------------------------------------------
// Writing the file

// The directory part of a file path ("." for a bare name, "/" for a file in the root).
std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write has to replace: `path` with symbolic links in its last
// component followed (a chain of them too). The new text is renamed into
// place, and a rename over a link would replace the link by a plain file and
// leave the file it names with the old content. The file at the end of the
// chain need not exist yet: a dangling link names the file to create. Links
// among the directories need no resolving, a rename follows them. False with
// errno set when the chain cannot be read or loops.
bool resolveStoreFile(const std::string& path, std::string& resolved) {
    constexpr int kMaxLinks = 40; // the kernel's own limit for one lookup
    resolved = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (lstat(resolved.c_str(), &st) != 0) return errno == ENOENT; // to be created
        if (!S_ISLNK(st.st_mode)) return true;
        // st_size is the target's length on most file systems, 0 on some.
        std::string target(static_cast<size_t>(st.st_size) + 256, '\0');
        for (;;) {
            const ssize_t n = readlink(resolved.c_str(), target.data(), target.size());
            if (n < 0) return false;
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                break;
            }
            if (target.size() >= 65536) {
                errno = ENAMETOOLONG;
                return false;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty()) {
            errno = ENOENT;
            return false;
        }
        // A relative target is relative to the directory holding the link.
        resolved = target.front() == '/' ? target : directoryOf(resolved) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

bool makeDirectories(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

class FileLock {
public:
    explicit FileLock(const std::string& lockPath)
        : m_fd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (m_fd < 0) return;
        while (flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0) close(m_fd); // closing drops the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Random bits for names and key identities. getrandom only fails before the
// kernel has gathered entropy (early boot); the fallback mixes the clock, the
// process and a counter, unique enough for both uses.
uint64_t randomBits() {
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
    static std::atomic<uint64_t> counter{0};
    const timespec now = realNow();
    bits = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    bits ^= static_cast<uint64_t>(getpid()) << 40;
    bits += counter.fetch_add(0x9E3779B97F4A7C15u, std::memory_order_relaxed);
    bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9u; // splitmix64's mixing steps
    bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBu;
    return bits ^ (bits >> 31);
}

// A new key's identity: random, so that writers in different processes need
// no shared counter; never 0, which means "none".
uint64_t newKeyId() {
    for (;;)
        if (const uint64_t id = randomBits(); id != 0) return id;
}

// A temporary is named "<store file>.tmp-" and six letters or digits (the
// form mkostemp fills in too). Only writers holding the store's lock give a
// temporary a name, so a name of this form found by the lock's holder was
// left by a writer that died before its rename.
constexpr std::string_view kTempMark = ".tmp-";
constexpr size_t kTempSuffix = 6;

std::string temporaryName(const std::string& path) {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t bits = randomBits();
    std::string name = path + std::string(kTempMark);
    for (size_t i = 0; i < kTempSuffix; ++i, bits /= kLetters.size())
        name += kLetters[bits % kLetters.size()];
    return name;
}

bool isTemporaryOf(std::string_view name, std::string_view storeName) {
    if (name.size() != storeName.size() + kTempMark.size() + kTempSuffix) return false;
    if (name.substr(0, storeName.size()) != storeName) return false;
    name.remove_prefix(storeName.size());
    if (name.substr(0, kTempMark.size()) != kTempMark) return false;
    name.remove_prefix(kTempMark.size());
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

// Removes the temporaries that writers killed mid-write left beside the store
// file (full or partial copies of it, which would otherwise stay for ever).
// REQUIRES: the store's lock is held (see kTempMark). Only regular files are
// removed; a failure here never fails the write.
void removeLeftoverTemporaries(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string storeName = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = opendir(directoryOf(path).c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, storeName)) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

// Writes `text` into a file that has no name until it is complete and
// flushed, then names it as a temporary beside `path`. A writer killed before
// that leaves nothing: the kernel frees a file without a name with its last
// descriptor. False where the file system has no unnamed files (or /proc is
// not mounted); the caller then uses a named temporary.
bool writeUnnamed(const std::string& path, const std::string& text, mode_t mode, std::string& tmp) {
    const int fd = open(directoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool named = false;
    if (fchmod(fd, mode) == 0 && writeAll(fd, text) && fsync(fd) == 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        for (int attempt = 0; attempt < 8 && !named; ++attempt) {
            tmp = temporaryName(path);
            named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tmp.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!named && errno != EEXIST) break;
        }
    }
    const int savedErrno = errno;
    close(fd);
    if (!named) tmp.clear();
    errno = savedErrno;
    return named;
}

// The same with a temporary that has its name from the start.
bool writeNamed(const std::string& path, const std::string& text, mode_t mode, std::string& tmp) {
    tmp = path + std::string(kTempMark) + std::string(kTempSuffix, 'X');
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        tmp.clear();
        return false;
    }
    const bool ok = fchmod(fd, mode) == 0 && writeAll(fd, text) && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!ok) {
        unlink(tmp.c_str());
        tmp.clear();
    }
    errno = savedErrno;
    return ok;
}

// Replaces the file by `text`: a temporary beside it, flushed, renamed over.
// REQUIRES: the store's lock is held.
LONG replaceFile(const std::string& path, const std::string& text, mode_t mode) {
    std::string tmp;
    if (!writeUnnamed(path, text, mode, tmp) && !writeNamed(path, text, mode, tmp)) {
        t_lastProblem = path + ": cannot write a temporary file: " + std::strerror(errno);
        return ERROR_CANTWRITE;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        t_lastProblem = path + ": cannot write: " + std::strerror(errno);
        unlink(tmp.c_str());
        return ERROR_CANTWRITE;
    }
    const std::string dir = directoryOf(path);
    if (const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        fsync(dfd); // make the rename itself durable
        close(dfd);
    }
    return ERROR_SUCCESS;
}

// One locked read-modify-write. `change` edits the document and reports
// whether it changed anything; it returns ERROR_SUCCESS or the failure,
// in which case nothing is written.
using Change = std::function<LONG(RegistryDocument& doc, bool& changed)>;

LONG modifyStore(const Change& change) {
    const std::string storePath = zeb::RegistryStore::path();
    t_lastProblem.clear();
    if (storePath.empty()) {
        t_lastProblem = "no registry path: neither ZEB_REGISTRY nor a home directory is set";
        return ERROR_CANTWRITE;
    }
    // Everything below works on the resolved file: its lock (so that writers
    // reaching one file through different links exclude each other), its
    // temporaries and its replacement.
    std::string path;
    if (!resolveStoreFile(storePath, path)) {
        t_lastProblem = storePath + ": cannot follow its links: " + std::strerror(errno);
        return ERROR_CANTWRITE;
    }
    if (!makeDirectories(directoryOf(path))) {
        t_lastProblem = path + ": cannot create its directory: " + std::strerror(errno);
        return ERROR_CANTWRITE;
    }
    FileLock lock(path + ".lock");
    if (!lock.locked()) {
        t_lastProblem = path + ".lock: cannot lock: " + std::strerror(errno);
        return ERROR_CANTWRITE;
    }
    removeLeftoverTemporaries(path);
    const Snapshot current = readStore(path);
    if (current.error != ERROR_SUCCESS) {
        // A file we cannot read is kept as it is: rewriting it from an empty
        // reading would destroy whatever it holds.
        t_lastProblem = current.problem + " (left unchanged; the write was refused)";
        return current.error;
    }
    auto doc = std::make_shared<RegistryDocument>(*current.doc);
    bool changed = false;
    const LONG result = change(*doc, changed);
    if (result != ERROR_SUCCESS || !changed) return result;

    std::string text = doc->format();
    const timespec before = realNow();
    const LONG written = replaceFile(path, text, current.exists ? current.mode : 0644);
    if (written != ERROR_SUCCESS) return written;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        Snapshot snap;
        snap.doc = std::move(doc);
        snap.exists = true;
        snap.mode = st.st_mode & 07777;
        remember(path, st, before, std::move(text), snap);
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Handles

// Leaked on purpose, like the cache: keys may be closed by static destructors.
struct OpenKeys {
    std::mutex mutex;
    std::unordered_set<HKEY__*> keys;
};
OpenKeys& openKeys() {
    static auto* table = new OpenKeys;
    return *table;
}

struct ResolvedKey {
    std::string path;
    REGSAM access = 0;
    uint64_t id = 0;
};

bool resolve(HKEY key, ResolvedKey& out) {
    for (int i = 0; i < 4; ++i) {
        if (key == &g_rootKeys[i]) {
            out.path = kRootNames[i];
            out.access = KEY_ALL_ACCESS;
            return true;
        }
    }
    std::lock_guard lock(openKeys().mutex);
    if (!openKeys().keys.count(key)) return false;
    const auto* open = static_cast<const OpenKey*>(key);
    out.path = open->path;
    out.access = open->access;
    out.id = open->id;
    return true;
}

HKEY newHandle(std::string path, REGSAM access, uint64_t id) {
    auto* key = new OpenKey;
    key->root = 0;
    key->path = std::move(path);
    key->access = access;
    key->id = id;
    std::lock_guard lock(openKeys().mutex);
    openKeys().keys.insert(key);
    return key;
}

// Whether the key a handle was opened on is still there: its path exists and
// names the same key, not one deleted and created again under that path
// (whose identity differs). Identities live in the store file, so this holds
// whichever process deleted the key. A key whose identity is 0 now was last
// written by a writer that keeps none (by hand, or an older writer): it
// cannot be told apart and counts as the same key. Keys never gain an
// identity except by being created, so a handle opened on a key without one
// and meeting one now meets a successor.
bool stillThere(const RegistryDocument& doc, const ResolvedKey& key) {
    if (!doc.hasKey(key.path)) return false;
    const uint64_t now = doc.keyId(key.path);
    return now == key.id || now == 0;
}

// Wide names are refused (ERROR_INVALID_PARAMETER) when they hold an unpaired
// surrogate: converted, it would become U+FFFD and name the same key or value
// as every other such name, so a write to one would change the other.

// The full normalized path of key\subKey in `path`, "" when it cannot name a
// key; false when subKey is not well-formed UTF-16.
bool fullPath(const std::string& base, LPCWSTR subKey, std::string& path) {
    path = base;
    if (!subKey || !*subKey) return true;
    std::string narrow;
    if (!zeb::toNarrowExact(subKey, narrow)) return false;
    path = RegistryDocument::normalizeKeyPath(base + "\\" + narrow);
    return true;
}

// A value name in UTF-8 ("" for null); false when it is not well-formed UTF-16.
bool nameOf(LPCWSTR name, std::string& out) {
    out.clear();
    return !name || zeb::toNarrowExact(name, out);
}

std::vector<BYTE> stringData(std::u16string_view text) {
    std::vector<BYTE> data;
    data.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

bool isRoot(const std::string& path) {
    return path.find('\\') == std::string::npos;
}

} // namespace

// ---------------------------------------------------------------------------
// The Windows functions

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    ResolvedKey base;
    if (!resolve(key, base)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!fullPath(base.path, subKey, path)) return ERROR_INVALID_PARAMETER;
    const Snapshot snap = readForCaller();
    if (!stillThere(*snap.doc, base)) return ERROR_KEY_DELETED;
    if (path.empty() || !snap.doc->hasKey(path)) return ERROR_FILE_NOT_FOUND;
    *result = newHandle(snap.doc->displayPath(path), sam, snap.doc->keyId(path));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM sam, void*,
                     PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    ResolvedKey base;
    if (!resolve(key, base)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!fullPath(base.path, subKey, path) || path.empty()) return ERROR_INVALID_PARAMETER;
    {
        const Snapshot snap = readForCaller();
        // (A reading that failed is empty: it says nothing about the parent.)
        if (snap.error == ERROR_SUCCESS && !stillThere(*snap.doc, base)) return ERROR_KEY_DELETED;
        if (snap.doc->hasKey(path)) {
            if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
            *result = newHandle(snap.doc->displayPath(path), sam, snap.doc->keyId(path));
            return ERROR_SUCCESS;
        }
    }
    if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    bool created = false;
    std::string display;
    uint64_t id = 0;
    const LONG r = modifyStore([&](RegistryDocument& doc, bool& changed) {
        if (!stillThere(doc, base)) return ERROR_KEY_DELETED;
        created = changed = doc.createKey(path, newKeyId);
        display = doc.displayPath(path);
        id = doc.keyId(path);
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS) return r;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = newHandle(display, sam, id);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    for (auto& root : g_rootKeys)
        if (key == &root) return ERROR_SUCCESS;
    std::unique_lock lock(openKeys().mutex);
    if (!openKeys().keys.erase(key)) return ERROR_INVALID_HANDLE;
    lock.unlock();
    delete static_cast<OpenKey*>(key);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    ResolvedKey k;
    if (!resolve(key, k)) return ERROR_INVALID_HANDLE;
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    std::string valueName;
    if (!nameOf(name, valueName)) return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const Snapshot snap = readForCaller();
    if (!stillThere(*snap.doc, k)) return ERROR_KEY_DELETED;
    const auto* value = snap.doc->findValue(k.path, valueName);
    if (!value) return ERROR_FILE_NOT_FOUND;
    const auto size = static_cast<DWORD>(value->data.size());
    if (type) *type = value->type;
    if (!cbData) return ERROR_SUCCESS;
    if (data) {
        if (*cbData < size) {
            *cbData = size;
            return ERROR_MORE_DATA;
        }
        std::copy(value->data.begin(), value->data.end(), data);
    }
    *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    ResolvedKey k;
    if (!resolve(key, k)) return ERROR_INVALID_HANDLE;
    if (!data && cbData) return ERROR_INVALID_PARAMETER;
    std::string valueName;
    if (!nameOf(name, valueName) || !RegistryDocument::validValueName(valueName))
        return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::vector<BYTE> bytes(data, data + cbData);
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
        if (!stillThere(doc, k)) return ERROR_KEY_DELETED;
        changed = doc.setValue(k.path, valueName, type, std::move(bytes));
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    ResolvedKey k;
    if (!resolve(key, k)) return ERROR_INVALID_HANDLE;
    std::string valueName;
    if (!nameOf(name, valueName)) return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
        if (!stillThere(doc, k)) return ERROR_KEY_DELETED;
        changed = doc.deleteValue(k.path, valueName);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    ResolvedKey base;
    if (!resolve(key, base)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!subKey || !fullPath(base.path, subKey, path)) return ERROR_INVALID_PARAMETER;
    if (path.empty()) return ERROR_FILE_NOT_FOUND;
    if (isRoot(path)) return ERROR_ACCESS_DENIED;
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
        if (!stillThere(doc, base)) return ERROR_KEY_DELETED;
        if (!doc.hasKey(path)) return ERROR_FILE_NOT_FOUND;
        if (doc.hasSubKeys(path)) return ERROR_ACCESS_DENIED;
        changed = doc.deleteTree(path);
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    ResolvedKey base;
    if (!resolve(key, base)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!fullPath(base.path, subKey, path)) return ERROR_INVALID_PARAMETER;
    if (path.empty()) return ERROR_FILE_NOT_FOUND;
    const bool keepKey = !subKey || !*subKey || isRoot(path);
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
        if (!stillThere(doc, base)) return ERROR_KEY_DELETED;
        if (!doc.hasKey(path)) return ERROR_FILE_NOT_FOUND;
        changed = keepKey ? doc.clearTree(path) : doc.deleteTree(path);
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPWSTR cls,
                   LPDWORD cchClass, void*) {
    ResolvedKey k;
    if (!resolve(key, k)) return ERROR_INVALID_HANDLE;
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    if (!(k.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    const Snapshot snap = readForCaller();
    if (!stillThere(*snap.doc, k)) return ERROR_KEY_DELETED;
    const auto names = snap.doc->subKeys(k.path);
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string wide = zeb::toWide(names[index]);
    if (wide.size() + 1 > *cchName) return ERROR_MORE_DATA;
    std::copy(wide.begin(), wide.end(), name);
    name[wide.size()] = 0;
    *cchName = static_cast<DWORD>(wide.size());
    if (cls && cchClass && *cchClass) cls[0] = 0;
    if (cchClass) *cchClass = 0;
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// The plain C++ face

namespace zeb {

std::string RegistryStore::path() {
    if (const char* p = std::getenv("ZEB_REGISTRY"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        return std::string(x) + "/zeb/registry.reg";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else {
        passwd pw{};
        passwd* found = nullptr;
        char buf[4096];
        if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.config/zeb/registry.reg";
}

std::optional<RegistryDocument::Value> RegistryStore::readValue(const std::string& key,
                                                                const std::string& name) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    const Snapshot snap = readForCaller();
    // A name that is not UTF-8 would fold into U+FFFD and find another value.
    if (path.empty() || !RegistryDocument::validValueName(name)) return std::nullopt;
    const auto* value = snap.doc->findValue(path, name);
    return value ? std::optional(*value) : std::nullopt;
}

std::optional<std::u16string> RegistryStore::readString(const std::string& key,
                                                        const std::string& name) {
    const auto value = readValue(key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    std::u16string text(value->data.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(value->data[2 * i] | value->data[2 * i + 1] << 8);
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

std::optional<DWORD> RegistryStore::readDword(const std::string& key, const std::string& name) {
    const auto value = readValue(key, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    const auto& d = value->data;
    return static_cast<DWORD>(d[0] | d[1] << 8 | d[2] << 16 | static_cast<DWORD>(d[3]) << 24);
}

bool RegistryStore::keyExists(const std::string& key) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    const Snapshot snap = readForCaller();
    return !path.empty() && snap.doc->hasKey(path);
}

std::vector<std::string> RegistryStore::subKeys(const std::string& key) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    const Snapshot snap = readForCaller();
    return path.empty() ? std::vector<std::string>() : snap.doc->subKeys(path);
}

std::vector<RegistryDocument::Value> RegistryStore::values(const std::string& key) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    const Snapshot snap = readForCaller();
    return path.empty() ? std::vector<RegistryDocument::Value>() : snap.doc->values(path);
}

bool RegistryStore::writeValue(const std::string& key, const std::string& name, DWORD type,
                               std::vector<BYTE> data) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    if (path.empty() || !RegistryDocument::validValueName(name)) {
        t_lastProblem = "bad key path or value name";
        return false;
    }
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
               changed = doc.createKey(path, newKeyId);
               changed = doc.setValue(path, name, type, std::move(data)) || changed;
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

bool RegistryStore::writeString(const std::string& key, const std::string& name,
                                std::u16string_view value) {
    return writeValue(key, name, REG_SZ, stringData(value));
}

bool RegistryStore::writeDword(const std::string& key, const std::string& name, DWORD value) {
    return writeValue(key, name, REG_DWORD,
                      {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                       static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)});
}

bool RegistryStore::createKey(const std::string& key) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    if (path.empty()) {
        t_lastProblem = "bad key path \"" + key + "\"";
        return false;
    }
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
               changed = doc.createKey(path, newKeyId);
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

bool RegistryStore::deleteValue(const std::string& key, const std::string& name) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    // No such key, or a name no value can have (not UTF-8): no such value.
    if (path.empty() || !RegistryDocument::validValueName(name)) return true;
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
               changed = doc.deleteValue(path, name);
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

bool RegistryStore::deleteTree(const std::string& key) {
    const std::string path = RegistryDocument::normalizeKeyPath(key);
    if (path.empty()) return true;
    return modifyStore([&](RegistryDocument& doc, bool& changed) {
               changed = doc.deleteTree(path);
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

std::string RegistryStore::lastProblem() {
    return t_lastProblem;
}

} // namespace zeb
