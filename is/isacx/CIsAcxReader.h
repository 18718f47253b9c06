// Reads one PD-file and keeps the header record it yields.
//
//   CIsAcxReader pd;
//   if (pd.init("/opt/zeb/config/Drive.pd") == 0 && pd.header().m_wViewId != 0) ...
//
// init parses with a gzip file system switched to unpack-in-place (a
// compressed PD-file is rewritten uncompressed, safely, before it is read),
// a CIsAcxErrorHandler and a CIsAcxContentHandler bound to header(). It
// returns 0 when the parse ran, 65535 when it could not run at all; a file
// that is missing or damaged still returns 0, and the record tells what was
// found (stamps all 0xFF: no type data). lastFatal() gives the reader's
// fatal code of the last parse (0 when none).
#pragma once

#include "is/isacx/CIsAcxDscHeader.h"

#include <cstddef>

class CIsAcxReader {
public:
    int init(const char* path);

    const CIsAcxDscHeader& header() const { return m_header; }
    int lastFatal() const { return m_nLastFatal; }
    size_t lastTagCount() const { return m_nLastTagCount; }
    // On by default; off leaves a compressed file as it is and reads it
    // through the decompressor (as the benchmark does).
    void setUnpackInPlace(bool on) { m_bUnpackInPlace = on; }

private:
    CIsAcxDscHeader m_header;
    int m_nLastFatal = 0;
    size_t m_nLastTagCount = 0;
    bool m_bUnpackInPlace = true;
};
