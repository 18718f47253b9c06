// A handle on the trace sink for the other run-time modules (diagnostics
// report, constructor/destructor trace): loads "k4wtrcax.dll" beside the
// module, opens a handle (the sink reads its environment then) and closes it
// and frees the sink when destroyed. Without the sink nothing is written.
//
//   TraceSinkClient sink(1, 3);
//   if (sink.isReleased(4)) sink.write(4, "header", "value %d", 42);
//
// Thread-safety: after construction only read; write may be called from any
// thread (the sink serialises lines).
#pragma once

#include "ext/k4wtrcax/k4wtrcax.h"
#include "platform/win/Module.h"

#include <cstdarg>

class TraceSinkClient {
public:
    TraceSinkClient(DWORD component, DWORD module) noexcept
        : m_component(component), m_module(module) {
        m_hSink = LoadLibraryA("k4wtrcax.dll");
        if (!m_hSink) return;
        auto init = reinterpret_cast<PFN_traceapi_Init2>(GetProcAddress(m_hSink, "traceapi_Init2"));
        m_pfnDeInit =
            reinterpret_cast<PFN_traceapi_DeInit2>(GetProcAddress(m_hSink, "traceapi_DeInit2"));
        if (!init || !m_pfnDeInit || !init(0, 0, &m_handle, 0)) return;
        m_pfnReleased =
            reinterpret_cast<PFN_IsTraceReleased2>(GetProcAddress(m_hSink, "IsTraceReleased2"));
        m_pfnTrace = reinterpret_cast<PFN_VTraceMsg2>(GetProcAddress(m_hSink, "VTraceMsg2"));
    }
    ~TraceSinkClient() {
        if (m_handle) m_pfnDeInit(&m_handle);
        if (m_hSink) FreeLibrary(m_hSink);
    }
    TraceSinkClient(const TraceSinkClient&) = delete;
    TraceSinkClient& operator=(const TraceSinkClient&) = delete;

    bool isReleased(DWORD level) const noexcept {
        return m_handle && m_pfnReleased && m_pfnTrace &&
               m_pfnReleased(m_handle, m_component, m_module, level);
    }

    void write(DWORD level, const char* header, const char* format, ...) const noexcept
        __attribute__((format(printf, 4, 5))) {
        if (!isReleased(level)) return;
        va_list args;
        va_start(args, format);
        m_pfnTrace(m_handle, m_component, m_module, level, header, format, args);
        va_end(args);
    }

private:
    DWORD m_component;
    DWORD m_module;
    HMODULE m_hSink = nullptr;
    DWORD m_handle = 0;
    PFN_traceapi_DeInit2 m_pfnDeInit = nullptr;
    PFN_IsTraceReleased2 m_pfnReleased = nullptr;
    PFN_VTraceMsg2 m_pfnTrace = nullptr;
};
