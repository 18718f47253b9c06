#include "is/isacx/CIsAcxErrorHandler.h"

#include "co/CCoTraceRecord.h"

void CIsAcxErrorHandler::warning(int code) {
    CCoTraceRecord rec("is_acxreader", "CIsAcxErrorHandler::warning");
    ZEB_TRACE(rec, 3, "ACX warning %i", code);
}

void CIsAcxErrorHandler::error(int code) {
    CCoTraceRecord rec("is_acxreader", "CIsAcxErrorHandler::error");
    ZEB_TRACE(rec, 3, "ACX error %i", code);
}

void CIsAcxErrorHandler::fatalError(int code) {
    CCoTraceRecord rec("is_acxreader", "CIsAcxErrorHandler::fatalError");
    m_nLastFatal = code;
    ZEB_TRACE(rec, 4, "ACX fatalError %i", code);
}
