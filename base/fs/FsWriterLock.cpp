#include "base/fs/FsWriterLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

void writePid(int fd) {
    const std::string line = std::to_string(::getpid()) + "\n";
    // Over the old content first, then cut to it: a reader never finds the
    // file empty while it is held. A descriptor opened read-only (the lock
    // file belongs to another user) leaves the old content: only the lock
    // counts.
    if (::pwrite(fd, line.data(), line.size(), 0) == ssize_t(line.size()))
        (void)::ftruncate(fd, off_t(line.size()));
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
    writePid(fd);
    m_fd = fd;
    m_owner = ::getpid();
    return kAcquired;
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
}
