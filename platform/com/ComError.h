// ComError: a failing HRESULT carried as a C++ exception, for the thin C++
// wrappers over COM interfaces (e.g. platform/xml/XmlDom.h). Code that
// implements an interface method catches it and returns code() again; no
// exception leaves an interface method.
#pragma once

#include "platform/win/WinTypes.h"

#include <stdexcept>
#include <string>

namespace zeb {

class ComError : public std::runtime_error {
public:
    // `what` says which call failed; the code is appended as 0x%08X.
    ComError(HRESULT hr, const std::string& what);
    HRESULT code() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

// Throws ComError(hr, what) when hr is a failure; returns hr otherwise
// (S_FALSE stays visible to the caller).
inline HRESULT throwIfFailed(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw ComError(hr, what);
    return hr;
}

} // namespace zeb
