#include "co/CCoCtorDtorTracer.h"

#include "co/CCoTraceContext.h"
#include "ext/k4bt09ax/k4bt09ax.h"

#include <cinttypes>
#include <cstdio>

CCoCtorDtorTracer::CCoCtorDtorTracer(const char* className) noexcept
    : CCoCtorDtorTracer(className, CCoTraceContext::ctorDtorContext()) {}

CCoCtorDtorTracer::CCoCtorDtorTracer(const char* className, const CCoTraceContext* context) noexcept
    : m_pszClassName(className ? className : "") {
    if (!context || !context->isReleased(7)) return;
    try {
        m_hModule = LoadLibraryA("k4bt09ax.dll");
        if (!m_hModule) return;
        m_pfnTrace =
            reinterpret_cast<PFN_tuTraceCTORDTOR>(GetProcAddress(m_hModule, "tuTraceCTORDTOR"));
    } catch (...) {
        m_pfnTrace = nullptr;
    }
    write("CTOR");
}

CCoCtorDtorTracer::~CCoCtorDtorTracer() {
    write("DTOR");
    if (m_hModule) FreeLibrary(m_hModule);
}

void CCoCtorDtorTracer::write(const char* what) noexcept {
    if (!m_pfnTrace) return;
    char text[256];
    std::snprintf(text, sizeof text, "%s %s (0x%0*" PRIXPTR ")", what, m_pszClassName,
                  int(2 * sizeof(void*)), reinterpret_cast<uintptr_t>(this));
    try {
        m_pfnTrace(text);
    } catch (...) {
    }
}
