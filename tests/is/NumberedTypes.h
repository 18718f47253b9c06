// The class objects of the sample's numbered types 0 .. count-1, registered
// in this process for as long as the object lives, so that installations
// can install those types by their CLSIDs.
#pragma once

#include "platform/com/Activation.h"
#include "samples/SampleIds.h"

#include <cstdint>
#include <vector>

namespace zeb::test {

class NumberedTypes {
public:
    explicit NumberedTypes(uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            ComPtr<IUnknown> factory;
            zeb::samples::numberedTypeClassObject(i, &factory);
            DWORD cookie = 0;
            if (factory &&
                CoRegisterClassObject(zeb::samples::numberedTypeClsid(i), factory,
                                      CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie) == S_OK)
                m_cookies.push_back(cookie);
        }
    }
    ~NumberedTypes() {
        for (DWORD cookie : m_cookies)
            CoRevokeClassObject(cookie);
    }
    NumberedTypes(const NumberedTypes&) = delete;
    NumberedTypes& operator=(const NumberedTypes&) = delete;

private:
    std::vector<DWORD> m_cookies;
};

} // namespace zeb::test
