// trace(): every trace record of the module goes through the main context.
#include "co/CCoTraceContext.h"
#include "co/CCoTraceRecord.h"

void trace(CCoTraceRecord& record, const char* format, ...) {
    CCoTraceContext* context = CCoTraceContext::mainContext();
    if (!context) return;
    va_list args;
    va_start(args, format);
    context->trace(record, format, args);
    va_end(args);
}
