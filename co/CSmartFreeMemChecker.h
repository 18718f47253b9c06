// The memory-check scope: made at the start of an interface method with the
// installation object, it asks the installation's context object to check the
// memory and, at the end of the method, to close the checking frame.
//
//   HRESULT CZEBIntInstallation::getTypeByID(...) {
//       CSmartFreeMemChecker memCheck(this);   // this: a CContextHolder
//       ...
//   }
//
// Without a holder, a context or the IMC_MemoryCheck interface the scope does
// nothing. A failing check (hr < 0 or a nonzero result word) or a failing
// end of frame is traced at level 4 (source co_mem_checker); an exception
// from the context is caught and traced. The scope never changes the result
// of the method it guards and never throws.
#pragma once

#include "co/CContextHolder.h"
#include "co/IMC_MemoryCheck.h"
#include "platform/com/ComPtr.h"

class CSmartFreeMemChecker {
public:
    explicit CSmartFreeMemChecker(CContextHolder* pHolder) noexcept;
    ~CSmartFreeMemChecker();
    CSmartFreeMemChecker(const CSmartFreeMemChecker&) = delete;
    CSmartFreeMemChecker& operator=(const CSmartFreeMemChecker&) = delete;

private:
    ComPtr<IMC_MemoryCheck> m_spMemCheck; // held from construction to destruction
};
