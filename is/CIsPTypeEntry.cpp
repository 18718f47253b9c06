#include "is/CIsPTypeEntry.h"

DWORD CIsPTypeEntry::onGetResidentData(IUnknown* pITypeObject) {
    CCoTraceRecord rec("is_data", "CIsPTypeEntry::onGetResidentData");
    if (!readRuntimeId(pITypeObject, m_rtTypeID, rec)) {
        ZEB_TRACE(rec, 4, "error getting runtime id for TP");
        return IS_NOT_CREATED;
    }
    return IS_OK;
}
