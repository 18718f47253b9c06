// The constructor/destructor tracer: a member object of the component
// classes that records their construction and destruction.
//
//   class CZEBInstallation ... {
//       CCoCtorDtorTracer m_ctorDtorTracer{"CZEBInstallation"};
//   };
//
// When the constructor/destructor trace context reports level 7 released,
// construction loads "k4bt09ax.dll" and calls its tuTraceCTORDTOR with
// "CTOR <class> (0x<address of the tracer>)"; destruction calls it with
// "DTOR ..." in the same form and frees the module. The text is cut at 255
// characters; the address is printed as upper-case hexadecimal digits of
// pointer width. Otherwise nothing happens. Never throws.
//
// The class name is kept as a pointer: it must outlive the tracer (a string
// literal, as above).
#pragma once

#include "platform/win/Module.h"

class CCoTraceContext;

class CCoCtorDtorTracer {
public:
    // Asks the module's constructor/destructor context.
    explicit CCoCtorDtorTracer(const char* className) noexcept;
    // Asks `context` (null: as if level 7 were not released).
    CCoCtorDtorTracer(const char* className, const CCoTraceContext* context) noexcept;
    ~CCoCtorDtorTracer();
    CCoCtorDtorTracer(const CCoCtorDtorTracer&) = delete;
    CCoCtorDtorTracer& operator=(const CCoCtorDtorTracer&) = delete;

    bool isTracing() const noexcept { return m_pfnTrace != nullptr; }

private:
    void write(const char* what) noexcept;

    const char* m_pszClassName;
    HMODULE m_hModule = nullptr;
    void (*m_pfnTrace)(const char*) = nullptr;
};
