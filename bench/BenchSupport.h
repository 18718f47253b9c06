// What several benchmark programs share: the clock, whole-file input and
// output as a save must at least do it, and an installation's document text.
#pragma once

#include "is/CZEBIntInstallation.h"
#include "platform/win/TextConvert.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

namespace zeb::bench {

// Wall-clock seconds.
inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `bytes` to a new file and syncs it; false when it could not.
inline bool writeAndSync(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return done == bytes.size() && synced;
}

// The classification document's text as UTF-8; empty when it cannot be had.
inline std::string documentText(CZEBIntInstallation& inst) {
    BSTR text = nullptr;
    if (!inst.classification().getXMLText(&text)) return {};
    std::string utf8 = zeb::toNarrow(std::u16string_view(text, SysStringLen(text)));
    SysFreeString(text);
    return utf8;
}

} // namespace zeb::bench
