#include "samples/CSampleNumberedType.h"
#include "samples/SampleIds.h"

namespace zeb::samples {
namespace {
GUID numbered(uint32_t n, uint8_t kind) {
    GUID g = makeGuid("00000000-6B2D-4E55-8C11-0000000000B0");
    g.Data1 = n;
    g.Data4[7] = uint8_t(0xB0 | kind);
    return g;
}
} // namespace

CLSID numberedTypeClsid(uint32_t n) {
    return numbered(n, 1);
}
GUID numberedTypeId(uint32_t n) {
    return numbered(n, 2);
}
GUID numberedTypeFamily(uint32_t n) {
    return numbered(n, 3);
}
std::string numberedTypeName(uint32_t n) {
    return "BenchType" + std::to_string(n) + ".1.0";
}

HRESULT numberedTypeClassObject(uint32_t n, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CSampleNumberedTypeFactory* factory = nullptr;
    HRESULT hr = CSampleNumberedTypeFactory::createObject(&factory, n);
    if (SUCCEEDED(hr)) *out = static_cast<IClassFactory*>(factory);
    return hr;
}

// The number of a numbered class identifier.
bool numberOfClsid(const CLSID& clsid, uint32_t& n) {
    if (numberedTypeClsid(clsid.Data1) != clsid) return false;
    n = clsid.Data1;
    return true;
}
} // namespace zeb::samples

CSampleNumberedType::CSampleNumberedType(uint32_t n)
    : CSampleTypeObject(zeb::samples::numberedTypeName(n), zeb::samples::numberedTypeId(n)),
      m_n(n) {}

HRESULT CSampleNumberedType::getRTTypeID(RTTypeID* out) {
    if (!out) return E_POINTER;
    *out = RTTypeID{zeb::samples::numberedTypeFamily(m_n), 1, 0};
    return S_OK;
}

HRESULT CSampleNumberedTypeFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return CSampleNumberedType::createInstance(outer, riid, ppv, m_n);
}

HRESULT CSampleNumberedTypeFactory::LockServer(BOOL lock) {
    if (lock)
        zeb::thisModule().lock();
    else
        zeb::thisModule().unlock();
    return S_OK;
}
