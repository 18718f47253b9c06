// The exported entry points of the trace sink; see k4wtrcax.h.
#include "ext/k4wtrcax/k4wtrcax.h"
#include "ext/k4wtrcax/TraceSink.h"

extern "C" {

BOOL traceapi_Init2(DWORD, DWORD, DWORD* handle, DWORD) {
    if (!handle) return FALSE;
    DWORD opened = TraceSink::instance().open();
    if (opened == 0) return FALSE;
    *handle = opened;
    return TRUE;
}

BOOL IsTraceReleased2(DWORD handle, DWORD, DWORD, DWORD level) {
    return TraceSink::instance().isReleased(handle, level) ? TRUE : FALSE;
}

void VTraceMsg2(DWORD handle, DWORD, DWORD, DWORD level, const char* header, const char* format,
                va_list args) {
    TraceSink::instance().write(handle, level, header, format, args);
}

void TraceMsgSilent(const TRACE_SILENT_RECORD* record) {
    if (record) TraceSink::instance().writeSilent(*record);
}

BOOL traceapi_DeInit2(DWORD* handle) {
    if (!handle) return FALSE;
    if (!TraceSink::instance().close(*handle)) return FALSE;
    *handle = 0;
    return TRUE;
}

} // extern "C"
