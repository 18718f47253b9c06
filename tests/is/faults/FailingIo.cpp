#include "tests/is/faults/FailingIo.h"

#include "base/fs/FsIoHooks.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_calls{0};
unsigned g_failAt = 0;
zeb::test::FailingIo::Fault g_fault = zeb::test::FailingIo::Eio;
std::atomic<bool> g_diskFull{false};

// Counts one call; true when it must fail.
bool failsNow() {
    return ++g_calls == g_failAt;
}

int failure() {
    errno = g_fault == zeb::test::FailingIo::Eio ? EIO : ENOSPC;
    return -1;
}

int hookedMkstemp(char* pattern) {
    return failsNow() ? failure() : ::mkstemp(pattern);
}

int hookedOpen(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    return failsNow() ? failure() : ::open(path, flags, mode);
}

ssize_t hookedWrite(int fd, const void* data, size_t n) {
    const bool fails = failsNow();
    if (g_diskFull) {
        errno = ENOSPC;
        return -1;
    }
    if (!fails) return ::write(fd, data, n);
    if (g_fault == zeb::test::FailingIo::Eio || n < 2) return failure();
    g_diskFull = true;
    return ::write(fd, data, n / 2);
}

int hookedFsync(int fd) {
    return failsNow() ? failure() : ::fsync(fd);
}

int hookedClose(int fd) {
    const bool fails = failsNow();
    const int r = ::close(fd);
    return fails ? failure() : r;
}

int hookedRename(const char* from, const char* to) {
    return failsNow() ? failure() : ::rename(from, to);
}

const FsIoHooks kHooks = {hookedMkstemp, hookedOpen,  hookedWrite,
                          hookedFsync,   hookedClose, hookedRename};

} // namespace

namespace zeb::test {

FailingIo::FailingIo(unsigned failAt, Fault fault) {
    g_calls = 0;
    g_failAt = failAt;
    g_fault = fault;
    g_diskFull = false;
    setFsIoHooks(&kHooks);
}

FailingIo::~FailingIo() {
    setFsIoHooks(nullptr);
}

unsigned FailingIo::calls() const {
    return g_calls;
}

bool FailingIo::fired() const {
    return g_failAt != 0 && g_calls >= g_failAt;
}

} // namespace zeb::test
