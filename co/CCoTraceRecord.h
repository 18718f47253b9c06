// Trace records and the trace call.
//
// An operation makes one record on its stack, naming its source file (a short
// name such as "is_data") and its qualified name ("CIsTypeCont::addType"),
// then sets level and line before each message:
//
//   CCoTraceRecord rec("co_lock", "CCoCriticalSection::Lock");
//   ZEB_TRACE(rec, 1, "thread 0x%X continued", GetCurrentThreadId());
//
// Levels: 1 information, 3 tolerated miss, 4 error, 5 RTMM marks, 7 switches
// constructor/destructor tracing. Whether a level is shown is decided by the
// run-time trace library ("k4wtrcax.dll"); an unreleased level costs one
// query of that library and the message is never formatted. Tracing never
// fails and never throws; it may be called from any thread.
#pragma once

#include <cstdint>

struct CCoTraceRecord {
    char text[512];       // header buffer, text[0] = 0 on construction
    uint32_t level = 0;   // level of the next message
    uint32_t line = 0;    // source line of the next message
    const char* file;     // source name, e.g. "is_data"
    const char* function; // qualified operation name

    CCoTraceRecord(const char* file, const char* function) : file(file), function(function) {
        text[0] = 0;
    }
};

// Emits one message with the record's current level and line.
void trace(CCoTraceRecord& record, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define ZEB_TRACE(record, lvl, ...)                                                                \
    do {                                                                                           \
        (record).level = (lvl);                                                                    \
        (record).line = __LINE__;                                                                  \
        trace((record), __VA_ARGS__);                                                              \
    } while (0)
