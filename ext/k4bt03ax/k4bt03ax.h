// The diagnostics module "k4bt03ax": a report of the calling thread's state,
// run by the tracing when an exception is caught.
//
// Do_DiagnosticsReport writes the calling thread's backtrace through the
// trace sink ("k4wtrcax.dll", opened on the first report with the
// environment as it is then, closed when the module is unloaded) at level 4,
// component 1, module 3: one line naming the thread and the number of frames,
// then one line per frame, innermost first, with the demangled function name
// where the symbol is known. Nothing is written when level 4 is not released
// or the sink is missing. Safe from any thread; never throws.
#pragma once

extern "C" {
__attribute__((visibility("default"))) void Do_DiagnosticsReport();
}

using PFN_Do_DiagnosticsReport = void (*)();
