#include "base/fs/FsWriterLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// The pid on the first line of the lock file (0 when there is none). A
// holder writes its line over the old one before cutting the file to it, so
// the first line is always one whole pid.
pid_t readPid(int fd) {
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return 0;
    long pid = 0;
    for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i) {
        pid = pid * 10 + (buf[i] - '0');
        if (pid > 0x7FFFFFFF) return 0;
    }
    return pid_t(pid);
}

std::string programName(pid_t pid) {
    if (pid <= 0) return {};
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buf[64] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return {};
    std::string name(buf, size_t(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}

// The lines after the first (the pid): the paths a holder noted.
std::vector<std::string> readNotedPaths(int fd) {
    std::string text;
    char buf[4096];
    for (off_t at = 0; text.size() < 65536;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, size_t(n));
        at += n;
    }
    std::vector<std::string> paths;
    size_t start = text.find('\n');
    while (start != std::string::npos) {
        const size_t end = text.find('\n', start + 1);
        if (end == std::string::npos) break; // a line cut short names nothing
        if (end > start + 1) paths.push_back(text.substr(start + 1, end - start - 1));
        start = end;
    }
    return paths;
}

} // namespace

FsWriterLock::~FsWriterLock() {
    release();
}

std::string FsWriterLock::lockPath(const std::string& file) {
    return file + ".lock";
}

std::string FsWriterLock::describe(const Holder& holder) {
    if (holder.pid <= 0) return {};
    std::string text = "pid " + std::to_string(holder.pid);
    if (!holder.name.empty()) text += ", " + holder.name;
    return text;
}

FsWriterLock::Result FsWriterLock::acquire(const std::string& file, Holder* holder) {
    release();
    m_leftBehind.clear();
    const std::string path = lockPath(file);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    // flock needs no write access: a lock file of another user still locks.
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return kUnavailable;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const bool held = errno == EWOULDBLOCK;
        if (held && holder) {
            holder->pid = readPid(fd);
            holder->name = programName(holder->pid);
        }
        ::close(fd);
        return held ? kHeldElsewhere : kUnavailable;
    }
    // Emptied at every release: lines still there are those of a holder
    // that died.
    m_leftBehind = readNotedPaths(fd);
    m_fd = fd;
    m_owner = ::getpid();
    m_noted.clear();
    writeContent();
    return kAcquired;
}

bool FsWriterLock::writeContent() {
    std::string text = std::to_string(::getpid()) + "\n";
    for (const std::string& path : m_noted)
        text += path + "\n";
    // Over the old content first, then cut to it: a reader never finds the
    // file empty while it is held. A descriptor opened read-only (the lock
    // file belongs to another user) leaves the old content: only the lock
    // counts.
    if (::pwrite(m_fd, text.data(), text.size(), 0) != ssize_t(text.size())) return false;
    return ::ftruncate(m_fd, off_t(text.size())) == 0;
}

bool FsWriterLock::note(const std::string& path) {
    // A forked child that inherited the lock writes nothing: the lines are
    // the holder's.
    if (m_fd < 0 || ::getpid() != m_owner || path.empty() || path.find('\n') != std::string::npos)
        return false;
    m_noted.push_back(path);
    return writeContent();
}

void FsWriterLock::release() noexcept {
    if (m_fd < 0) return;
    if (::getpid() == m_owner) {
        // Nobody holds it any more: the file names nobody.
        (void)::ftruncate(m_fd, 0);
        ::flock(m_fd, LOCK_UN);
    }
    ::close(m_fd);
    m_fd = -1;
    m_owner = 0;
    m_noted.clear();
}
