// The progress callback handed to a type object that finishes its
// installation, and the error-display interfaces it forwards to.
//
//   // inside a type object's OnInstallationComplete, possibly on another thread:
//   pICallback->showMsg("converted 3 items", 0, 0, nullptr);
//   pICallback->processFinished(S_OK);                 // the waiting container goes on
//
// The callback may be called from any thread.
#pragma once

#include "platform/com/Unknown.h"

// A message information record, passed on unchanged; its layout belongs to
// the error-display target.
struct ZEB_MsgInfo {
    BYTE data[64];
};
static_assert(sizeof(ZEB_MsgInfo) == 64);

struct IMC_ErrorDisplay : IUnknown {
    static constexpr IID iid = makeGuid("E09CA320-29C7-11D6-BE41-0001029AEE50");
    virtual HRESULT showMsg(LPCSTR pMsg, DWORD msgType, DWORD dwHlpId, LPCSTR pHlpFileName) = 0;
    virtual HRESULT getMsgMode(DWORD* pmode, BOOL* warntoerr) = 0;
};

struct IMC_ProcessProgress : IMC_ErrorDisplay {
    static constexpr IID iid = makeGuid("E09CA321-29C7-11D6-BE41-0001029AEE50");
    virtual HRESULT progress(DWORD current, DWORD total) = 0; // ignored by the dummy
    virtual HRESULT processFinished(HRESULT result) = 0;
    virtual HRESULT canContinue(BOOL* pContinue) = 0;
};

struct IMC_ErrorDisplayExt : IUnknown {
    static constexpr IID iid = makeGuid("298814A7-CF1F-40C5-AD41-9E996C3DA999");
    virtual HRESULT showMsg(LPCSTR pMsg, DWORD msgType, DWORD dwHlpId, LPCSTR pHlpFileName) = 0;
    virtual HRESULT showMsgExt(ZEB_MsgInfo msgInfo) = 0;
    virtual HRESULT isUsingExtension(BOOL* pUsesExtension) = 0;
    virtual HRESULT getMsgMode(DWORD* pmode, BOOL* warntoerr) = 0;
};

struct IMC_InternalProcessHandling : IUnknown {
    static constexpr IID iid = makeGuid("8F90CF66-6981-46EF-9F00-D949E94E7916");
    virtual HRESULT queryFirstFlag(DWORD* pFlag) = 0;
    virtual HRESULT querySecondFlag(DWORD* pFlag) = 0;
};
