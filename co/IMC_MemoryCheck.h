// The memory-check interface of the installation's context object: the
// context checks the process's memory state and frames the checks of one
// interface method.
#pragma once

#include "platform/com/Unknown.h"

struct IMC_MemoryCheck : IUnknown {
    static constexpr IID iid = makeGuid("E9F21EFE-33A5-4EF1-9210-68F6C214268E");
    // Checks the memory state; *dwRet != 0 reports a problem.
    virtual HRESULT checkMemory(DWORD* dwRet) = 0;
    // Closes the frame opened by checkMemory.
    virtual HRESULT endCheckingFrame() = 0;
};
