#include "ext/k4bt09ax/k4bt09ax.h"

#include "ext/k4wtrcax/TraceSinkClient.h"
#include "platform/win/Threading.h"

#include <cstdio>

namespace {

constexpr DWORD kComponentId = 1;
constexpr DWORD kModuleId = 9;
constexpr DWORD kLevel = 7;

// Opened on the first call; closed when this module is unloaded.
const TraceSinkClient& sink() {
    static TraceSinkClient client(kComponentId, kModuleId);
    return client;
}

} // namespace

extern "C" void tuTraceCTORDTOR(const char* text) {
    if (!text) return;
    try {
        const TraceSinkClient& client = sink();
        if (!client.isReleased(kLevel)) return;
        char header[96];
        std::snprintf(header, sizeof header, "tuTraceCTORDTOR [k4bt09ax, thread: 0x%X]",
                      GetCurrentThreadId());
        client.write(kLevel, header, "%s", text);
    } catch (...) {
    }
}
