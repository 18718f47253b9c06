#include "ext/k4bt03ax/k4bt03ax.h"

#include "ext/k4wtrcax/TraceSinkClient.h"
#include "platform/win/Threading.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <execinfo.h>
#include <string>

namespace {

constexpr DWORD kComponentId = 1;
constexpr DWORD kModuleId = 3;
constexpr DWORD kLevel = 4;
constexpr int kMaxFrames = 64;

// Opened on the first report; closed when this module is unloaded.
const TraceSinkClient& sink() {
    static TraceSinkClient client(kComponentId, kModuleId);
    return client;
}

// "file(_ZN3fooEv+0x1f) [0x...]" -> "file(foo()+0x1f) [0x...]".
std::string readable(const char* symbol) {
    std::string text(symbol);
    size_t open = text.find('(');
    size_t end = text.find_first_of("+)", open == std::string::npos ? 0 : open);
    if (open == std::string::npos || end == std::string::npos || end <= open + 1) return text;
    std::string mangled = text.substr(open + 1, end - open - 1);
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    if (status == 0 && demangled) text.replace(open + 1, end - open - 1, demangled);
    std::free(demangled);
    return text;
}

} // namespace

extern "C" void Do_DiagnosticsReport() {
    try {
        const TraceSinkClient& client = sink();
        if (!client.isReleased(kLevel)) return;
        void* frames[kMaxFrames];
        int count = backtrace(frames, kMaxFrames);
        char header[96];
        std::snprintf(header, sizeof header, "Do_DiagnosticsReport [k4bt03ax, thread: 0x%X]",
                      GetCurrentThreadId());
        client.write(kLevel, header, "backtrace of thread 0x%X, %d frames:", GetCurrentThreadId(),
                     count);
        char** symbols = backtrace_symbols(frames, count);
        for (int i = 0; i < count; ++i) {
            if (symbols)
                client.write(kLevel, header, "#%d %s", i, readable(symbols[i]).c_str());
            else
                client.write(kLevel, header, "#%d [%p]", i, frames[i]);
        }
        std::free(symbols);
    } catch (...) {
        // A report that cannot be made is no report.
    }
}
