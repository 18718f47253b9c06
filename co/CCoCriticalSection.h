// A re-entrant critical section whose blocking waits are traced.
//
// Lock() first tries to enter; only when another thread owns the section it
// traces at level 1 "thread 0x<me> is waiting for thread 0x<owner>", blocks,
// and traces "thread 0x<me> continued" once it got in. An uncontended Lock
// traces nothing. The wait never times out: the traces only say who waited
// for whom.
//
//   CCoCriticalSection g_timerMapLock;   // g_timerMapLock.Init() at module load
//   g_timerMapLock.Lock();
//   ...                                  // re-entrant: Lock again is fine
//   g_timerMapLock.Unlock();
//   g_timerMapLock.Term();               // at module unload
//
// REQUIRES: Init() before the first Lock(), Term() after the last Unlock().
#pragma once

#include "platform/win/Threading.h"

class CCoCriticalSection {
public:
    CCoCriticalSection() = default;
    CCoCriticalSection(const CCoCriticalSection&) = delete;
    CCoCriticalSection& operator=(const CCoCriticalSection&) = delete;

    void Init() { InitializeCriticalSection(&m_sec); }
    void Term() { DeleteCriticalSection(&m_sec); }
    void Lock();
    void Unlock() { LeaveCriticalSection(&m_sec); }

    CRITICAL_SECTION m_sec;
};

namespace zeb {

// Enters `section`, tracing a blocking wait as CCoCriticalSection::Lock does,
// with `function` as the traced operation name (source "co_lock").
void enterCriticalSectionTraced(LPCRITICAL_SECTION section, const char* function);

} // namespace zeb
