#include "is/CProcessProgressDummy.h"

#include "platform/com/Marshal.h"
#include "platform/win/MessageQueue.h"
#include "platform/win/Threading.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

ComPtr<CProcessProgressDummy> makeCallback() {
    ComPtr<CProcessProgressDummy> cb;
    EXPECT_EQ(CProcessProgressDummy::createObject(&cb), S_OK);
    return cb;
}

TEST(ProcessProgress, KeepsTheFirstNonzeroResult) {
    auto cb = makeCallback();
    cb->processFinished(S_OK);
    cb->processFinished(E_FAIL);
    EXPECT_EQ(cb->waitForFinish(), E_FAIL); // returns at once: already finished
    auto other = makeCallback();
    other->processFinished(E_FAIL);
    other->processFinished(E_POINTER);
    EXPECT_EQ(other->waitForFinish(), E_FAIL);
}

TEST(ProcessProgress, AnswersWithoutADisplayTargetAndAlwaysLetsTheProcessContinue) {
    auto cb = makeCallback();
    EXPECT_EQ(cb->showMsg("text", 1, 2, nullptr), S_OK);
    ZEB_MsgInfo info{};
    EXPECT_EQ(cb->showMsgExt(info), S_OK);
    BOOL flag = 7;
    EXPECT_EQ(cb->isUsingExtension(&flag), S_OK);
    EXPECT_EQ(flag, FALSE);
    EXPECT_EQ(cb->canContinue(&flag), S_OK);
    EXPECT_EQ(flag, TRUE);
    EXPECT_EQ(cb->canContinue(nullptr), E_POINTER);
    DWORD mode = 0;
    EXPECT_EQ(cb->getMsgMode(&mode, nullptr), E_POINTER);
    EXPECT_EQ(cb->queryFirstFlag(&mode), S_OK);
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(cb->querySecondFlag(nullptr), E_POINTER);
    ComPtr<IUnknown> marshal;
    EXPECT_EQ(cb->QueryInterface(uuidof<IMarshal>(), reinterpret_cast<void**>(&marshal)), S_OK);
}

// A display target that records what it was shown.
class CRecordingDisplay final : public zeb::ComObject<CRecordingDisplay, IMC_ErrorDisplay> {
public:
    HRESULT showMsg(LPCSTR pMsg, DWORD, DWORD, LPCSTR) override {
        shown = pMsg ? pMsg : "";
        return E_ABORT;
    }
    HRESULT getMsgMode(DWORD* mode, BOOL* warn) override {
        *mode = 3;
        *warn = TRUE;
        return S_OK;
    }
    std::string shown;
};

TEST(ProcessProgress, ForwardsMessagesToTheDisplayTarget) {
    auto cb = makeCallback();
    ComPtr<CRecordingDisplay> display;
    CRecordingDisplay::createObject(&display);
    ASSERT_TRUE(cb->setErrorDisplayIf(static_cast<IMC_ErrorDisplay*>(display.get())));
    EXPECT_EQ(cb->showMsg("hello", 0, 0, nullptr), E_ABORT); // the target's result
    EXPECT_EQ(display->shown, "hello");
    DWORD mode = 0;
    BOOL warn = FALSE;
    EXPECT_EQ(cb->getMsgMode(&mode, &warn), S_OK);
    EXPECT_EQ(mode, 3u);
    ZEB_MsgInfo info{};
    EXPECT_EQ(cb->showMsgExt(info), S_OK); // the target has no extended display
    cb->setErrorDisplayIf(nullptr);
}

TEST(ProcessProgress, WaitDispatchesMessagesUntilAnotherThreadFinishes) {
    auto cb = makeCallback();
    static int dispatched = 0;
    dispatched = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR, DWORD) { ++dispatched; });
    ComPtr<IMC_ProcessProgress> spICB(cb.get());
    std::thread worker([spICB] {
        Sleep(60);
        spICB->processFinished(E_ACCESSDENIED);
    });
    EXPECT_EQ(cb->waitForFinish(), E_ACCESSDENIED);
    worker.join();
    KillTimer(nullptr, timer);
    EXPECT_GT(dispatched, 0); // the waiting thread kept serving its timer
}

} // namespace
