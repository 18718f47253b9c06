#include "co/CCoCriticalSection.h"

#include "co/CCoTraceRecord.h"

namespace zeb {

void enterCriticalSectionTraced(LPCRITICAL_SECTION section, const char* function) {
    if (TryEnterCriticalSection(section)) return;
    CCoTraceRecord record("co_lock", function);
    // The owner may leave between the failed try and this read; then the
    // trace names thread 0, and the enter below does not block for long.
    ZEB_TRACE(record, 1, "thread 0x%X is waiting for thread 0x%X", GetCurrentThreadId(),
              section->OwningThread.load(std::memory_order_relaxed));
    EnterCriticalSection(section);
    ZEB_TRACE(record, 1, "thread 0x%X continued", GetCurrentThreadId());
}

} // namespace zeb

void CCoCriticalSection::Lock() {
    zeb::enterCriticalSectionTraced(&m_sec, "CCoCriticalSection::Lock");
}
