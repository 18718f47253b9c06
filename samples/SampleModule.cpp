// The module entry points of libzebsamples.so.
#include "samples/CSampleAsyncType.h"
#include "samples/CSampleAxisType.h"
#include "samples/CSampleCamType.h"
#include "samples/CSampleDriveType.h"
#include "samples/CSampleExtension.h"
#include "samples/CSampleGenericType.h"
#include "samples/CSampleNumberedType.h"
#include "samples/CSampleOemExtension.h"
#include "samples/CSamplePackageType.h"
#include "samples/CSampleProgramType.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/CSampleReverseObject.h"
#include "samples/SampleIds.h"

#include "platform/com/ClassFactory.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"

#include <dlfcn.h>

namespace zeb::samples {
bool numberOfClsid(const CLSID& clsid, uint32_t& n);

namespace {
constexpr zeb::ClassEntry kClasses[] = {
    zeb::classEntry<CSampleDriveType>(CLSID_SampleDriveType),
    zeb::classEntry<CSampleAxisType>(CLSID_SampleAxisType),
    zeb::classEntry<CSampleCamType>(CLSID_SampleCamType),
    zeb::classEntry<CSamplePackageType>(CLSID_SamplePackageType),
    zeb::classEntry<CSampleBundleType>(CLSID_SampleBundleType),
    zeb::classEntry<CSampleProgramType>(CLSID_SampleProgramType),
    zeb::classEntry<CSampleAsyncType>(CLSID_SampleAsyncType),
    zeb::classEntry<CSampleExtension>(CLSID_SampleExtension),
    zeb::classEntry<CSampleOemExtension>(CLSID_SampleOemExtension),
    zeb::classEntry<CSampleReverseObject>(CLSID_OemReverseObject),
    zeb::classEntry<CSampleProjectHdl>(CLSID_SampleProjectHdl),
};

std::string ownPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ownPath), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}
} // namespace

bool registerServer() {
    std::string path = ownPath();
    if (path.empty()) return false;
    bool ok = true;
    auto add = [&](const CLSID& clsid) {
        ok = zeb::RegistryStore::writeString("HKEY_CLASSES_ROOT\\CLSID\\" +
                                                 zeb::guidToString(clsid) + "\\InprocServer32",
                                             "", zeb::toWide(path)) &&
             ok;
    };
    for (const auto& entry : kClasses)
        add(entry.clsid);
    add(CLSID_SampleGenericType);
    return ok;
}

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid == CLSID_SampleGenericType)
        return CSampleGenericTypeFactory::instance().QueryInterface(riid, ppv);
    uint32_t n = 0;
    if (numberOfClsid(clsid, n)) {
        ComPtr<IUnknown> factory;
        HRESULT hr = numberedTypeClassObject(n, &factory);
        return FAILED(hr) ? hr : factory->QueryInterface(riid, ppv);
    }
    return zeb::getClassObject(kClasses, clsid, riid, ppv);
}
} // namespace zeb::samples

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return zeb::samples::getClassObject(clsid, riid, ppv);
}
extern "C" HRESULT DllCanUnloadNow() {
    return zeb::thisModule().canUnloadNow();
}
extern "C" HRESULT DllRegisterServer() {
    return zeb::samples::registerServer() ? S_OK : E_FAIL;
}
