#include "base/falloc/String.h"

#include "base/falloc/CAllocPoolImpl.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr uint32_t kHeader = 12; // length, capacity and the terminating zero's share of a block

// The shared empty representation: length 0, capacity 0, text "".
struct EmptyRep {
    String::Rep rep{0, 0};
    char zero[8] = {};
};
constinit EmptyRep g_empty;

String::Rep* emptyRep() noexcept {
    return &g_empty.rep;
}

void defaultErrorHandler(const char*, const char*) {}
std::atomic<String::ErrorHandler> g_errorHandler{&defaultErrorHandler};

void reportOverLong() {
    g_errorHandler.load()("String", "Requested length out of range");
}

inline char foldAZ(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

uint32_t blockOf(const String::Rep* rep) {
    return rep->capacity + kHeader;
}

} // namespace

uint32_t StringBuffer::blockSize(uint32_t capacity) noexcept {
    if (capacity > String::maxCapacity()) return 0;
    uint32_t block = 16;
    while (block < capacity + kHeader)
        block <<= 1;
    return block;
}

#ifndef ZEB_STRING_POOLS
#define ZEB_STRING_POOLS 0
#endif

bool StringBuffer::pooled() noexcept {
    return ZEB_STRING_POOLS != 0;
}

// Blocks of 16, 32 and 64 bytes come from the pools of those sizes when string
// pooling is built in; every other block (and every block without it) comes
// from the general heap. CAllocPoolImpl handles a null pool as the heap.
static CAllocPoolImpl* poolOfBlock([[maybe_unused]] uint32_t blockBytes) noexcept {
#if ZEB_STRING_POOLS
    if (blockBytes == 16 || blockBytes == 32 || blockBytes == 64)
        return CAllocPoolImpl::modulePool(blockBytes);
#endif
    return nullptr;
}

String::Rep* StringBuffer::allocate(uint32_t blockBytes) {
    return static_cast<String::Rep*>(CAllocPoolImpl::allocate(poolOfBlock(blockBytes), blockBytes));
}

void StringBuffer::release(String::Rep* rep, uint32_t blockBytes) noexcept {
    CAllocPoolImpl::release(poolOfBlock(blockBytes), rep);
}

String::ErrorHandler String::setErrorHandler(ErrorHandler handler) noexcept {
    return g_errorHandler.exchange(handler ? handler : &defaultErrorHandler);
}

const boost::regex& String::identifierPattern() {
    static const boost::regex pattern("[A-Za-z_][A-Za-z0-9_]*", boost::regex::perl);
    return pattern;
}

String::String() noexcept : m_rep(emptyRep()) {}

String::String(const char* text, ptrdiff_t length, uint32_t minCapacity) : m_rep(emptyRep()) {
    const size_t n = !text ? 0 : length < 0 ? std::strlen(text) : size_t(length);
    if (n > maxCapacity() || !ensureCapacity(std::max<uint32_t>(uint32_t(n), minCapacity), false)) {
        if (n > maxCapacity()) reportOverLong();
        throw std::length_error("String: Requested length out of range");
    }
    if (n) {
        std::memcpy(m_rep->text(), text, n);
        m_rep->text()[n] = 0;
        m_rep->length = uint32_t(n);
    }
}

String::String(std::string_view text) : String(text.data(), ptrdiff_t(text.size())) {}

String::String(const String& other) : String(other.c_str(), other.length()) {}

String::String(String&& other) noexcept : m_rep(other.m_rep) {
    other.m_rep = emptyRep();
}

String::~String() {
    releaseRep();
}

String& String::operator=(const String& other) {
    if (this != &other) assign(other.c_str(), other.length());
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        releaseRep();
        m_rep = other.m_rep;
        other.m_rep = emptyRep();
    }
    return *this;
}

String& String::operator=(const char* text) {
    assign(text, text ? std::strlen(text) : 0);
    return *this;
}

void String::releaseRep() noexcept {
    if (m_rep != emptyRep()) StringBuffer::release(m_rep, blockOf(m_rep));
    m_rep = emptyRep();
}

// Makes room for `capacity` characters. The representation is replaced when
// it is the shared empty one or too small; `keepText` copies the old text
// across. Returns false (string unchanged) when the request is over the limit.
bool String::ensureCapacity(uint32_t capacity, bool keepText) {
    if (capacity == 0 || (m_rep != emptyRep() && capacity <= m_rep->capacity)) return true;
    const uint32_t block = StringBuffer::blockSize(capacity);
    if (block == 0) {
        reportOverLong();
        return false;
    }
    Rep* rep = StringBuffer::allocate(block);
    rep->capacity = block - kHeader;
    rep->length = keepText ? m_rep->length : 0;
    std::memcpy(rep->text(), m_rep->text(), rep->length);
    rep->text()[rep->length] = 0;
    releaseRep();
    m_rep = rep;
    return true;
}

bool String::assign(const char* text, size_t length) {
    if (!text) length = 0;
    if (length > maxCapacity()) {
        reportOverLong();
        return false;
    }
    if (length == 0) {
        if (m_rep != emptyRep()) {
            m_rep->length = 0;
            m_rep->text()[0] = 0;
        }
        return true;
    }
    // The source may live inside our own buffer (s = s.mid(...)): copy it
    // before a reallocation could free it.
    if (m_rep != emptyRep() && length <= m_rep->capacity) {
        std::memmove(m_rep->text(), text, length);
    } else {
        String fresh;
        if (!fresh.ensureCapacity(uint32_t(length), false)) return false;
        std::memcpy(fresh.m_rep->text(), text, length);
        std::swap(m_rep, fresh.m_rep);
    }
    m_rep->length = uint32_t(length);
    m_rep->text()[length] = 0;
    return true;
}

bool String::append(const char* text, size_t length) {
    if (!text || length == 0) return true;
    if (length > maxCapacity() - m_rep->length) {
        reportOverLong();
        return false;
    }
    const uint32_t newLength = m_rep->length + uint32_t(length);
    if (m_rep == emptyRep() || newLength > m_rep->capacity) {
        // Build in a new block first: `text` may point into our own buffer.
        String grown;
        if (!grown.ensureCapacity(newLength, false)) return false;
        std::memcpy(grown.m_rep->text(), m_rep->text(), m_rep->length);
        std::memcpy(grown.m_rep->text() + m_rep->length, text, length);
        grown.m_rep->length = newLength;
        grown.m_rep->text()[newLength] = 0;
        std::swap(m_rep, grown.m_rep);
        return true;
    }
    std::memmove(m_rep->text() + m_rep->length, text, length);
    m_rep->length = newLength;
    m_rep->text()[newLength] = 0;
    return true;
}

String& String::operator+=(const String& other) {
    if (!append(other)) throw std::length_error("String: Requested length out of range");
    return *this;
}

String operator+(const String& a, const String& b) {
    if (b.length() > String::maxCapacity() - a.length()) {
        reportOverLong();
        throw std::length_error("String: Requested length out of range");
    }
    String result(a.c_str(), a.length(), a.length() + b.length());
    result.append(b);
    return result;
}

bool String::reserve(uint32_t capacity) {
    return ensureCapacity(capacity, true);
}

int String::compare(std::string_view other) const noexcept {
    const size_t n = std::min<size_t>(length(), other.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(c_str()[i]);
        const auto b = static_cast<unsigned char>(other[i]);
        if (a != b) return int(a) - int(b);
    }
    return int(ptrdiff_t(length()) - ptrdiff_t(other.size()));
}

int String::compareNoCase(std::string_view other) const noexcept {
    const size_t n = std::min<size_t>(length(), other.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(foldAZ(c_str()[i]));
        const auto b = static_cast<unsigned char>(foldAZ(other[i]));
        if (a != b) return int(a) - int(b);
    }
    return int(ptrdiff_t(length()) - ptrdiff_t(other.size()));
}

String String::toLower() const {
    String result(*this);
    char* t = result.m_rep->text();
    for (uint32_t i = 0; i < result.length(); ++i)
        t[i] = foldAZ(t[i]);
    return result;
}

uint32_t String::find(char c, uint32_t from) const noexcept {
    for (uint32_t i = from; i < length(); ++i)
        if (c_str()[i] == c) return i;
    return npos;
}

String String::left(uint32_t count) const {
    return String(c_str(), std::min(count, length()));
}

String String::mid(uint32_t start, uint32_t count) const {
    if (start >= length()) return String();
    return String(c_str() + start, std::min(count, length() - start));
}

String String::firstMatch(const boost::regex& expression) const {
    boost::cmatch m;
    if (!boost::regex_search(c_str(), c_str() + length(), m, expression)) return String();
    return String(m[0].first, m[0].second - m[0].first);
}

bool String::matches(const boost::regex& expression) const {
    return boost::regex_match(c_str(), c_str() + length(), expression);
}
