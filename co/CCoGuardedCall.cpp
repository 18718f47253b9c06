#include "co/CCoGuardedCall.h"

#include "co/CCoDiagnostics.h"
#include "co/CCoError.h"

namespace zeb::detail {

void onCallException(CCoTraceRecord& record, const char* callText, CatchText spelling,
                     uint32_t line) noexcept {
    diagnosticsReport();
    record.level = 4;
    record.line = line;
    trace(record,
          spelling == CatchText::Exception ? "caught exception calling %s"
                                           : "caught exeption calling %s",
          callText ? callText : "");
}

void onCallFailure(CCoTraceRecord& record, const char* callText, HRESULT hr,
                   uint32_t line) noexcept {
    record.level = 4;
    record.line = line;
    trace(record, "error calling %s hr = 0x%X (%s)", callText ? callText : "",
          static_cast<unsigned>(hr), CCoError(hr).errorText());
}

void onCallFailureRet(CCoTraceRecord& record, const char* callText, HRESULT hr, DWORD ret,
                      uint32_t line) noexcept {
    record.level = 4;
    record.line = line;
    if (hr == S_OK) {
        trace(record, "error calling %s hr = 0x%X (%s), ret=0x%X", callText ? callText : "", 0u,
              "S_OK", ret);
    } else {
        trace(record, "error calling %s hr = 0x%X (%s), ret=0x%X", callText ? callText : "",
              static_cast<unsigned>(hr), CCoError(hr).errorText(), ret);
    }
}

void onUnhandledException(CCoTraceRecord& record, uint32_t line) noexcept {
    diagnosticsReport();
    record.level = 4;
    record.line = line;
    trace(record, "caught any unhandled exception");
}

} // namespace zeb::detail
