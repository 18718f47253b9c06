#include "is/CIsDVTypeEntry.h"

DWORD CIsDVTypeEntry::onGetResidentData(IUnknown* pITypeObject) {
    CCoTraceRecord rec("is_data", "CIsDVTypeEntry::onGetResidentData");
    if (!readRuntimeId(pITypeObject, m_rtTypeID, rec)) {
        ZEB_TRACE(rec, 4, "error getting runtime id for DV");
        return IS_NOT_CREATED;
    }
    return IS_OK;
}
