// The context-holder part of the installation object: it holds the context
// object the installation was given (which may answer IMC_MemoryCheck).
//
// The holder keeps one reference to the context. Not thread-safe: set the
// context before the object is used from other threads.
#pragma once

#include "platform/com/ComPtr.h"

class CContextHolder {
public:
    CContextHolder() = default;
    virtual ~CContextHolder() = default;
    CContextHolder(const CContextHolder&) = delete;
    CContextHolder& operator=(const CContextHolder&) = delete;

    // The context object, borrowed (no reference added); null when none.
    virtual IUnknown* getContext() const { return m_spContext.get(); }
    // Holds `context` (null empties the holder).
    void setContext(IUnknown* context) { m_spContext = context; }

protected:
    ComPtr<IUnknown> m_spContext;
};
