#include "co/CCoTraceContext.h"

#include "platform/win/SystemMessage.h"
#include "platform/win/Threading.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using PFN_K4TL_SettingGetValue = LONG (*)(DWORD location, DWORD base, const char16_t* key,
                                          DWORD* value);

// Set when a module context has been destroyed: constant-initialised, so it
// is valid before and after every dynamic initialisation and destruction.
constinit std::atomic<bool> g_mainGone{false};
constinit std::atomic<bool> g_ctorDtorGone{false};

// Lives in this module; its address names the module's file.
const char g_moduleAnchor = 0;

class ModuleContext : public CCoTraceContext {
public:
    ModuleContext(DWORD moduleId, std::atomic<bool>& gone)
        : CCoTraceContext(kComponentId, moduleId), m_gone(gone) {}
    ~ModuleContext() { m_gone.store(true); }

private:
    std::atomic<bool>& m_gone;
};

template <class Pfn> Pfn resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Pfn>(GetProcAddress(module, name));
}

void copyBounded(char* out, size_t size, const char* text) {
    size_t i = 0;
    if (text)
        for (; i < size && text[i]; ++i)
            out[i] = text[i];
    for (; i < size; ++i)
        out[i] = 0;
}

} // namespace

CCoTraceContext* CCoTraceContext::mainContext() noexcept {
    if (g_mainGone.load(std::memory_order_acquire)) return nullptr;
    static ModuleContext context(kMainModuleId, g_mainGone);
    return &context;
}

CCoTraceContext* CCoTraceContext::ctorDtorContext() noexcept {
    if (g_ctorDtorGone.load(std::memory_order_acquire)) return nullptr;
    static ModuleContext context(kCtorDtorModuleId, g_ctorDtorGone);
    return &context;
}

CCoTraceContext::CCoTraceContext(DWORD componentId, DWORD moduleId, const char* traceLibrary,
                                 const char* settingsLibrary) noexcept
    : m_dwComponentId(componentId), m_dwModuleId(moduleId) {
    try {
        m_hTraceLib = LoadLibraryA(traceLibrary);
        if (!m_hTraceLib) return;
        m_pfnInit2 = resolve<PFN_traceapi_Init2>(m_hTraceLib, "traceapi_Init2");
        if (!m_pfnInit2 || !m_pfnInit2(0, 0, &m_dwHandle, 0)) return;
        m_bLoaded = true;
        m_pfnVTraceMsg2 = resolve<PFN_VTraceMsg2>(m_hTraceLib, "VTraceMsg2");
        m_pfnIsTraceReleased2 = resolve<PFN_IsTraceReleased2>(m_hTraceLib, "IsTraceReleased2");
        m_pfnDeInit2 = resolve<PFN_traceapi_DeInit2>(m_hTraceLib, "traceapi_DeInit2");
        m_pfnTraceMsgSilent = resolve<PFN_TraceMsgSilent>(m_hTraceLib, "TraceMsgSilent");

        std::string path = zeb::moduleFileOf(&g_moduleAnchor);
        size_t slash = path.find_last_of('/');
        copyBounded(m_szModuleName, sizeof m_szModuleName - 1,
                    path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
    } catch (...) {
        // A library that throws is treated as a library that failed: the
        // context keeps what it has resolved, or stays unloaded.
    }
    if (m_bLoaded) readSilentSwitch(settingsLibrary);
}

void CCoTraceContext::readSilentSwitch(const char* settingsLibrary) noexcept {
    HMODULE settings = nullptr;
    try {
        settings = LoadLibraryA(settingsLibrary);
        if (!settings) return;
        if (auto getValue = resolve<PFN_K4TL_SettingGetValue>(settings, "K4TL_SettingGetValue")) {
            DWORD value = 0;
            if (getValue(18, 1, u"silent-trace", &value) == 0 && value > 0) m_bSilent = true;
        }
    } catch (...) {
        // A failing settings read only means that silent tracing stays off.
    }
    if (settings) FreeLibrary(settings);
}

CCoTraceContext::~CCoTraceContext() {
    if (m_bLoaded && m_pfnDeInit2) {
        BOOL closed = FALSE;
        try {
            closed = m_pfnDeInit2(&m_dwHandle);
        } catch (...) {
        }
        if (!closed) OutputDebugStringA("warning: calling traceapi_DeInit2 failed\n");
    }
    if (m_hTraceLib) FreeLibrary(m_hTraceLib);
}

bool CCoTraceContext::isReleased(DWORD level) const noexcept {
    if (!m_pfnVTraceMsg2 || !m_pfnIsTraceReleased2) return false;
    try {
        return m_pfnIsTraceReleased2(m_dwHandle, m_dwComponentId, m_dwModuleId, level) != 0;
    } catch (...) {
        return false;
    }
}

void CCoTraceContext::fillSilentRecord(TRACE_SILENT_RECORD& out, const CCoTraceRecord& record,
                                       const char* format) noexcept {
    out.level = record.level;
    out.line = record.line;
    copyBounded(out.file, sizeof out.file, record.file);
    copyBounded(out.function, sizeof out.function, record.function);
    copyBounded(out.format, sizeof out.format, format);
}

void CCoTraceContext::trace(CCoTraceRecord& record, const char* format, va_list args) noexcept {
    if (!format) return;
    try {
        if (isReleased(record.level)) {
            std::snprintf(record.text, sizeof record.text, "%s [%s (%d), module: %s, thread: 0x%X]",
                          record.function ? record.function : "", record.file ? record.file : "",
                          static_cast<int>(record.line), m_szModuleName, GetCurrentThreadId());
            m_pfnVTraceMsg2(m_dwHandle, m_dwComponentId, m_dwModuleId, record.level, record.text,
                            format, args);
        } else if (m_bSilent && m_pfnTraceMsgSilent) {
            TRACE_SILENT_RECORD silent;
            fillSilentRecord(silent, record, format);
            m_pfnTraceMsgSilent(&silent);
        }
    } catch (...) {
        // Tracing never fails an operation.
    }
}
