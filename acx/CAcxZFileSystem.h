// ACX file system over zlib's gzip file functions: compressed (gzip) and
// plain files read alike; compressed() and size() tell which it is and the
// length of the data (for gzip, the length field of the gzip trailer, which
// the file may get wrong: the reader never relies on it).
//
// With unpack-in-place on, opening a compressed file for reading first
// rewrites it uncompressed (unpack): the data goes into an exclusively
// created temporary file in the same directory, which is then renamed over
// the original. A failure anywhere leaves the original untouched and makes
// open fail.
#pragma once

#include "acx/CAcxFileSystemBase.h"

#include <string>

class CAcxZFileSystem : public CAcxFileSystemBase {
public:
    CAcxFileHandleBase* open(const char* path, const char* mode) override;
    int close(CAcxFileHandleBase* handle) override;
    size_t read(void* buffer, size_t size, size_t count, CAcxFileHandleBase* handle) override;
    size_t write(const void* buffer, size_t size, size_t count,
                 CAcxFileHandleBase* handle) override;
    int seek(CAcxFileHandleBase* handle, int64_t offset, int origin) override;
    int64_t tell(CAcxFileHandleBase* handle) override;
    int64_t size(CAcxFileHandleBase* handle) override;
    bool compressed(CAcxFileHandleBase* handle) override;

    void unpackInPlaceOn() { m_bUnpackInPlace = true; }
    void unpackInPlaceOff() { m_bUnpackInPlace = false; }
    // Rewrites a gzip file uncompressed under the same name; true on success.
    bool unpack(const char* path);

    bool unpackInPlace() const { return m_bUnpackInPlace; }

private:
    bool m_bUnpackInPlace = false;
};
