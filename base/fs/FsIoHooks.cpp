#include "base/fs/FsIoHooks.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const FsIoHooks kSystemCalls = {&::mkstemp, &::open, &::write, &::fsync, &::close, &::rename};

std::atomic<const FsIoHooks*> g_hooks{&kSystemCalls};

} // namespace

const FsIoHooks& fsIoHooks() noexcept {
    return *g_hooks.load(std::memory_order_acquire);
}

void setFsIoHooks(const FsIoHooks* hooks) noexcept {
    g_hooks.store(hooks ? hooks : &kSystemCalls, std::memory_order_release);
}
