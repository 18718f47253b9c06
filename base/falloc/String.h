// String: the narrow (UTF-8) string value type of type, tool and extension
// names.
//
//   String name("PmGlobCommon.1.1");
//   String vid = name.firstMatch(String::identifierPattern()); // "PmGlobCommon"
//   if (vid.compareNoCase("pmglobcommon") == 0) ...
//
// Value semantics: copies are deep; a String never shares a writable buffer.
// Case-insensitive operations fold only the letters A to Z, so the result
// never depends on the locale. Comparisons return the difference of the first
// differing characters (as unsigned bytes), or, on a common prefix, the
// difference of the lengths ("abc" vs "abcd" gives -1).
//
// Buffers: a representation block of B bytes holds the length, the capacity
// (B - 12) and the characters with a terminating zero. B is 16 for a capacity
// of 4 or less, else the smallest power of two from 16 up that holds the
// capacity + 12. The empty string is one shared, read-only representation
// that is never freed. Blocks come from StringBuffer (allocate/release): with
// the build option ZEB_STRING_POOLS those of 16, 32 and 64 bytes come from the
// allocation pools of these sizes (CAllocPoolImpl), else all from the heap.
//
// Length limit: a buffer would have to reach 0x7FFFFFFF bytes for a capacity
// above maxCapacity(). Such a request is refused: the error handler is called
// ("String", "Requested length out of range"); mutating members then return
// false and leave the string unchanged, constructors and operator+ throw
// std::length_error. The process is never ended.
//
// Thread safety: distinct String objects may be used from any threads; one
// object is not synchronised.
#pragma once

#include <boost/regex.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

class String {
public:
    using ErrorHandler = void (*)(const char* className, const char* message);

    static constexpr uint32_t npos = 0xFFFFFFFFu;

    String() noexcept;
    // From text: length < 0 means up to the terminating zero; null text is empty.
    String(const char* text, ptrdiff_t length = -1, uint32_t minCapacity = 0);
    String(std::string_view text);
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);

    // Deep-copy assignment; reuses the buffer when it is large enough.
    bool assign(const char* text, size_t length);
    bool append(const char* text, size_t length);
    bool append(const String& other) { return append(other.c_str(), other.length()); }
    String& operator+=(const String& other);
    friend String operator+(const String& a, const String& b);

    // Ensures room for `capacity` characters (plus the terminating zero).
    bool reserve(uint32_t capacity);

    const char* c_str() const noexcept { return m_rep->text(); }
    uint32_t length() const noexcept { return m_rep->length; }
    uint32_t capacity() const noexcept { return m_rep->capacity; }
    bool empty() const noexcept { return m_rep->length == 0; }
    std::string_view view() const noexcept { return {c_str(), length()}; }
    operator std::string_view() const noexcept { return view(); }
    char operator[](uint32_t i) const noexcept { return c_str()[i]; }

    int compare(std::string_view other) const noexcept;
    int compareNoCase(std::string_view other) const noexcept;
    bool equalsNoCase(std::string_view other) const noexcept { return compareNoCase(other) == 0; }

    String toLower() const;                                  // A-Z folded
    uint32_t find(char c, uint32_t from = 0) const noexcept; // npos when absent
    String left(uint32_t count) const;
    String mid(uint32_t start, uint32_t count = npos) const; // clipped to the text

    // First match of a Perl-syntax expression searching from the start; empty when none.
    String firstMatch(const boost::regex& expression) const;
    // Whether the whole text matches the expression.
    bool matches(const boost::regex& expression) const;

    // "[A-Za-z_][A-Za-z0-9_]*": the leading identifier of a versioned name.
    static const boost::regex& identifierPattern();

    static constexpr uint32_t maxCapacity() { return (1u << 30) - 12; }
    // Replaces the handler called on an over-long request; returns the old one.
    // nullptr restores the default, which traces nothing and only reports.
    static ErrorHandler setErrorHandler(ErrorHandler handler) noexcept;

    friend bool operator==(const String& a, const String& b) noexcept { return a.compare(b) == 0; }
    friend bool operator<(const String& a, const String& b) noexcept { return a.compare(b) < 0; }

    struct Rep {
        uint32_t length;
        uint32_t capacity;
        char* text() noexcept { return reinterpret_cast<char*>(this + 1); }
        const char* text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    };
    static_assert(sizeof(Rep) == 8);

private:
    bool ensureCapacity(uint32_t capacity, bool keepText);
    void releaseRep() noexcept;

    Rep* m_rep;
};

// Block management for String representations.
struct StringBuffer {
    // Block size B for a requested capacity; 0 when the request is over the limit.
    static uint32_t blockSize(uint32_t capacity) noexcept;
    // A block of `blockBytes` bytes (throws std::bad_alloc when the heap is exhausted).
    static String::Rep* allocate(uint32_t blockBytes);
    static void release(String::Rep* rep, uint32_t blockBytes) noexcept;
    // Whether blocks of 16, 32 and 64 bytes come from the allocation pools
    // (build option ZEB_STRING_POOLS); all others always come from the heap.
    static bool pooled() noexcept;
};
