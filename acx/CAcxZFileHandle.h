// Handle of CAcxZFileSystem: the gzip stream the data is read through, the
// plain file kept open from probing, the compressed flag and the data length.
#pragma once

#include "acx/CAcxFileHandleBase.h"

#include <cstdint>
#include <cstdio>
#include <zlib.h>

class CAcxZFileHandle : public CAcxFileHandleBase {
public:
    CAcxZFileHandle(gzFile gz, FILE* plain, bool compressed, int64_t length)
        : m_gz(gz), m_pPlain(plain), m_bCompressed(compressed), m_nLength(length) {}
    ~CAcxZFileHandle() override;
    CAcxZFileHandle(const CAcxZFileHandle&) = delete;
    CAcxZFileHandle& operator=(const CAcxZFileHandle&) = delete;

    // Closes both files; 0, or -1 when either close failed.
    int close();

    gzFile m_gz;
    FILE* m_pPlain;
    bool m_bCompressed;
    int64_t m_nLength;
};
