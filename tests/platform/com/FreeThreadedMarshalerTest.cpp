#include "tests/platform/com/TestObjects.h"

#include "platform/com/Marshal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// A stream over memory: writes append, reads consume from the front.
class CMemoryStream final : public zeb::ComObject<CMemoryStream, ISequentialStream> {
public:
    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        const ULONG n = std::min<ULONG>(cb, ULONG(bytes.size() - position));
        std::memcpy(pv, bytes.data() + position, n);
        position += n;
        if (read) *read = n;
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(pv),
                     static_cast<const uint8_t*>(pv) + cb);
        if (written) *written = cb;
        return S_OK;
    }
    IStream* asStream() {
        return reinterpret_cast<IStream*>(static_cast<ISequentialStream*>(this));
    }
    std::vector<uint8_t> bytes;
    size_t position = 0;
};

// A free-threaded object: aggregates the marshaler.
class CAgile final : public zeb::ComObject<CAgile, IProbe> {
public:
    static inline int live = 0;
    CAgile() { ++live; }
    ~CAgile() { --live; }
    HRESULT FinalConstruct() {
        return CoCreateFreeThreadedMarshaler(controllingUnknown(), &m_marshaler);
    }
    HRESULT queryOtherInterface(REFIID riid, void** ppv) {
        return riid == IID_IMarshal ? m_marshaler->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    HRESULT value(DWORD* v) override {
        *v = 1;
        return S_OK;
    }

private:
    ComPtr<IUnknown> m_marshaler;
};

class FreeThreadedMarshaler : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CAgile::createInstance(nullptr, uuidof<IProbe>(), out(m_object)), S_OK);
        ASSERT_EQ(m_object.QueryInterface(&m_marshal), S_OK);
        ASSERT_EQ(CMemoryStream::createObject(&m_stream), S_OK);
    }
    void TearDown() override {
        m_marshal.Release();
        m_object.Release();
        EXPECT_EQ(CAgile::live, 0);
    }
    HRESULT marshal(DWORD flags, DWORD context = MSHCTX_INPROC) {
        return m_marshal->MarshalInterface(m_stream->asStream(), uuidof<IProbe>(), m_object.get(),
                                           context, nullptr, flags);
    }

    ComPtr<IProbe> m_object;
    ComPtr<IMarshal> m_marshal;
    ComPtr<CMemoryStream> m_stream;
};

TEST_F(FreeThreadedMarshaler, AnswersIMarshalWithTheIdentityOfItsOuterObject) {
    ComPtr<IUnknown> fromMarshal, fromObject;
    m_marshal.QueryInterface(&fromMarshal);
    m_object.QueryInterface(&fromObject);
    EXPECT_EQ(fromMarshal.get(), fromObject.get());
}

TEST_F(FreeThreadedMarshaler, NormalRecordIsConsumedOnceAndTableRecordWhenReleased) {
    const ULONG before = refCount(m_object);
    ASSERT_EQ(marshal(MSHLFLAGS_NORMAL), S_OK);
    ASSERT_EQ(marshal(MSHLFLAGS_TABLESTRONG), S_OK);
    EXPECT_EQ(refCount(m_object), before + 2);
    for (int i = 0; i < 3; ++i) { // the normal record, then the table record twice
        m_stream->position = i == 0 ? 0 : 32;
        ComPtr<IProbe> back;
        ASSERT_EQ(m_marshal->UnmarshalInterface(m_stream->asStream(), uuidof<IProbe>(), out(back)),
                  S_OK);
        EXPECT_EQ(back.get(), m_object.get());
    }
    EXPECT_EQ(refCount(m_object), before + 1);
    m_stream->position = 32;
    EXPECT_EQ(m_marshal->ReleaseMarshalData(m_stream->asStream()), S_OK);
    EXPECT_EQ(refCount(m_object), before);
}

TEST_F(FreeThreadedMarshaler, RefusesForeignShortAndOutOfProcessRecords) {
    EXPECT_EQ(marshal(MSHLFLAGS_NORMAL, MSHCTX_LOCAL), E_NOTIMPL);
    ASSERT_EQ(marshal(MSHLFLAGS_TABLEWEAK), S_OK);
    std::vector<uint8_t> good = m_stream->bytes;

    m_stream->bytes[8] ^= 0xFF; // another process's token
    ComPtr<IProbe> back;
    EXPECT_EQ(m_marshal->UnmarshalInterface(m_stream->asStream(), uuidof<IProbe>(), out(back)),
              E_INVALIDARG);
    m_stream->bytes.assign(good.begin(), good.end() - 1);
    m_stream->position = 0;
    EXPECT_EQ(m_marshal->UnmarshalInterface(m_stream->asStream(), uuidof<IProbe>(), out(back)),
              E_FAIL);
    EXPECT_EQ(m_marshal->UnmarshalInterface(nullptr, uuidof<IProbe>(), out(back)), E_INVALIDARG);
    EXPECT_FALSE(back);
}

} // namespace
