// The trace sink "k4wtrcax": entry points, as the tracing of co/ resolves
// them by name at run time, and the record of a silent trace.
//
//   DWORD handle = 0;
//   if (traceapi_Init2(0, 0, &handle, 0)) {     // reads $ZEB_TRACE, $ZEB_TRACE_FILE
//       if (IsTraceReleased2(handle, 1, 15, 4))
//           VTraceMsg2(handle, 1, 15, 4, "header", format, args);  // args: a va_list
//       traceapi_DeInit2(&handle);
//   }
//
// Configuration, read once by each traceapi_Init2 (later changes of the
// environment do not affect a handle already made):
//   $ZEB_TRACE       the released levels: "4", "1,3,4" or "all"; unset or
//                    empty releases nothing. Unknown entries are ignored.
//   $ZEB_TRACE_FILE  the file messages are appended to (created if missing);
//                    unset or empty: standard error. A file that cannot be
//                    opened makes traceapi_Init2 fail.
//
// Output: one line per message,
//   <header> L<level>: <message>
// written with a single write() under a process-wide lock, so lines from
// several threads (and, for a file, several processes) never interleave.
// Line breaks inside a message become spaces and trailing ones are dropped;
// a line is cut at 4095 bytes. Silent records carry no handle: they go,
// unformatted and marked as such, to the output of the most recently opened
// handle that is still open (in a process whose handles all read the same
// environment that is the one output), and are dropped when none is open:
//   SILENT L<level>: <function> [<file> (<line>)] <format>
//
// Every entry point may be called from any thread and never throws. The
// level filter does not depend on component or module id.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdarg>

// A trace that was not released, handed over unformatted. The strings are
// bounded copies of exactly these lengths and are not zero-terminated when
// the source was as long or longer.
struct TRACE_SILENT_RECORD {
    DWORD level;
    DWORD line;
    char file[100];
    char function[50];
    char format[100];
};
static_assert(sizeof(TRACE_SILENT_RECORD) == 260);

#define K4WTRC_API __attribute__((visibility("default")))

extern "C" {

// Opens a trace handle; the first, second and fourth arguments are reserved
// (pass 0). Nonzero on success, with *handle set to a nonzero value.
K4WTRC_API BOOL traceapi_Init2(DWORD reserved1, DWORD reserved2, DWORD* handle, DWORD reserved3);
// Nonzero when `level` is released for the handle.
K4WTRC_API BOOL IsTraceReleased2(DWORD handle, DWORD component, DWORD module, DWORD level);
// Formats `format` with `args` and writes one line; nothing when the level
// is not released or the handle is not open.
K4WTRC_API void VTraceMsg2(DWORD handle, DWORD component, DWORD module, DWORD level,
                           const char* header, const char* format, va_list args);
// Writes a silent record (see above); null is ignored.
K4WTRC_API void TraceMsgSilent(const TRACE_SILENT_RECORD* record);
// Closes a handle and sets *handle to 0. Zero when the handle was not open.
K4WTRC_API BOOL traceapi_DeInit2(DWORD* handle);

} // extern "C"

// The same entry points as pointer types, for GetProcAddress.
using PFN_traceapi_Init2 = BOOL (*)(DWORD, DWORD, DWORD*, DWORD);
using PFN_IsTraceReleased2 = BOOL (*)(DWORD, DWORD, DWORD, DWORD);
using PFN_VTraceMsg2 = void (*)(DWORD, DWORD, DWORD, DWORD, const char*, const char*, va_list);
using PFN_TraceMsgSilent = void (*)(const TRACE_SILENT_RECORD*);
using PFN_traceapi_DeInit2 = BOOL (*)(DWORD*);
