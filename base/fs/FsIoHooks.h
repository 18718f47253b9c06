// FsIoHooks: the system calls through which saveFile writes an installation
// file (creating the temporary beside it, opening, writing, flushing,
// closing and renaming it over the file).
//
// By default they are the system calls themselves. A test sets its own
// table to make one of them fail as a broken disk or a full one would
// (EIO, a short write and then ENOSPC, a failing fsync or rename) and sees
// what a save does then:
//
//   static const FsIoHooks failing = {&::mkstemp, &myOpen, &myWrite, &::fsync, &::close,
//   &::rename}; setFsIoHooks(&failing);
//   ... save ...
//   setFsIoHooks(nullptr);                  // the system calls again
//
// The table is read once per replacement, not per byte: a save pays one
// atomic load for it. The table set must outlive its use; every entry must
// be set.
#pragma once

#include <sys/types.h>

struct FsIoHooks {
    int (*mkstemp)(char* pattern);                 // creates the temporary (open O_EXCL)
    int (*open)(const char* path, int flags, ...); // the temporary, the directory
    ssize_t (*write)(int fd, const void* data, size_t n);
    int (*fsync)(int fd); // the temporary, the directory
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
};

// The table in force: the one set last, else the system calls.
const FsIoHooks& fsIoHooks() noexcept;
// Puts `hooks` in force (null: the system calls again).
void setFsIoHooks(const FsIoHooks* hooks) noexcept;
