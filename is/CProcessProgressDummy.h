// CProcessProgressDummy: the progress callback handed to a type object that
// finishes its installation (IMC_InternalType::OnInstallationComplete).
//
//   ComPtr<CProcessProgressDummy> spCB;
//   CProcessProgressDummy::createObject(&spCB);
//   hr = spIIntType->OnInstallationComplete(spCB, &dwRet);  // may finish on another thread
//   HRESULT result = spCB->waitForFinish();                // pumps this thread's messages
//
// The callback never stops a process (canContinue answers 1), shows no
// progress, and forwards messages to an error-display target when one is
// set (setErrorDisplayIf), else accepts them silently. processFinished keeps
// the first nonzero result and signals the finish event.
//
// Free-threaded: reference counts are atomic, the free-threaded marshaler is
// aggregated, and every operation may be called from any thread.
#pragma once

#include "co/CCoIfHolder.h"
#include "h/IMC_ProcessProgress.h"
#include "platform/com/ComObject.h"

#include <atomic>
#include <memory>

class CProcessProgressDummy final
    : public zeb::ComObject<CProcessProgressDummy,
                            zeb::Chain<IMC_ProcessProgress, IMC_ErrorDisplay>, IMC_ErrorDisplayExt,
                            IMC_InternalProcessHandling> {
public:
    CProcessProgressDummy();
    ~CProcessProgressDummy();
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT queryOtherInterface(REFIID riid, void** ppv); // IMarshal through the marshaler

    // IMC_ErrorDisplay / IMC_ErrorDisplayExt (slots 3 and 6 of the latter are these two)
    HRESULT showMsg(LPCSTR pMsg, DWORD msgType, DWORD dwHlpId, LPCSTR pHlpFileName) override;
    HRESULT getMsgMode(DWORD* pmode, BOOL* warntoerr) override;
    HRESULT showMsgExt(ZEB_MsgInfo msgInfo) override;
    HRESULT isUsingExtension(BOOL* pUsesExtension) override;
    // IMC_ProcessProgress
    HRESULT progress(DWORD current, DWORD total) override;
    HRESULT processFinished(HRESULT result) override;
    HRESULT canContinue(BOOL* pContinue) override;
    // IMC_InternalProcessHandling
    HRESULT queryFirstFlag(DWORD* pFlag) override;
    HRESULT querySecondFlag(DWORD* pFlag) override;

    // For the owner: waits, dispatching this thread's messages, until
    // processFinished was called; returns the stored result.
    HRESULT waitForFinish();
    bool setErrorDisplayIf(IUnknown* pITarget);
    ComPtr<IUnknown> getErrorDisplayIf();

private:
    ComPtr<IUnknown> m_spIUnkMarshaler;
    HANDLE m_hFinished = nullptr;
    std::atomic<HRESULT> m_result{S_OK};
    std::shared_ptr<CCoIfHolder> m_spErrorDisplay;
    DWORD m_dwFirstFlag = 0;
    DWORD m_dwSecondFlag = 0;
};
