#include "is/CIsTOTypeEntry.h"

#include "co/CCoGuardedCall.h"
#include "platform/com/ComPtr.h"

#include <cstdio>

DWORD CIsTOTypeEntry::onGetResidentData(IUnknown* pITypeObject) {
    CCoTraceRecord rec("is_data", "CIsTOTypeEntry::onGetResidentData");
    if (!readRuntimeId(pITypeObject, m_rtTypeID, rec)) {
        ZEB_TRACE(rec, 4, "error getting runtime id for TO");
        return IS_NOT_CREATED;
    }
    ComQIPtr<IMC_ProxyTypeIdent> spIProxy(pITypeObject);
    if (!spIProxy) return IS_OK; // no proxy
    RTTypeID proxy = RTTYPEID_INVALID;
    HRESULT hr = ZEB_GUARDED_CALL(rec, spIProxy->getProxyTypeID(&proxy));
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4, "error getting proxy id for TO");
        return IS_NOT_CREATED;
    }
    OLECHAR guidText[128];
    if (StringFromGUID2(proxy.guidVersion, guidText, 128) == 0) {
        ZEB_TRACE(rec, 4, "error StringFromGUID2");
        return IS_NOT_CREATED;
    }
    char suffix[100];
    if (std::snprintf(suffix, sizeof suffix, ",%d,%d", int(proxy.nMajor), int(proxy.nMinor)) < 0) {
        ZEB_TRACE(rec, 4, "error calling _snprintf");
        return IS_INTERNAL;
    }
    std::u16string value(guidText);
    for (const char* p = suffix; *p; ++p)
        value.push_back(char16_t(*p));
    return setOrAddAttr(u"BI_PROXY_TYPE_ID", value);
}
