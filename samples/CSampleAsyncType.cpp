#include "samples/CSampleAsyncType.h"

#include "platform/win/Threading.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<HRESULT> g_finishResult{S_OK};
std::atomic<DWORD> g_lastWorker{0};
} // namespace

CSampleAsyncType::~CSampleAsyncType() {
    if (m_worker.joinable()) m_worker.join();
}

void CSampleAsyncType::setFinishResult(HRESULT result) {
    g_finishResult = result;
}
DWORD CSampleAsyncType::lastWorkerThread() {
    return g_lastWorker;
}

HRESULT CSampleAsyncType::OnInstallationComplete(IMC_ProcessProgress* pICallback, DWORD* pdwRet) {
    if (!pdwRet) return E_POINTER;
    *pdwRet = 0;
    if (!pICallback) return S_OK; // nobody to tell: finished at once
    if (m_worker.joinable()) m_worker.join();
    ComPtr<IMC_ProcessProgress> spICallback(pICallback);
    m_worker = std::thread([spICallback] {
        g_lastWorker = GetCurrentThreadId();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        spICallback->showMsg("sample installation step completed", 0, 0, nullptr);
        spICallback->processFinished(g_finishResult.load());
    });
    return S_OK;
}

HRESULT CSampleAsyncType::getDependedTypes(DWORD* pCount, GUID** ppTypeIds, DWORD* pRet) {
    if (!pCount || !ppTypeIds || !pRet) return E_POINTER;
    *pCount = 0;
    *ppTypeIds = nullptr;
    *pRet = 0;
    return S_OK;
}
