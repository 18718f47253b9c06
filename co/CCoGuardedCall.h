// Guarded calls: every call into another component (a COM method, an outside
// module, a library routine that may throw) runs inside a handler, and every
// failure leaves one trace at level 4. One line per call:
//
//   CCoTraceRecord rec("is_data", "CIsTypeCont::addType");
//   hr = ZEB_GUARDED_CALL(rec, spIType->getName(&spName));
//   // fails:  "error calling spIType->getName(&spName) hr = 0x80004005 (Unspecified error)"
//   // throws: "caught exeption calling spIType->getName(&spName)", then the
//   //         line above with E_FAIL; the result is E_FAIL
//
//   DWORD dwRet = 0;
//   hr = ZEB_GUARDED_CALL_RET(rec, dwRet, spIIntHdl->createInterfaceByCLSID(clsid, 0, &spUnk,
//   &dwRet));
//   // hr < 0 or dwRet != 0: "error calling ... hr = 0x%X (%s), ret=0x%X"
//   // ("S_OK" as the text when hr is 0); a failing hr with dwRet 0 leaves dwRet 0xFFFF
//
//   hr = ZEB_GUARDED_VOID_CALL(rec, m_spIUnkMarshaler.Release());   // S_OK, or E_FAIL if it threw
//
// When the text to trace is not the call as written (or the message spells
// "caught exception calling"), use the functions with an explicit text:
//
//   hr = guardedCall(rec, "spIGIT->RevokeInterfaceFromGlobal(m_dwCookie)",
//                    [&] { return spIGIT->RevokeInterfaceFromGlobal(m_dwCookie); },
//                    CatchText::Exception);
//
// Interface methods and destructors end in a catch-all; the body runs inside it:
//
//   HRESULT CZEBInstallation::save(DWORD* pRet) {
//       CCoTraceRecord rec("is_inst", "CZEBInstallation::save");
//       return guardedMethod(rec, [&]() -> HRESULT { ...; return S_OK; });
//   }   // an exception: diagnosticsReport(), "caught any unhandled exception", E_FAIL
//
//   CIsTypeCont::~CIsTypeCont() {
//       CCoTraceRecord rec("is_data", "CIsTypeCont::~CIsTypeCont");
//       guardedDestructor(rec, [&] { clear(); });
//   }
//
// Every caught exception first runs diagnosticsReport(). Traces carry the
// line of the call site. Hardware faults (a bad pointer dereferenced inside
// the callee) are signals on this platform, not exceptions: they are not
// caught. None of these helpers throws.
#pragma once

#include "co/CCoTraceRecord.h"
#include "platform/win/WinTypes.h"

#include <version>
#if defined(__cpp_lib_source_location)
#include <source_location>
namespace zeb {
using SourceLocation = std::source_location;
}
#else
// clang 14 (the fuzzing compiler) lacks std::source_location over libstdc++.
#include <experimental/source_location>
namespace zeb {
using SourceLocation = std::experimental::source_location;
}
#endif
#include <type_traits>
#include <utility>

// How the trace of a caught exception spells the word: both spellings occur.
enum class CatchText { Exeption, Exception };

namespace zeb::detail {
// Run diagnosticsReport() and trace "caught exeption calling <callText>".
void onCallException(CCoTraceRecord& record, const char* callText, CatchText spelling,
                     uint32_t line) noexcept;
// Trace "error calling <callText> hr = 0x%X (%s)".
void onCallFailure(CCoTraceRecord& record, const char* callText, HRESULT hr,
                   uint32_t line) noexcept;
// Trace "error calling <callText> hr = 0x%X (%s), ret=0x%X".
void onCallFailureRet(CCoTraceRecord& record, const char* callText, HRESULT hr, DWORD ret,
                      uint32_t line) noexcept;
// Run diagnosticsReport() and trace "caught any unhandled exception".
void onUnhandledException(CCoTraceRecord& record, uint32_t line) noexcept;
} // namespace zeb::detail

// Runs `call` (which returns an HRESULT). An exception becomes E_FAIL; a
// failing result (hr < 0) is traced. Returns the result.
template <class F>
HRESULT guardedCall(CCoTraceRecord& record, const char* callText, F&& call,
                    CatchText spelling = CatchText::Exeption,
                    zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    static_assert(std::is_convertible_v<std::invoke_result_t<F&>, HRESULT>,
                  "guardedCall runs calls that return an HRESULT");
    HRESULT hr;
    try {
        hr = call();
    } catch (...) {
        zeb::detail::onCallException(record, callText, spelling, where.line());
        hr = E_FAIL;
    }
    if (FAILED(hr)) zeb::detail::onCallFailure(record, callText, hr, where.line());
    return hr;
}

// Runs `call` (which returns an HRESULT and writes the second result word
// `ret`; REQUIRES: `ret` set by the caller beforehand, normally to 0). An
// exception becomes E_FAIL. hr < 0 or ret != 0 is traced; then a failing hr
// with ret 0 sets ret to 0xFFFF. Returns the result; the call failed when
// FAILED(hr) || ret != 0.
template <class F>
HRESULT guardedCallRet(CCoTraceRecord& record, const char* callText, DWORD& ret, F&& call,
                       CatchText spelling = CatchText::Exeption,
                       zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    static_assert(std::is_convertible_v<std::invoke_result_t<F&>, HRESULT>,
                  "guardedCallRet runs calls that return an HRESULT");
    HRESULT hr;
    try {
        hr = call();
    } catch (...) {
        zeb::detail::onCallException(record, callText, spelling, where.line());
        hr = E_FAIL;
    }
    if (FAILED(hr) || ret != 0) {
        zeb::detail::onCallFailureRet(record, callText, hr, ret, where.line());
        if (FAILED(hr) && ret == 0) ret = 0xFFFF;
    }
    return hr;
}

// Runs `call`, whose result (if any) is discarded; S_OK, or E_FAIL when it
// threw (traced as a caught exception only: there is no result to trace).
// To keep a value, assign it inside the lambda.
template <class F>
HRESULT guardedVoidCall(CCoTraceRecord& record, const char* callText, F&& call,
                        CatchText spelling = CatchText::Exeption,
                        zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    try {
        call();
        return S_OK;
    } catch (...) {
        zeb::detail::onCallException(record, callText, spelling, where.line());
        return E_FAIL;
    }
}

// Runs `body` and returns its result; an exception escaping it is traced
// ("caught any unhandled exception", after diagnosticsReport()) and gives
// `failure` instead.
template <class R, class F>
R guardedBody(CCoTraceRecord& record, R failure, F&& body,
              zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    try {
        return body();
    } catch (...) {
        zeb::detail::onUnhandledException(record, where.line());
        return failure;
    }
}

// The catch-all of an interface method: as guardedBody with E_FAIL.
template <class F>
HRESULT guardedMethod(CCoTraceRecord& record, F&& body,
                      zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    return guardedBody<HRESULT>(record, E_FAIL, std::forward<F>(body), where);
}

// The catch-all of a destructor (or any step that returns nothing).
template <class F>
void guardedDestructor(CCoTraceRecord& record, F&& body,
                       zeb::SourceLocation where = zeb::SourceLocation::current()) noexcept {
    try {
        body();
    } catch (...) {
        zeb::detail::onUnhandledException(record, where.line());
    }
}

// The call as written becomes the traced text; spelling "caught exeption".
#define ZEB_GUARDED_CALL(record, ...)                                                              \
    ::guardedCall((record), #__VA_ARGS__, [&]() -> HRESULT { return (__VA_ARGS__); })
#define ZEB_GUARDED_CALL_RET(record, ret, ...)                                                     \
    ::guardedCallRet((record), #__VA_ARGS__, (ret), [&]() -> HRESULT { return (__VA_ARGS__); })
#define ZEB_GUARDED_VOID_CALL(record, ...)                                                         \
    ::guardedVoidCall((record), #__VA_ARGS__, [&]() { (void)(__VA_ARGS__); })
