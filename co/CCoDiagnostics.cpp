#include "co/CCoDiagnostics.h"

#include "ext/k4bt03ax/k4bt03ax.h"
#include "platform/win/Module.h"

namespace {

PFN_Do_DiagnosticsReport resolveReport() noexcept {
    try {
        HMODULE module = LoadLibraryA("k4bt03ax.dll"); // never freed: the report stays at hand
        if (!module) return nullptr;
        return reinterpret_cast<PFN_Do_DiagnosticsReport>(
            GetProcAddress(module, "Do_DiagnosticsReport"));
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void diagnosticsReport() noexcept {
    static const PFN_Do_DiagnosticsReport report = resolveReport();
    if (!report) return;
    try {
        report();
    } catch (...) {
        // The report is a courtesy; its failure changes nothing.
    }
}
