#include "co/CCoSynchronize.h"

#include "co/CCoCriticalSection.h"

CCoSynchronize::CCoSynchronize(LPCRITICAL_SECTION section) : m_pSection(section) {
    if (m_pSection)
        zeb::enterCriticalSectionTraced(m_pSection,
                                        "CCoSynchronize::CCoSynchronize(LPCRITICAL_SECTION)");
}

CCoSynchronize::~CCoSynchronize() {
    if (m_pSection) LeaveCriticalSection(m_pSection);
}
