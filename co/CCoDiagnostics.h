// The diagnostics report hook, run first in every exception handler.
//
// diagnosticsReport() loads "k4bt03ax.dll" (once; it stays loaded) and calls
// its Do_DiagnosticsReport, which writes the calling thread's backtrace
// through the trace sink. A missing module or entry point means no report;
// an exception raised by the report is caught and ignored. Safe from any
// thread; never throws.
#pragma once

void diagnosticsReport() noexcept;
