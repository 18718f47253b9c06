#include "ext/k4wtrcax/TraceSink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Replaces line breaks by spaces, so one message stays one line.
void flattenLineBreaks(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
}

// Appends up to `room` bytes of the printf result to `out`; returns the bytes added.
size_t appendFormatted(char* out, size_t room, const char* format, va_list args) {
    if (room == 0) return 0;
    int n = std::vsnprintf(out, room, format, args);
    if (n < 0) {
        out[0] = 0;
        return 0;
    }
    return static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
}

size_t appendText(char* out, size_t room, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
size_t appendText(char* out, size_t room, const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = appendFormatted(out, room, format, args);
    va_end(args);
    return n;
}

} // namespace

TraceSink& TraceSink::instance() {
    static TraceSink sink;
    return sink;
}

TraceSink::~TraceSink() {
    std::lock_guard lock(m_mutex);
    for (Slot& slot : m_slots) {
        if (slot.open.load() && slot.ownsFd) ::close(slot.fd);
        slot.open.store(false);
    }
}

void TraceSink::parseLevels(std::string_view text, uint64_t& mask, bool& all) noexcept {
    mask = 0;
    all = false;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (item.size() == 3 && (item[0] | 0x20) == 'a' && (item[1] | 0x20) == 'l' &&
            (item[2] | 0x20) == 'l') {
            all = true;
            mask = ~uint64_t(0);
            continue;
        }
        if (item.empty() || item.size() > 2) continue; // levels above 63 are only released by "all"
        unsigned level = 0;
        bool digits = true;
        for (char c : item) {
            if (c < '0' || c > '9') digits = false;
            level = level * 10 + unsigned(c - '0');
        }
        if (digits && level < 64) mask |= uint64_t(1) << level;
    }
}

DWORD TraceSink::open() noexcept {
    const char* levels = std::getenv("ZEB_TRACE");
    const char* file = std::getenv("ZEB_TRACE_FILE");
    uint64_t mask = 0;
    bool all = false;
    parseLevels(levels ? levels : "", mask, all);

    std::lock_guard lock(m_mutex);
    for (DWORD i = 0; i < kMaxHandles; ++i) {
        Slot& slot = m_slots[i];
        if (slot.open.load(std::memory_order_relaxed)) continue;
        int fd = 2;
        bool owns = false;
        if (file && *file) {
            fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd < 0) return 0;
            owns = true;
        }
        slot.fd = fd;
        slot.ownsFd = owns;
        slot.opened = ++m_openCount;
        slot.mask.store(mask, std::memory_order_relaxed);
        slot.all.store(all, std::memory_order_relaxed);
        slot.open.store(true, std::memory_order_release);
        return i + 1;
    }
    return 0;
}

bool TraceSink::close(DWORD handle) noexcept {
    if (handle == 0 || handle > kMaxHandles) return false;
    std::lock_guard lock(m_mutex);
    Slot& slot = m_slots[handle - 1];
    if (!slot.open.load(std::memory_order_relaxed)) return false;
    slot.open.store(false, std::memory_order_relaxed);
    slot.mask.store(0, std::memory_order_relaxed);
    slot.all.store(false, std::memory_order_relaxed);
    if (slot.ownsFd) ::close(slot.fd);
    slot.fd = -1;
    slot.ownsFd = false;
    return true;
}

const TraceSink::Slot* TraceSink::slotOf(DWORD handle) const noexcept {
    if (handle == 0 || handle > kMaxHandles) return nullptr;
    return &m_slots[handle - 1];
}

bool TraceSink::isReleased(DWORD handle, DWORD level) const noexcept {
    const Slot* slot = slotOf(handle);
    if (!slot) return false;
    if (level < 64) return (slot->mask.load(std::memory_order_relaxed) >> level) & 1;
    return slot->all.load(std::memory_order_relaxed);
}

void TraceSink::emit(int fd, const char* line, size_t length) noexcept {
    while (length > 0) {
        ssize_t n = ::write(fd, line, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // the output is gone; tracing fails silently
        line += n;
        length -= static_cast<size_t>(n);
    }
}

void TraceSink::write(DWORD handle, DWORD level, const char* header, const char* format,
                      va_list args) noexcept {
    if (!isReleased(handle, level)) return;
    char line[kMaxLine + 1];
    const size_t room = kMaxLine; // up to kMaxLine - 1 bytes and the zero, which becomes '\n'
    size_t length = 0;
    if (header && *header) length += appendText(line, room, "%s ", header);
    length += appendText(line + length, room - length, "L%u: ", level);
    size_t textStart = length;
    length += appendFormatted(line + length, room - length, format ? format : "", args);
    while (length > textStart && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        --length;
    flattenLineBreaks(line, length);
    line[length++] = '\n';

    std::lock_guard lock(m_mutex);
    const Slot& slot = m_slots[handle - 1];
    if (slot.open.load(std::memory_order_relaxed)) emit(slot.fd, line, length);
}

void TraceSink::writeSilent(const TRACE_SILENT_RECORD& r) noexcept {
    char line[kMaxLine + 1];
    int n = std::snprintf(line, kMaxLine, "SILENT L%u: %.*s [%.*s (%u)] %.*s", r.level,
                          int(strnlen(r.function, sizeof r.function)), r.function,
                          int(strnlen(r.file, sizeof r.file)), r.file, r.line,
                          int(strnlen(r.format, sizeof r.format)), r.format);
    if (n < 0) return;
    size_t length = std::min(static_cast<size_t>(n), kMaxLine - 1);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        --length;
    flattenLineBreaks(line, length);
    line[length++] = '\n';

    std::lock_guard lock(m_mutex);
    const Slot* newest = nullptr;
    for (const Slot& slot : m_slots)
        if (slot.open.load(std::memory_order_relaxed) && (!newest || slot.opened > newest->opened))
            newest = &slot;
    if (newest) emit(newest->fd, line, length);
}
