// The class objects of the numbered sample types first .. end-1, registered
// in this process for as long as the object lives, so that installations
// can install those types by their CLSIDs (volume tests and benchmarks).
//
//   zeb::samples::RegisteredNumberedTypes types(0, 10000);
//   inst->addTypeByClass(zeb::samples::numberedTypeClsid(42), TC_Device, &ret);
#pragma once

#include "platform/com/Activation.h"
#include "samples/SampleIds.h"

#include <cstdint>
#include <vector>

namespace zeb::samples {

class RegisteredNumberedTypes {
public:
    RegisteredNumberedTypes(uint32_t first, uint32_t end) {
        m_cookies.reserve(end > first ? end - first : 0);
        for (uint32_t i = first; i < end; ++i) {
            ComPtr<IUnknown> factory;
            numberedTypeClassObject(i, &factory);
            DWORD cookie = 0;
            if (factory &&
                CoRegisterClassObject(numberedTypeClsid(i), factory, CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie) == S_OK)
                m_cookies.push_back(cookie);
        }
    }
    explicit RegisteredNumberedTypes(uint32_t count) : RegisteredNumberedTypes(0, count) {}
    ~RegisteredNumberedTypes() {
        for (DWORD cookie : m_cookies)
            CoRevokeClassObject(cookie);
    }
    RegisteredNumberedTypes(const RegisteredNumberedTypes&) = delete;
    RegisteredNumberedTypes& operator=(const RegisteredNumberedTypes&) = delete;

private:
    std::vector<DWORD> m_cookies;
};

} // namespace zeb::samples
