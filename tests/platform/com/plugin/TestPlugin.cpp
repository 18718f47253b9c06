// A class library as a third party would write one: its classes, their
// factories, and the two entry points the runtime looks for.
#include "tests/platform/com/plugin/TestPlugin.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/win/Threading.h"

namespace {

class CTestWidget final : public zeb::ComObject<CTestWidget, ITestWidget> {
public:
    HRESULT answer(DWORD* value) override {
        if (!value) return E_POINTER;
        *value = kTestWidgetAnswer;
        return S_OK;
    }
};

// A base destroyed after the zeb::ComObject part, whose destructor has
// already taken the object off the library's count.
class LingeringTail {
public:
    ~LingeringTail() {
        if (m_countDropped) SetEvent(m_countDropped);
        if (m_lingerMs) Sleep(m_lingerMs);
    }

protected:
    HANDLE m_countDropped = nullptr;
    DWORD m_lingerMs = 0;
};

class CSlowTestWidget final : public LingeringTail,
                              public zeb::ComObject<CSlowTestWidget, ISlowTestWidget> {
public:
    HRESULT lingerWhenDestroyed(HANDLE countDropped, DWORD lingerMs) override {
        m_countDropped = countDropped;
        m_lingerMs = lingerMs;
        return S_OK;
    }
};

} // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    static constexpr zeb::ClassEntry classes[] = {
        zeb::classEntry<CTestWidget>(CLSID_TestWidget),
        zeb::classEntry<CSlowTestWidget>(CLSID_SlowTestWidget),
    };
    return zeb::getClassObject(classes, clsid, riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() {
    return zeb::thisModule().canUnloadNow();
}
