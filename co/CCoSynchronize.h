// A scoped lock over a plain critical section, with the traced wait of
// CCoCriticalSection::Lock. A null section makes it a no-op.
//
//   {
//       CCoSynchronize lock(&m_sec);   // enters (traces only if it must wait)
//       ...
//   }                                  // leaves
#pragma once

#include "platform/win/Threading.h"

class CCoSynchronize {
public:
    explicit CCoSynchronize(LPCRITICAL_SECTION section);
    ~CCoSynchronize();
    CCoSynchronize(const CCoSynchronize&) = delete;
    CCoSynchronize& operator=(const CCoSynchronize&) = delete;

private:
    LPCRITICAL_SECTION m_pSection;
};
