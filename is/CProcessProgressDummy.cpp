#include "is/CProcessProgressDummy.h"

#include "co/CCoGuardedCall.h"
#include "platform/com/Marshal.h"
#include "platform/win/MessageQueue.h"

namespace {
constexpr const char* kFile = "ProgressDummy";

// The target's interface I, or null when there is no target or it lacks I.
template <class I> ComPtr<I> targetAs(const std::shared_ptr<CCoIfHolder>& holder) {
    ComPtr<I> sp;
    if (!holder) return sp;
    ComPtr<IUnknown> target = holder->getInterface();
    if (target) target->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&sp));
    return sp;
}
} // namespace

CProcessProgressDummy::CProcessProgressDummy()
    : m_hFinished(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_spErrorDisplay(std::make_shared<CCoIfHolder>()) {}

CProcessProgressDummy::~CProcessProgressDummy() {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::~CProcessProgressDummy");
    guardedDestructor(rec, [&] {
        if (m_hFinished) CloseHandle(m_hFinished);
        m_spErrorDisplay.reset();
        m_spIUnkMarshaler.Release();
    });
}

HRESULT CProcessProgressDummy::FinalConstruct() {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::FinalConstruct");
    if (m_spIUnkMarshaler) {
        ZEB_TRACE(rec, 4, "internal error aggregated FreeThreadedMarshaler already exists");
        ZEB_GUARDED_VOID_CALL(rec, m_spIUnkMarshaler.Release());
    }
    if (!m_hFinished) return E_OUTOFMEMORY;
    return ZEB_GUARDED_CALL(
        rec, CoCreateFreeThreadedMarshaler(controllingUnknown(), &m_spIUnkMarshaler.p));
}

void CProcessProgressDummy::FinalRelease() {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::FinalRelease");
    ZEB_GUARDED_VOID_CALL(rec, m_spIUnkMarshaler.Release());
}

HRESULT CProcessProgressDummy::queryOtherInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (riid == uuidof<IMarshal>() && m_spIUnkMarshaler)
        return m_spIUnkMarshaler->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

HRESULT CProcessProgressDummy::showMsg(LPCSTR pMsg, DWORD msgType, DWORD dwHlpId,
                                       LPCSTR pHlpFileName) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::showMsg");
    return guardedMethod(rec, [&]() -> HRESULT {
        ComPtr<IMC_ErrorDisplay> spIErrDisp = targetAs<IMC_ErrorDisplay>(m_spErrorDisplay);
        if (!spIErrDisp) return S_OK;
        return ZEB_GUARDED_CALL(rec, spIErrDisp->showMsg(pMsg, msgType, dwHlpId, pHlpFileName));
    });
}

HRESULT CProcessProgressDummy::getMsgMode(DWORD* pmode, BOOL* warntoerr) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::getMsgMode");
    return guardedMethod(rec, [&]() -> HRESULT {
        if (!pmode || !warntoerr) {
            ZEB_TRACE(rec, 4, "error: NULL pointer argument");
            return E_POINTER;
        }
        ComPtr<IMC_ErrorDisplay> spIErrDisp = targetAs<IMC_ErrorDisplay>(m_spErrorDisplay);
        if (!spIErrDisp) return S_OK;
        return ZEB_GUARDED_CALL(rec, spIErrDisp->getMsgMode(pmode, warntoerr));
    });
}

HRESULT CProcessProgressDummy::showMsgExt(ZEB_MsgInfo msgInfo) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::showMsgExt");
    return guardedMethod(rec, [&]() -> HRESULT {
        ComPtr<IMC_ErrorDisplayExt> spIErrDisp = targetAs<IMC_ErrorDisplayExt>(m_spErrorDisplay);
        if (!spIErrDisp) return S_OK;
        return ZEB_GUARDED_CALL(rec, spIErrDisp->showMsgExt(msgInfo));
    });
}

HRESULT CProcessProgressDummy::isUsingExtension(BOOL* pUsesExtension) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::getUsesExtension");
    return guardedMethod(rec, [&]() -> HRESULT {
        if (!pUsesExtension) {
            ZEB_TRACE(rec, 4, "error: NULL pointer argument");
            return E_POINTER;
        }
        *pUsesExtension = FALSE;
        ComPtr<IMC_ErrorDisplayExt> spIErrDisp = targetAs<IMC_ErrorDisplayExt>(m_spErrorDisplay);
        if (!spIErrDisp) return S_OK;
        return ZEB_GUARDED_CALL(rec, spIErrDisp->isUsingExtension(pUsesExtension));
    });
}

HRESULT CProcessProgressDummy::progress(DWORD, DWORD) {
    return S_OK;
}

HRESULT CProcessProgressDummy::processFinished(HRESULT result) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::processFinished");
    return guardedMethod(rec, [&]() -> HRESULT {
        HRESULT none = S_OK;
        m_result.compare_exchange_strong(none, result); // only the first nonzero result stays
        if (!SetEvent(m_hFinished)) {
            ZEB_TRACE(rec, 4, "Failed to call SetEvent!");
            return E_FAIL;
        }
        return S_OK;
    });
}

HRESULT CProcessProgressDummy::canContinue(BOOL* pContinue) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::canContinue");
    if (!pContinue) {
        ZEB_TRACE(rec, 4, "error: NULL pointer argument");
        return E_POINTER;
    }
    *pContinue = TRUE;
    return S_OK;
}

HRESULT CProcessProgressDummy::queryFirstFlag(DWORD* pFlag) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::canContinue");
    if (!pFlag) {
        ZEB_TRACE(rec, 4, "error: NULL pointer argument");
        return E_POINTER;
    }
    *pFlag = m_dwFirstFlag;
    return S_OK;
}

HRESULT CProcessProgressDummy::querySecondFlag(DWORD* pFlag) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::canContinue");
    if (!pFlag) {
        ZEB_TRACE(rec, 4, "error: NULL pointer argument");
        return E_POINTER;
    }
    *pFlag = m_dwSecondFlag;
    return S_OK;
}

HRESULT CProcessProgressDummy::waitForFinish() {
    for (;;) {
        DWORD w = MsgWaitForMultipleObjects(1, &m_hFinished, FALSE, INFINITE, QS_ALLINPUT);
        if (w == WAIT_OBJECT_0) break;
        if (w != WAIT_OBJECT_0 + 1) break; // failure: stop waiting
        bool finished = false;
        MSG msg;
        while (!finished && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            finished = WaitForSingleObject(m_hFinished, 0) == WAIT_OBJECT_0;
        }
        if (finished) break;
    }
    return m_result.load();
}

bool CProcessProgressDummy::setErrorDisplayIf(IUnknown* pITarget) {
    CCoTraceRecord rec(kFile, "CProcessProgressDummy::setErrorDisplayIf");
    if (!m_spErrorDisplay || !m_spErrorDisplay->setInterface(pITarget)) {
        ZEB_TRACE(rec, 4, "Failed to call setInterface");
        return false;
    }
    return true;
}

ComPtr<IUnknown> CProcessProgressDummy::getErrorDisplayIf() {
    return m_spErrorDisplay ? m_spErrorDisplay->getInterface() : ComPtr<IUnknown>();
}
