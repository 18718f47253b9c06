// CSampleNumberedType: numbered device type n for volume tests and the
// benchmark ("BenchType<n>.1.0", identities from SampleIds.h), and its class
// object CSampleNumberedTypeFactory, one per number.
#pragma once

#include "samples/CSampleTypeObject.h"

class CSampleNumberedType final : public CSampleTypeObject<CSampleNumberedType, IMC_RTTypeIdent> {
public:
    explicit CSampleNumberedType(uint32_t n);
    HRESULT getRTTypeID(RTTypeID* out) override;

private:
    uint32_t m_n;
};

class CSampleNumberedTypeFactory final
    : public zeb::ComObject<CSampleNumberedTypeFactory, IClassFactory> {
public:
    static constexpr bool aggregatable = false;
    explicit CSampleNumberedTypeFactory(uint32_t n) : m_n(n) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL lock) override;

private:
    uint32_t m_n;
};
