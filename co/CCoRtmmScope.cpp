#include "co/CCoRtmmScope.h"

#include "co/CCoBasisEsSettings.h"
#include "co/CCoTraceRecord.h"

#include <cstdlib>
#include <cstring>

namespace {

char* copyOf(const char* text) noexcept {
    return strdup(text ? text : "");
}

// Read once, when the module starts.
const bool g_bRtmmActive = CCoRtmmScope::readSwitch();

} // namespace

bool CCoRtmmScope::readSwitch() noexcept {
    try {
        DWORD value = 0;
        return CCoBasisEsSettings::getValue(1, u"rtmm\\active", value) == 0 && value == 1;
    } catch (...) {
        return false;
    }
}

bool CCoRtmmScope::isActive() noexcept {
    return g_bRtmmActive;
}

CCoRtmmScope::CCoRtmmScope(const char* category, const char* operation) noexcept
    : CCoRtmmScope(isActive(), category, operation) {}

CCoRtmmScope::CCoRtmmScope(bool active, const char* category, const char* operation) noexcept {
    if (!active) return;
    m_pszCategory = copyOf(category);
    m_pszOperation = copyOf(operation);
    mark("BEGIN");
}

CCoRtmmScope::~CCoRtmmScope() {
    mark("END");
    std::free(m_pszCategory);
    std::free(m_pszOperation);
}

void CCoRtmmScope::mark(const char* phase) noexcept {
    if (!m_pszCategory || !m_pszOperation) return;
    CCoTraceRecord rec("RTMMTracer", "RTMMTracer::trace");
    rec.level = 5;
    rec.line = 57;
    trace(rec, "RTMM+%s+%s+%s", m_pszCategory, phase, m_pszOperation);
}
