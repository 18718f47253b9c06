// A class library as a third party would write one: one class, its factory,
// and the two entry points the runtime looks for.
#include "tests/platform/com/plugin/TestPlugin.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"

namespace {

class CTestWidget final : public zeb::ComObject<CTestWidget, ITestWidget> {
public:
    HRESULT answer(DWORD* value) override {
        if (!value) return E_POINTER;
        *value = kTestWidgetAnswer;
        return S_OK;
    }
};

} // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    static constexpr zeb::ClassEntry classes[] = {zeb::classEntry<CTestWidget>(CLSID_TestWidget)};
    return zeb::getClassObject(classes, clsid, riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() {
    return zeb::thisModule().canUnloadNow();
}
