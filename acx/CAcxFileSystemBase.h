// The file access an ACX reader reads through. The base opens nothing; see
// CAcxZFileSystem for plain and gzip-compressed files.
#pragma once

#include "acx/CAcxFileHandleBase.h"

#include <cstddef>
#include <cstdint>

class CAcxFileSystemBase {
public:
    virtual ~CAcxFileSystemBase() = default;
    // A handle, or null on failure. The handle is released by close only.
    virtual CAcxFileHandleBase* open(const char* path, const char* mode) {
        (void)path;
        (void)mode;
        return nullptr;
    }
    // Closes and destroys the handle; 0 or -1.
    virtual int close(CAcxFileHandleBase* handle) {
        delete handle;
        return -1;
    }
    // Whole items read or written.
    virtual size_t read(void* buffer, size_t size, size_t count, CAcxFileHandleBase* handle) {
        (void)buffer, (void)size, (void)count, (void)handle;
        return 0;
    }
    virtual size_t write(const void* buffer, size_t size, size_t count,
                         CAcxFileHandleBase* handle) {
        (void)buffer, (void)size, (void)count, (void)handle;
        return 0;
    }
    // origin as fseek (SEEK_SET, SEEK_CUR); 0 or -1.
    virtual int seek(CAcxFileHandleBase* handle, int64_t offset, int origin) {
        (void)handle, (void)offset, (void)origin;
        return -1;
    }
    virtual int64_t tell(CAcxFileHandleBase* handle) {
        (void)handle;
        return -1;
    }
    // Length of the data (uncompressed length for a compressed file) or -1.
    virtual int64_t size(CAcxFileHandleBase* handle) {
        (void)handle;
        return -1;
    }
    virtual bool compressed(CAcxFileHandleBase* handle) {
        (void)handle;
        return false;
    }
};
