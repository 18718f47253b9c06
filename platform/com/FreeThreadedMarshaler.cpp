// The free-threaded marshaler: marshals an interface by its pointer, for use
// within this process (see Marshal.h for the contract).

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Marshal.h"

#include <cstring>

namespace zeb {

namespace {

// What MarshalInterface writes. The token tells records of this process
// from bytes that came from anywhere else, which must never be taken for a
// pointer.
struct MarshalRecord {
    DWORD flags;
    DWORD reserved;
    GUID processToken;
    uint64_t pointer;
};
static_assert(sizeof(MarshalRecord) == 32);

const GUID& processToken() {
    static const GUID token = [] {
        GUID g{};
        if (FAILED(CoCreateGuid(&g))) g = makeGuid("5A0E3C1D-7F52-4B8E-9C61-0D4A8B27F3E9");
        return g;
    }();
    return token;
}

bool inProcess(DWORD destContext) {
    return destContext == MSHCTX_INPROC || destContext == MSHCTX_CROSSCTX;
}

bool holdsReference(DWORD flags) {
    return (flags & MSHLFLAGS_TABLEWEAK) == 0;
}

ComPtr<ISequentialStream> sequentialStreamOf(IStream* stream) {
    ComPtr<ISequentialStream> s;
    // Every stream interface starts with IUnknown's three slots.
    if (stream)
        reinterpret_cast<IUnknown*>(stream)->QueryInterface(IID_ISequentialStream,
                                                            reinterpret_cast<void**>(&s));
    return s;
}

HRESULT writeRecord(IStream* stream, const MarshalRecord& record) {
    ComPtr<ISequentialStream> s = sequentialStreamOf(stream);
    if (!s) return stream ? E_NOINTERFACE : E_INVALIDARG;
    ULONG written = 0;
    HRESULT hr = s->Write(&record, sizeof(record), &written);
    if (FAILED(hr)) return hr;
    return written == sizeof(record) ? S_OK : E_FAIL;
}

HRESULT readRecord(IStream* stream, MarshalRecord& record) {
    ComPtr<ISequentialStream> s = sequentialStreamOf(stream);
    if (!s) return stream ? E_NOINTERFACE : E_INVALIDARG;
    ULONG read = 0;
    HRESULT hr = s->Read(&record, sizeof(record), &read);
    if (FAILED(hr)) return hr;
    if (read != sizeof(record)) return E_FAIL;
    const DWORD knownFlags = MSHLFLAGS_TABLESTRONG | MSHLFLAGS_TABLEWEAK | MSHLFLAGS_NOPING;
    if (!(record.processToken == processToken()) || record.pointer == 0 ||
        (record.flags & ~knownFlags) != 0 ||
        ((record.flags & MSHLFLAGS_TABLESTRONG) && (record.flags & MSHLFLAGS_TABLEWEAK)))
        return E_INVALIDARG;
    return S_OK;
}

IUnknown* pointerOf(const MarshalRecord& record) {
    return reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(record.pointer));
}

class FreeThreadedMarshaler final : public ComObject<FreeThreadedMarshaler, IMarshal> {
public:
    HRESULT GetUnmarshalClass(REFIID, void*, DWORD destContext, void*, DWORD, CLSID* cid) override {
        if (!cid) return E_POINTER;
        *cid = GUID_NULL;
        if (!inProcess(destContext)) return E_NOTIMPL;
        *cid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }

    HRESULT GetMarshalSizeMax(REFIID, void*, DWORD destContext, void*, DWORD,
                              DWORD* size) override {
        if (!size) return E_POINTER;
        *size = 0;
        if (!inProcess(destContext)) return E_NOTIMPL;
        *size = sizeof(MarshalRecord);
        return S_OK;
    }

    HRESULT MarshalInterface(IStream* stream, REFIID, void* pv, DWORD destContext, void*,
                             DWORD flags) override {
        if (!stream || !pv) return E_INVALIDARG;
        if (!inProcess(destContext)) return E_NOTIMPL;
        if ((flags & MSHLFLAGS_TABLESTRONG) && (flags & MSHLFLAGS_TABLEWEAK)) return E_INVALIDARG;
        // pv is an interface pointer, and every interface begins with IUnknown.
        IUnknown* object = static_cast<IUnknown*>(pv);
        const MarshalRecord record{flags, 0, processToken(),
                                   static_cast<uint64_t>(reinterpret_cast<uintptr_t>(object))};
        if (holdsReference(flags)) object->AddRef();
        HRESULT hr = writeRecord(stream, record);
        if (FAILED(hr) && holdsReference(flags)) object->Release();
        return hr;
    }

    HRESULT UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        MarshalRecord record{};
        HRESULT hr = readRecord(stream, record);
        if (FAILED(hr)) return hr;
        IUnknown* object = pointerOf(record);
        hr = object->QueryInterface(riid, ppv);
        // A normal record is consumed by its one unmarshal; table records
        // stay valid until ReleaseMarshalData.
        if ((record.flags & (MSHLFLAGS_TABLESTRONG | MSHLFLAGS_TABLEWEAK)) == 0) object->Release();
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    }

    HRESULT ReleaseMarshalData(IStream* stream) override {
        MarshalRecord record{};
        HRESULT hr = readRecord(stream, record);
        if (FAILED(hr)) return hr;
        if (holdsReference(record.flags)) pointerOf(record)->Release();
        return S_OK;
    }

    HRESULT DisconnectObject(DWORD) override { return S_OK; }
};

} // namespace
} // namespace zeb

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshalerInner) {
    if (!marshalerInner) return E_INVALIDARG;
    return zeb::FreeThreadedMarshaler::createInstance(outer, IID_IUnknown,
                                                      reinterpret_cast<void**>(marshalerInner));
}
