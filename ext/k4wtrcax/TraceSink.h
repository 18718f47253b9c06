// The state behind the entry points of k4wtrcax.h: a fixed table of open
// handles, each with its released levels and its output.
//
// Thread-safety: every method may be called from any thread. The level query
// takes no lock (it reads two atomics); opening, closing and each write of a
// line are serialised by one mutex, so a handle cannot be closed in the
// middle of a line and lines never interleave.
#pragma once

#include "ext/k4wtrcax/k4wtrcax.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string_view>

class TraceSink {
public:
    static constexpr DWORD kMaxHandles = 64;
    static constexpr size_t kMaxLine = 4096; // bytes per line including the '\n'

    static TraceSink& instance();

    // Reads the environment and opens a handle; 0 when the table is full or
    // the output file cannot be opened.
    DWORD open() noexcept;
    // False when `handle` was not open.
    bool close(DWORD handle) noexcept;

    bool isReleased(DWORD handle, DWORD level) const noexcept;
    void write(DWORD handle, DWORD level, const char* header, const char* format,
               va_list args) noexcept;
    void writeSilent(const TRACE_SILENT_RECORD& record) noexcept;

    // Parses a $ZEB_TRACE value into a mask of levels 0..63 and an "all" flag.
    static void parseLevels(std::string_view text, uint64_t& mask, bool& all) noexcept;

    ~TraceSink();

private:
    TraceSink() = default;

    struct Slot {
        std::atomic<bool> open{false};
        std::atomic<uint64_t> mask{0};
        std::atomic<bool> all{false};
        int fd = -1;         // written under m_mutex
        bool ownsFd = false; // false for standard error
        uint64_t opened = 0; // order of opening, written under m_mutex
    };

    const Slot* slotOf(DWORD handle) const noexcept;
    void emit(int fd, const char* line, size_t length) noexcept; // REQUIRES: m_mutex held

    Slot m_slots[kMaxHandles];
    uint64_t m_openCount = 0; // guarded by m_mutex
    std::mutex m_mutex;
};
