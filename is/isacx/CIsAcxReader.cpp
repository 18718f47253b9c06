#include "is/isacx/CIsAcxReader.h"

#include "acx/CAcxReader.h"
#include "acx/CAcxZFileSystem.h"
#include "co/CCoTraceRecord.h"
#include "is/isacx/CIsAcxContentHandler.h"
#include "is/isacx/CIsAcxErrorHandler.h"

#include <new>

int CIsAcxReader::init(const char* path) {
    CCoTraceRecord rec("is_acxreader", "CIsAcxReader::init");
    bool ran = false;
    m_nLastFatal = 0;
    m_nLastTagCount = 0;
    try {
        CAcxZFileSystem fileSystem;
        if (m_bUnpackInPlace) fileSystem.unpackInPlaceOn();
        CIsAcxErrorHandler errors;
        CAcxReader reader;
        // The tree is dropped with the handler: keep only what the routing needs.
        CIsAcxContentHandler content(reader, m_header, false);
        reader.setFileSystem(&fileSystem);
        reader.setErrorHandler(&errors);
        reader.setContentHandler(&content);
        ran = reader.parse(path);
        m_nLastFatal = errors.lastFatal();
        m_nLastTagCount = content.tree().tagCount();
    } catch (...) {
        ran = false;
    }
    if (!ran) {
        ZEB_TRACE(rec, 4, "init text-rep with %s failed", path ? path : "(null)");
        return 65535;
    }
    return 0;
}
