#include "co/CCoIfHolder.h"

#include "co/CCoGuardedCall.h"
#include "co/CCoSynchronize.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/GlobalInterfaceTable.h"

#include <utility>

CCoIfHolder::CCookieData::~CCookieData() {
    if (!m_bRegistered) return;
    CCoTraceRecord record("co_ifcookie", "CCoIfHolder::CCookieData::~CCookieData");
    guardedDestructor(record, [&] {
        ComPtr<IZEBGlobalInterfaceTable> spIGIT;
        HRESULT hr =
            guardedCall(record, "spIGIT.CoCreateInstance(CLSID_ZEBGlobalInterfaceTableMTA)",
                        [&] { return spIGIT.CoCreateInstance(CLSID_ZEBGlobalInterfaceTableMTA); });
        if (FAILED(hr)) return;
        guardedCall(record, "spIGIT->RevokeInterfaceFromGlobal(m_dwCookie)",
                    [&] { return spIGIT->RevokeInterfaceFromGlobal(m_dwCookie); });
    });
}

CCoIfHolder::CCoIfHolder() {
    InitializeCriticalSection(&m_sec);
}

CCoIfHolder::~CCoIfHolder() {
    DeleteCriticalSection(&m_sec);
    m_spData.reset();
}

bool CCoIfHolder::setInterface(IUnknown* pIf) {
    CCoTraceRecord record("co_ifcookie", "CCoIfHolder::setInterface");
    return guardedBody(record, false, [&] {
        std::shared_ptr<CCookieData> spNew;
        if (pIf) {
            // The record is made before registering, so that a registration
            // always has an owner that revokes it.
            spNew = std::make_shared<CCookieData>();
            ComPtr<IZEBGlobalInterfaceTable> spIGIT;
            HRESULT hr = guardedCall(
                record, "spIGIT.CoCreateInstance(CLSID_ZEBGlobalInterfaceTableMTA)",
                [&] { return spIGIT.CoCreateInstance(CLSID_ZEBGlobalInterfaceTableMTA); });
            if (FAILED(hr)) return false;
            DWORD dwCookie = 0;
            hr = guardedCall(
                record, "spIGIT->RegisterInterfaceInGlobal(pIf, __uuidof(_TCLASS), &dwCookie)",
                [&] { return spIGIT->RegisterInterfaceInGlobal(pIf, IID_IUnknown, &dwCookie); },
                CatchText::Exception);
            if (FAILED(hr)) return false;
            spNew->adopt(dwCookie);
        }
        std::shared_ptr<CCookieData> spOld;
        {
            CCoSynchronize lock(&m_sec);
            spOld = std::exchange(m_spData, std::move(spNew));
        }
        // spOld goes here, outside the lock: revoking calls into the table.
        return true;
    });
}

ComPtr<IUnknown> CCoIfHolder::getInterface() {
    CCoTraceRecord record("co_ifcookie", "CCoIfHolder::getInterface");
    std::shared_ptr<CCookieData> spData;
    {
        CCoSynchronize lock(&m_sec);
        spData = m_spData;
    }
    if (!spData || !spData->isRegistered()) return nullptr;

    ComPtr<IGlobalInterfaceTable> spIGIT;
    HRESULT hr = guardedCall(record, "spIGIT.CoCreateInstance(CLSID_StdGlobalInterfaceTable)", [&] {
        return spIGIT.CoCreateInstance(CLSID_StdGlobalInterfaceTable);
    });
    if (FAILED(hr)) return nullptr;
    ComPtr<IUnknown> spIf;
    hr = guardedCall(record,
                     "spIGIT->GetInterfaceFromGlobal(spData->getCookie(), __uuidof(_TCLASS), "
                     "reinterpret_cast<void**>(&spIf))",
                     [&] {
                         return spIGIT->GetInterfaceFromGlobal(spData->getCookie(), IID_IUnknown,
                                                               reinterpret_cast<void**>(&spIf));
                     });
    if (FAILED(hr)) return nullptr;
    return spIf;
}
