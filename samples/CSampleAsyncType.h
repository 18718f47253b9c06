// CSampleAsyncType: a sub-object type ("SampleAsync.1.0") that finishes its
// installation asynchronously: OnInstallationComplete accepts the request
// and a worker thread reports a message and then processFinished through the
// progress callback. The result it reports can be chosen (setFinishResult).
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

#include <thread>

class CSampleAsyncType final : public CSampleTypeObject<CSampleAsyncType, IMC_InternalType> {
public:
    CSampleAsyncType() : CSampleTypeObject(kSampleAsyncName, TYPEID_SampleAsync) {}
    ~CSampleAsyncType();

    HRESULT OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) override;
    HRESULT getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) override;

    // The result the next completions report (S_OK by default); process-wide.
    static void setFinishResult(HRESULT result);
    // Thread id of the last completion's worker (0 before the first).
    static DWORD lastWorkerThread();

private:
    std::thread m_worker;
};
