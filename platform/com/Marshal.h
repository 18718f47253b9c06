// IMarshal and the free-threaded marshaler.
//
// An object that may be called from any thread aggregates the free-threaded
// marshaler, so that a QueryInterface for IMarshal finds it:
//
//   class CLockBytes final : public zeb::ComObject<CLockBytes, ILockBytes> {
//   public:
//       HRESULT FinalConstruct() {
//           return CoCreateFreeThreadedMarshaler(controllingUnknown(), &m_marshaler);
//       }
//       HRESULT queryOtherInterface(REFIID riid, void** ppv) {
//           if (riid == IID_IMarshal && m_marshaler) return m_marshaler->QueryInterface(riid, ppv);
//           return E_NOINTERFACE;
//       }
//   private:
//       ComPtr<IUnknown> m_marshaler; // the marshaler's inner (non-delegating) IUnknown
//   };
//
// Objects are used directly across threads in this runtime, so the marshaler
// marshals by pointer: MarshalInterface writes a 32-byte record (flags, a
// token of this process, the pointer) into the stream and, for normal and
// table-strong marshaling, keeps a reference on the object;
// UnmarshalInterface reads the record and queries the pointer for the asked
// IID (normal marshaling: one unmarshal consumes the record and its
// reference, whether the query succeeds or not); ReleaseMarshalData drops the
// reference of a record that will not be unmarshaled. A record from another
// process (token mismatch) or a malformed record gives E_INVALIDARG; a
// stream that cannot be read or written to the full record gives E_FAIL (or
// the stream's error). Only in-process destinations (MSHCTX_INPROC,
// MSHCTX_CROSSCTX) are supported; others give E_NOTIMPL, as there is no
// marshaling to another process. Streams are used through ISequentialStream
// (SequentialStream.h), which the passed IStream must answer.
//
// CoCreateFreeThreadedMarshaler(outer, &inner): E_INVALIDARG for a null
// out-pointer. With a null outer the marshaler stands alone (inner is then
// its ordinary IUnknown).
#pragma once

#include "platform/com/SequentialStream.h"

constexpr DWORD MSHCTX_LOCAL = 0;
constexpr DWORD MSHCTX_NOSHAREDMEM = 1;
constexpr DWORD MSHCTX_DIFFERENTMACHINE = 2;
constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHCTX_CROSSCTX = 4;

constexpr DWORD MSHLFLAGS_NORMAL = 0;
constexpr DWORD MSHLFLAGS_TABLESTRONG = 1;
constexpr DWORD MSHLFLAGS_TABLEWEAK = 2;
constexpr DWORD MSHLFLAGS_NOPING = 4;

struct IMarshal : IUnknown {
    static constexpr IID iid = makeGuid("00000003-0000-0000-C000-000000000046");
    virtual HRESULT GetUnmarshalClass(REFIID riid, void* pv, DWORD dwDestContext,
                                      void* pvDestContext, DWORD mshlflags, CLSID* pCid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID riid, void* pv, DWORD dwDestContext,
                                      void* pvDestContext, DWORD mshlflags, DWORD* pSize) = 0;
    virtual HRESULT MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext,
                                     void* pvDestContext, DWORD mshlflags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* pStm) = 0;
    virtual HRESULT DisconnectObject(DWORD dwReserved) = 0;
};

constexpr IID IID_IMarshal = IMarshal::iid;
constexpr CLSID CLSID_InProcFreeMarshaler = makeGuid("0000033A-0000-0000-C000-000000000046");

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshalerInner);
