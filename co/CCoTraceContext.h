// A trace context: the trace library ("k4wtrcax.dll") as one trace component
// sees it.
//
// A context loads the library when it is made and calls its traceapi_Init2;
// if the library, that entry point or the call fails, the context stays
// unloaded and never traces (and reads no settings). Otherwise it resolves
// the other entry points, names the module that holds this code, and reads
// the switch "silent-trace" through "k4toolax.dll" (location value 18, base
// value 1): a positive value hands unreleased traces, unformatted, to the
// library's TraceMsgSilent. Destroying a loaded context closes its handle
// (a failure is reported on the debugger output) and frees the library.
//
// The module has two contexts, made on first use, once even when several
// threads ask at the same time, and destroyed at module unload:
//   mainContext()      component 1, module 15: every trace record
//   ctorDtorContext()  component 1, module 23: asked whether level 7 is released
// Other contexts may be made on other library names (tests do so to see a
// missing trace library or a fresh environment).
//
// Thread-safety: after construction a context is only read; trace and
// isReleased may be called from any thread.
#pragma once

#include "co/CCoTraceRecord.h"
#include "ext/k4wtrcax/k4wtrcax.h"
#include "platform/win/Module.h"

#include <cstdarg>

class CCoTraceContext {
public:
    static constexpr DWORD kComponentId = 1;
    static constexpr DWORD kMainModuleId = 15;
    static constexpr DWORD kCtorDtorModuleId = 23;

    // The module's contexts; null once destroyed (traces during module
    // unload after that point are dropped).
    static CCoTraceContext* mainContext() noexcept;
    static CCoTraceContext* ctorDtorContext() noexcept;

    CCoTraceContext(DWORD componentId, DWORD moduleId, const char* traceLibrary = "k4wtrcax.dll",
                    const char* settingsLibrary = "k4toolax.dll") noexcept;
    ~CCoTraceContext();
    CCoTraceContext(const CCoTraceContext&) = delete;
    CCoTraceContext& operator=(const CCoTraceContext&) = delete;

    bool isLoaded() const noexcept { return m_bLoaded; }
    bool isSilent() const noexcept { return m_bSilent; }
    const char* moduleName() const noexcept { return m_szModuleName; }

    // True when the library releases `level` for this context.
    bool isReleased(DWORD level) const noexcept;

    // Emits one message with the record's level and line: released, the
    // record's text receives the header (cut at 511 characters) and the
    // library formats the message; unreleased with the silent switch on, the
    // library receives the unformatted format string. Otherwise nothing.
    void trace(CCoTraceRecord& record, const char* format, va_list args) noexcept;

    // Fills a silent record from a trace record and an unformatted format:
    // bounded copies of exactly the record's field sizes, zero-padded, not
    // terminated when the source is as long or longer. Null strings are empty.
    static void fillSilentRecord(TRACE_SILENT_RECORD& out, const CCoTraceRecord& record,
                                 const char* format) noexcept;

private:
    void readSilentSwitch(const char* settingsLibrary) noexcept;

    PFN_traceapi_Init2 m_pfnInit2 = nullptr;
    PFN_VTraceMsg2 m_pfnVTraceMsg2 = nullptr;
    PFN_IsTraceReleased2 m_pfnIsTraceReleased2 = nullptr;
    PFN_traceapi_DeInit2 m_pfnDeInit2 = nullptr;
    PFN_TraceMsgSilent m_pfnTraceMsgSilent = nullptr;
    char m_szModuleName[260] = {};
    DWORD m_dwComponentId;
    DWORD m_dwModuleId;
    DWORD m_dwHandle = 0;
    bool m_bLoaded = false;
    bool m_bSilent = false;
    HMODULE m_hTraceLib = nullptr;
};
