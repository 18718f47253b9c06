#include "co/CSmartFreeMemChecker.h"

#include "co/CCoGuardedCall.h"

CSmartFreeMemChecker::CSmartFreeMemChecker(CContextHolder* pHolder) noexcept {
    CCoTraceRecord rec("co_mem_checker", "CSmartFreeMemChecker::CSmartFreeMemChecker");
    guardedDestructor(rec, [&] {
        IUnknown* context = pHolder ? pHolder->getContext() : nullptr;
        if (!context) return;
        ComPtr<IMC_MemoryCheck> spMemCheck;
        if (FAILED(context->QueryInterface(uuidof<IMC_MemoryCheck>(),
                                           reinterpret_cast<void**>(&spMemCheck))) ||
            !spMemCheck)
            return;
        m_spMemCheck = spMemCheck;
        DWORD dwRet = 0;
        guardedCallRet(rec, "checkMemory", dwRet,
                       [&] { return m_spMemCheck->checkMemory(&dwRet); });
    });
}

CSmartFreeMemChecker::~CSmartFreeMemChecker() {
    CCoTraceRecord rec("co_mem_checker", "CSmartFreeMemChecker::~CSmartFreeMemChecker");
    guardedDestructor(rec, [&] {
        if (!m_spMemCheck) return;
        ComPtr<IMC_MemoryCheck> spMemCheck;
        if (SUCCEEDED(m_spMemCheck->QueryInterface(uuidof<IMC_MemoryCheck>(),
                                                   reinterpret_cast<void**>(&spMemCheck))) &&
            spMemCheck)
            guardedCall(rec, "endCheckingFrame", [&] { return spMemCheck->endCheckingFrame(); });
        m_spMemCheck.Release();
    });
}
