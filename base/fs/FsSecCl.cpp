// The section stream. Invariants while a window is loaded (m_dwWinStart !=
// kNoWindow):
//   1. m_dwWinPos <= m_dwWinFill <= kWindowSize, except that m_dwWinPos may
//      equal kWindowSize with a smaller fill only transiently inside write().
//   2. m_dwWinFill == min(kWindowSize, m_dwSize - m_dwWinStart): the window
//      holds every byte of the section that falls into it.
//   3. m_bDirty only when the window holds bytes the stream has not seen.
//   4. m_dwWinPos == kWindowSize (the end of a full window, reached by a seek
//      or a read) is a valid position: the next read or write first moves on
//      to the window behind it.
// Without a window, m_dwWinPos is the pending stream position.
#include "base/fs/FsSecCl.h"

#include "co/CCoGuardedCall.h"
#include "co/CCoTraceRecord.h"
#include "platform/com/SafeArray.h"
#include "platform/com/TaskAllocator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr const char* kSource = "fs_seman";
// Deeper nesting of variant arrays than this is refused (state 18): a
// section is data we did not necessarily write, and recursion must end.
constexpr int kMaxVariantDepth = 32;
constexpr double kFloatMax = 3.4028234663852886e38;

constexpr bool isSeparator(unsigned char c) noexcept {
    return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// The floating-point text is always the C locale's, whatever the process set.
locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

bool isZero(const FILETIME& t) noexcept {
    return t.dwLowDateTime == 0 && t.dwHighDateTime == 0;
}
bool sameTime(const FILETIME& a, const FILETIME& b) noexcept {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Parses an unsigned decimal number in [p, end): optional '+', digits.
// Returns the end of the text taken (p when nothing parsed); `overflow`
// when it does not fit in 32 bits.
const char* parseDigits(const char* p, const char* end, uint64_t& value, bool& any) noexcept {
    value = 0;
    any = false;
    while (p < end && *p >= '0' && *p <= '9') {
        if (value <= 0xFFFFFFFFull) value = value * 10 + uint64_t(*p - '0');
        any = true;
        ++p;
    }
    return p;
}

struct ParsedNumber {
    const char* end; // first character not taken
    bool ok;         // at least one digit and in range
};

ParsedNumber parseUnsigned(const char* p, const char* end, uint32_t& out) noexcept {
    if (p < end && *p == '+') ++p;
    uint64_t v = 0;
    bool any = false;
    const char* q = parseDigits(p, end, v, any);
    if (!any || v > 0xFFFFFFFFull) return {q, false};
    out = uint32_t(v);
    return {q, true};
}

ParsedNumber parseSigned(const char* p, const char* end, int32_t& out) noexcept {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    uint64_t v = 0;
    bool any = false;
    const char* q = parseDigits(p, end, v, any);
    if (!any || v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return {q, false};
    out = negative ? int32_t(-int64_t(v)) : int32_t(v);
    return {q, true};
}

// The value of a hexadecimal digit, -1 for any other character; a table,
// since every GUID of a type section goes through it 32 times.
constexpr std::array<int8_t, 256> kHexDigits = [] {
    std::array<int8_t, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[size_t(c)] = c >= '0' && c <= '9'   ? int8_t(c - '0')
                       : c >= 'A' && c <= 'F' ? int8_t(c - 'A' + 10)
                       : c >= 'a' && c <= 'f' ? int8_t(c - 'a' + 10)
                                              : int8_t(-1);
    return t;
}();

int hexValue(char c) noexcept {
    return kHexDigits[static_cast<unsigned char>(c)];
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at p (38 characters); `out` is
// written only when the whole text is valid.
bool parseRegistryGuid(const char* p, GUID& out) noexcept {
    if (p[0] != '{' || p[9] != '-' || p[14] != '-' || p[19] != '-' || p[24] != '-' || p[37] != '}')
        return false;
    uint8_t bytes[16];
    static constexpr int kAt[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 16; ++i) {
        const int hi = hexValue(p[kAt[i]]), lo = hexValue(p[kAt[i] + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = uint8_t(hi << 4 | lo);
    }
    out.Data1 =
        uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    out.Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
    out.Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        out.Data4[i] = bytes[8 + i];
    return true;
}

bool isCreatableElementType(VARTYPE vt) noexcept {
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

// The element size an array header carries: stored files have the sizes of
// the 32-bit system, where a BSTR or an interface pointer takes 4 bytes and
// a VARIANT 16, so those are written whatever this process's layout is.
// Readers only test the size for 0, so every other type keeps its own.
DWORD storedElementSize(VARTYPE vt, DWORD size) noexcept {
    if (size == 0) return 0;
    switch (vt) {
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return 4;
    case VT_VARIANT:
        return 16;
    default:
        return size;
    }
}

// Element types whose array elements are written (and read) one by one.
bool isStreamedElementType(VARTYPE vt) noexcept {
    return isCreatableElementType(vt) || vt == VT_CLSID;
}

} // namespace

HRESULT zeb::fileTimeNow(FILETIME* out) noexcept {
    if (!out) return E_POINTER;
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return E_FAIL;
    // 100 ns intervals between 1601-01-01 and 1970-01-01.
    const uint64_t t =
        (uint64_t(ts.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(ts.tv_nsec) / 100;
    out->dwLowDateTime = DWORD(t);
    out->dwHighDateTime = DWORD(t >> 32);
    return S_OK;
}

FsSecCl::FsSecCl() {
    std::memset(m_buffer, 0, sizeof m_buffer);
    CCoTraceRecord rec(kSource, "FsSecCl::FsSecCl");
    guardedCall(rec, "CoFileTimeNow", [&] { return zeb::fileTimeNow(&m_ftTime); });
}

FsSecCl::FsSecCl(IStream* stream) : FsSecCl() {
    if (!stream) return;
    m_pStream = stream;
    m_pStream->AddRef();
    STATSTG st{};
    if (updateSizeFromStream(&st)) {
        const bool writeMode = (st.grfMode & (STGM_WRITE | STGM_READWRITE)) != 0;
        m_dwWrite = (writeMode || isZero(st.ctime)) ? 1 : 0;
    } else {
        m_dwWrite = 0;
    }
    readWindow(0);
}

DWORD FsSecCl::afterOpen() {
    return 0;
}
DWORD FsSecCl::beforeClose() {
    return 0;
}
DWORD FsSecCl::reserved() {
    return 0;
}

FsSecCl::~FsSecCl() {
    CCoTraceRecord rec(kSource, "FsSecCl::~FsSecCl");
    guardedDestructor(rec, [&] {
        if (!m_pStream) return;
        flush();
        guardedCall(rec, "Commit", [&] { return m_pStream->Commit(STGC_DEFAULT); });
        IStream* stream = m_pStream;
        m_pStream = nullptr;
        stream->Release();
    });
}

bool FsSecCl::updateSizeFromStream(STATSTG* out) {
    STATSTG st{};
    if (FAILED(m_pStream->Stat(&st, STATFLAG_NONAME))) {
        setError(kStreamFailed);
        return false;
    }
    if (st.pwcsName) CoTaskMemFree(st.pwcsName); // a stream that ignored NONAME
    st.pwcsName = nullptr;
    if (st.cbSize.QuadPart > 0xFFFFFFFFull) {
        setError(kBadPosition);
        return false;
    }
    m_dwSize = DWORD(st.cbSize.QuadPart);
    if (out) *out = st;
    return true;
}

DWORD FsSecCl::attach(IStream* stream, DWORD mode) {
    if (m_pStream) return 3;
    if (!stream) return 1;
    m_pStream = stream;
    m_pStream->AddRef();
    m_dwWrite = mode & 1;
    m_dwWinStart = kNoWindow;
    m_dwWinPos = 0;
    m_dwWinFill = 0;
    m_bDirty = false;
    if (!updateSizeFromStream(nullptr)) return 1;
    return 0;
}

DWORD FsSecCl::position() const noexcept {
    return m_dwWinStart == kNoWindow ? m_dwWinPos : m_dwWinStart + m_dwWinPos;
}

void FsSecCl::setError(DWORD code) noexcept {
    setErrorAt(code, position());
}

void FsSecCl::setErrorAt(DWORD code, DWORD pos) noexcept {
    if (m_dwState != 0) return;
    m_dwState = code;
    m_dwErrPos = pos;
}

bool FsSecCl::readWindow(DWORD offset) {
    if (m_dwState != 0) return false;
    if (!m_pStream) {
        setError(kBadPosition);
        return false;
    }
    m_dwWinStart = offset;
    m_dwWinPos = 0;
    m_dwWinFill = 0;
    m_bDirty = false;
    const DWORD expected = offset < m_dwSize ? std::min<DWORD>(kWindowSize, m_dwSize - offset) : 0;
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    if (FAILED(m_pStream->Seek(to, STREAM_SEEK_SET, nullptr))) {
        setError(kStreamFailed);
        return false;
    }
    DWORD got = 0;
    while (got < expected) {
        ULONG n = 0;
        const HRESULT hr = m_pStream->Read(m_buffer + got, kWindowSize - got, &n);
        if (FAILED(hr) || n == 0) break;
        got += std::min<DWORD>(n, kWindowSize - got);
    }
    m_buffer[kWindowSize] = 0;
    if (got < expected) {
        m_dwWinFill = got;
        setError(kStreamFailed);
        return false;
    }
    m_dwWinFill = expected;
    return true;
}

bool FsSecCl::ensureWindow() {
    if (m_dwWinStart != kNoWindow) return true;
    return readWindow(m_dwWinPos);
}

void FsSecCl::flush() {
    if (!(m_dwWrite & 1) || m_dwState == kHandedOut || !m_bDirty) return;
    if (!m_pStream) {
        setError(kBadPosition);
        return;
    }
    const DWORD count =
        m_dwSize > m_dwWinStart ? std::min<DWORD>(kWindowSize, m_dwSize - m_dwWinStart) : 0;
    LARGE_INTEGER to{};
    to.QuadPart = m_dwWinStart;
    ULONG written = 0;
    if (FAILED(m_pStream->Seek(to, STREAM_SEEK_SET, nullptr)) ||
        FAILED(m_pStream->Write(m_buffer, count, &written)) || written != count)
        setError(kStreamFailed);
    m_bDirty = false;
}

bool FsSecCl::more() {
    if (m_dwState != 0 || !ensureWindow()) return false;
    if (m_dwWinPos < m_dwWinFill) return true;
    if (m_dwWinPos >= kWindowSize) {
        if (uint64_t(m_dwWinStart) + kWindowSize > m_dwSize) return false;
        if (!advanceWindow()) return false;
        return m_dwWinPos < m_dwWinFill;
    }
    if (position() < m_dwSize) setError(kBadPosition); // the window lost bytes it should hold
    return false;
}

bool FsSecCl::advanceWindow() {
    const uint64_t next = uint64_t(m_dwWinStart) + kWindowSize;
    if (next > 0xFFFFFFFFull) { // a section stays below 4 GiB
        setError(kBadPosition);
        return false;
    }
    flush();
    return m_dwState == 0 && readWindow(DWORD(next));
}

DWORD FsSecCl::seek(LONG offset, DWORD origin) {
    int64_t base = 0;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = position();
        break;
    case 2:
        base = m_dwSize;
        break;
    default:
        return position();
    }
    const int64_t target = base + offset;
    if (target < 0 || target > int64_t(m_dwSize)) return position();
    if (m_dwWinStart != kNoWindow && target >= int64_t(m_dwWinStart) &&
        target <= int64_t(m_dwWinStart) + int64_t(m_dwWinFill)) {
        m_dwWinPos = DWORD(target - m_dwWinStart);
        return DWORD(target);
    }
    flush();
    if (!readWindow(DWORD(target))) return 0;
    return DWORD(target);
}

DWORD FsSecCl::setSize(DWORD size) {
    flush();
    if (m_dwState != 0) return 1;
    if (!m_pStream) return 9;
    ULARGE_INTEGER n{};
    n.QuadPart = size;
    if (FAILED(m_pStream->SetSize(n))) {
        setError(kStreamFailed);
        return 1;
    }
    m_dwSize = size;
    readWindow(size);
    return 0;
}

IStream* FsSecCl::getIStreamPtr() {
    flush();
    if (m_dwState != 0 || !m_pStream) return nullptr;
    m_pStream->AddRef();
    setError(kHandedOut);
    CCoTraceRecord rec(kSource, "FsSecCl::getIStreamPtr");
    guardedCall(rec, "CoFileTimeNow", [&] { return zeb::fileTimeNow(&m_ftTime); });
    STATSTG st{};
    if (SUCCEEDED(m_pStream->Stat(&st, STATFLAG_NONAME))) {
        if (st.pwcsName) CoTaskMemFree(st.pwcsName);
        m_ftTime = st.mtime;
    }
    return m_pStream;
}

DWORD FsSecCl::unlockStream() {
    if (m_dwState != kHandedOut || !m_pStream) return 1;
    clear();
    STATSTG st{};
    if (FAILED(m_pStream->Stat(&st, STATFLAG_NONAME))) {
        setError(kStreamFailed);
        return 1;
    }
    if (st.pwcsName) CoTaskMemFree(st.pwcsName);
    if (sameTime(st.mtime, m_ftTime) && !isZero(st.ctime)) return 0;
    if (st.cbSize.QuadPart > 0xFFFFFFFFull) {
        setError(kBadPosition);
        return 1;
    }
    m_dwSize = DWORD(st.cbSize.QuadPart);
    return readWindow(0) ? 0 : 1;
}

// ---- raw bytes

void FsSecCl::write(const void* data, DWORD count) {
    if (m_dwState != 0 || !ensureWindow()) return;
    if (!(m_dwWrite & 1)) {
        setError(kNoWriteAccess);
        return;
    }
    if (count == 0) return;
    if (!data || m_dwWinPos > kWindowSize) {
        setError(kBadPosition);
        return;
    }
    const char* src = static_cast<const char*>(data);
    while (count > 0) {
        // At the end of a full window (after a seek to its end, or a read up
        // to it) the bytes belong to the next window, as they do for a read.
        if (m_dwWinPos == kWindowSize && !advanceWindow()) return;
        const DWORD chunk = std::min<DWORD>(count, kWindowSize - m_dwWinPos);
        if (uint64_t(m_dwWinStart) + m_dwWinPos + chunk > 0xFFFFFFFFull) {
            setError(kBadPosition); // a section stays below 4 GiB
            return;
        }
        std::memcpy(m_buffer + m_dwWinPos, src, chunk);
        m_dwWinPos += chunk;
        src += chunk;
        count -= chunk;
        m_bDirty = true;
        if (m_dwWinStart + m_dwWinPos > m_dwSize) m_dwSize = m_dwWinStart + m_dwWinPos;
        if (m_dwWinPos > m_dwWinFill) m_dwWinFill = m_dwWinPos;
        if (m_dwWinPos == kWindowSize && !advanceWindow()) return;
    }
}

void FsSecCl::writeText(const char* text) {
    if (text) write(text, DWORD(std::strlen(text)));
}

FsSecCl& FsSecCl::put(char c) {
    // The common case, a byte that fits the window, without the general path.
    if (m_dwState == 0 && m_dwWinStart != kNoWindow && (m_dwWrite & 1) &&
        m_dwWinPos + 1 < kWindowSize && m_dwWinStart + m_dwWinPos < 0xFFFFFFFFu) {
        m_buffer[m_dwWinPos++] = c;
        m_bDirty = true;
        if (m_dwWinStart + m_dwWinPos > m_dwSize) m_dwSize = m_dwWinStart + m_dwWinPos;
        if (m_dwWinPos > m_dwWinFill) m_dwWinFill = m_dwWinPos;
        return *this;
    }
    write(&c, 1);
    return *this;
}

int FsSecCl::get() {
    if (!more()) {
        if (m_dwState == 0) setError(position() >= m_dwSize ? kEndOfData : kBadPosition);
        return 0;
    }
    return static_cast<unsigned char>(m_buffer[m_dwWinPos++]);
}

DWORD FsSecCl::read(void* data, DWORD count) {
    if (m_dwState != 0 || count == 0) return 0;
    if (!data) {
        setError(kBadPosition);
        return 0;
    }
    char* dst = static_cast<char*>(data);
    DWORD done = 0;
    while (done < count) {
        if (!more()) {
            if (m_dwState == 0) setError(kEndOfData);
            break;
        }
        const DWORD chunk = std::min<DWORD>(count - done, m_dwWinFill - m_dwWinPos);
        std::memcpy(dst + done, m_buffer + m_dwWinPos, chunk);
        m_dwWinPos += chunk;
        done += chunk;
    }
    return done;
}

// ---- tokens and numbers

void FsSecCl::skipSeparators() {
    while (more()) {
        const char* p = m_buffer + m_dwWinPos;
        const char* end = m_buffer + m_dwWinFill;
        while (p < end && isSeparator(static_cast<unsigned char>(*p)))
            ++p;
        m_dwWinPos = DWORD(p - m_buffer);
        if (p < end) return;
    }
}

DWORD FsSecCl::readToken(char* buf, DWORD cap) {
    DWORD limit = cap - 1;
    if (m_nTokenLimit > 0) limit = std::min<DWORD>(limit, DWORD(m_nTokenLimit));
    m_nTokenLimit = 0;
    buf[0] = 0;
    skipSeparators();
    if (m_dwState != 0) return 0;
    if (!more()) {
        if (m_dwState == 0) setError(kEndOfData);
        return 0;
    }
    DWORD n = 0;
    while (n < limit && more()) {
        const char* p = m_buffer + m_dwWinPos;
        const char* end = m_buffer + std::min<DWORD>(m_dwWinFill, m_dwWinPos + (limit - n));
        const char* q = p;
        while (q < end && !isSeparator(static_cast<unsigned char>(*q)))
            ++q;
        std::memcpy(buf + n, p, size_t(q - p));
        n += DWORD(q - p);
        m_dwWinPos = DWORD(q - m_buffer);
        if (q < m_buffer + m_dwWinFill && isSeparator(static_cast<unsigned char>(*q))) break;
    }
    buf[n] = 0;
    return n;
}

// Reads one decimal integer with `parse`, failing with `badCode`. The hot
// case parses in place inside the window; a number that may continue past
// the window's end is gathered as a token first.
template <class T, class Parse> bool FsSecCl::readInteger(T& out, Parse parse, DWORD badCode) {
    skipSeparators();
    if (m_dwState != 0) return false;
    if (!more()) {
        if (m_dwState == 0) setError(kEndOfData);
        return false;
    }
    const char* p = m_buffer + m_dwWinPos;
    const char* end = m_buffer + m_dwWinFill;
    T v = 0;
    ParsedNumber r = parse(p, end, v);
    if (r.end < end) { // the text ends inside the window: parsed in place
        if (!r.ok) {
            setErrorAt(badCode, m_dwWinStart + DWORD(r.end - m_buffer));
            return false;
        }
        m_dwWinPos = DWORD(r.end - m_buffer);
        if (!isSeparator(static_cast<unsigned char>(*r.end))) {
            setError(badCode);
            return false;
        }
        ++m_dwWinPos;
        out = v;
        return true;
    }
    char token[100];
    const DWORD n = readToken(token, sizeof token);
    if (m_dwState != 0) return false;
    r = parse(token, token + n, v);
    if (!r.ok || r.end != token + n) {
        setError(badCode);
        return false;
    }
    // As in place: the one separator that ends the number is taken with it,
    // so that a string's bytes start right behind its length.
    if (more() && isSeparator(static_cast<unsigned char>(m_buffer[m_dwWinPos]))) ++m_dwWinPos;
    out = v;
    return true;
}

bool FsSecCl::readUnsigned(uint32_t& out) {
    // A lambda rather than the function's address, so the parser is inlined.
    return readInteger(
        out, [](const char* p, const char* e, uint32_t& v) { return parseUnsigned(p, e, v); },
        kBadUnsigned);
}

bool FsSecCl::readSigned(int32_t& out) {
    return readInteger(
        out, [](const char* p, const char* e, int32_t& v) { return parseSigned(p, e, v); },
        kBadSigned);
}

bool FsSecCl::readDouble(double& out) {
    char token[100];
    const DWORD n = readToken(token, sizeof token);
    if (m_dwState != 0) return false;
    char* end = nullptr;
    const double v = strtod_l(token, &end, cLocale());
    if (n == 0 || end != token + n || !std::isfinite(v)) {
        setError(kBadFloat);
        return false;
    }
    out = v;
    return true;
}

void FsSecCl::refuse64() {
    CCoTraceRecord rec(kSource, "FsSecCl::operator");
    ZEB_TRACE(rec, 4, "streaming of 64 bit integer not supported");
    setError(kEndOfData);
}

// ---- writers

FsSecCl& FsSecCl::operator<<(DWORD v) {
    char text[16];
    const auto r = std::to_chars(text, text + sizeof text, v, int(m_dwRadix));
    write(text, DWORD(r.ptr - text));
    return *this;
}

FsSecCl& FsSecCl::operator<<(INT v) {
    char text[16];
    const auto r = std::to_chars(text, text + sizeof text, v, 10);
    write(text, DWORD(r.ptr - text));
    return *this;
}

FsSecCl& FsSecCl::operator<<(float v) {
    char text[64];
    const auto r =
        std::to_chars(text, text + sizeof text, double(v), std::chars_format::general, 10);
    write(text, DWORD(r.ptr - text));
    return *this;
}

FsSecCl& FsSecCl::operator<<(double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 18);
    write(text, DWORD(r.ptr - text));
    if (!std::isfinite(v)) setError(kBadFloat);
    return *this;
}

FsSecCl& FsSecCl::operator<<(LONGLONG) {
    if (m_dwState == 0) refuse64();
    return *this;
}

FsSecCl& FsSecCl::operator<<(ULONGLONG) {
    if (m_dwState == 0) refuse64();
    return *this;
}

FsSecCl& FsSecCl::operator<<(std::string_view s) {
    if (s.size() > 0xFFFFFFFFu) {
        setError(kBadLength);
        return *this;
    }
    *this << DWORD(s.size());
    put(' ');
    write(s.data(), DWORD(s.size()));
    return *this;
}

FsSecCl& FsSecCl::operator<<(std::u16string_view s) {
    if (s.size() > 0x7FFFFFFFu) {
        setError(kBadLength);
        return *this;
    }
    *this << DWORD(s.size());
    put(' ');
    char bytes[512];
    size_t i = 0;
    while (i < s.size() && m_dwState == 0) {
        size_t n = 0;
        for (; n + 2 <= sizeof bytes && i < s.size(); ++i, n += 2) {
            bytes[n] = char(s[i] & 0xFF);
            bytes[n + 1] = char(s[i] >> 8);
        }
        write(bytes, DWORD(n));
    }
    return *this;
}

FsSecCl& FsSecCl::operator<<(const GUID& g) {
    if (m_dwState != 0) return *this;
    static constexpr char hex[] = "0123456789ABCDEF";
    char t[39];
    char* p = t;
    auto put = [&](uint32_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            *p++ = hex[(v >> (4 * i)) & 0xF];
    };
    *p++ = '{';
    put(g.Data1, 8);
    *p++ = '-';
    put(g.Data2, 4);
    *p++ = '-';
    put(g.Data3, 4);
    *p++ = '-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    *p++ = '-';
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    *p++ = '}';
    *p++ = ' ';
    write(t, DWORD(p - t));
    return *this;
}

// ---- readers

FsSecCl& FsSecCl::operator>>(DWORD& v) {
    uint32_t x = 0;
    if (readUnsigned(x)) v = x;
    return *this;
}

FsSecCl& FsSecCl::operator>>(INT& v) {
    int32_t x = 0;
    if (readSigned(x)) v = x;
    return *this;
}

FsSecCl& FsSecCl::operator>>(USHORT& v) {
    uint32_t x = 0;
    if (!readUnsigned(x)) return *this;
    if (x > 0xFFFF)
        setError(kUShortRange);
    else
        v = USHORT(x);
    return *this;
}

FsSecCl& FsSecCl::operator>>(SHORT& v) {
    int32_t x = 0;
    if (!readSigned(x)) return *this;
    if (x < -32768 || x > 32767)
        setError(kShortRange);
    else
        v = SHORT(x);
    return *this;
}

FsSecCl& FsSecCl::operator>>(BYTE& v) {
    uint32_t x = 0;
    if (!readUnsigned(x)) return *this;
    if (x > 0xFF)
        setError(kByteRange);
    else
        v = BYTE(x);
    return *this;
}

FsSecCl& FsSecCl::operator>>(float& v) {
    double d = 0;
    if (!readDouble(d)) return *this;
    if (d > kFloatMax || d < -kFloatMax)
        setError(kFloatRange);
    else
        v = float(d);
    return *this;
}

FsSecCl& FsSecCl::operator>>(double& v) {
    double d = 0;
    if (readDouble(d)) v = d;
    return *this;
}

FsSecCl& FsSecCl::operator>>(LONGLONG&) {
    if (m_dwState == 0) refuse64();
    return *this;
}

FsSecCl& FsSecCl::operator>>(ULONGLONG&) {
    if (m_dwState == 0) refuse64();
    return *this;
}

bool FsSecCl::readStringBytes(DWORD length, char* dest) {
    return read(dest, length) == length && m_dwState == 0;
}

FsSecCl& FsSecCl::operator>>(std::string& s) {
    uint32_t length = 0;
    if (!readUnsigned(length)) return *this;
    if (length > m_dwSize - std::min(position(), m_dwSize)) {
        setError(kBadLength);
        return *this;
    }
    try {
        s.resize(length);
    } catch (...) { // the length was checked against the data: no memory
        setError(kNoMemory);
        return *this;
    }
    if (length > 0) readStringBytes(length, s.data());
    return *this;
}

FsSecCl& FsSecCl::operator>>(String& s) {
    uint32_t length = 0;
    if (!readUnsigned(length)) return *this;
    if (length > m_dwSize - std::min(position(), m_dwSize)) {
        setError(kBadLength);
        return *this;
    }
    if (length == 0) {
        s = String();
        return *this;
    }
    if (more() && m_dwWinFill - m_dwWinPos >= length) {
        // Wholly inside the window: no staging copy.
        if (!s.assign(m_buffer + m_dwWinPos, length))
            setError(kNoMemory);
        else
            m_dwWinPos += length;
        return *this;
    }
    if (m_dwState != 0) return *this;
    char small[1024];
    std::unique_ptr<char[]> large;
    char* stage = small;
    if (length > sizeof small) {
        large.reset(new (std::nothrow) char[length]);
        if (!large) {
            setError(kNoMemory);
            return *this;
        }
        stage = large.get();
    }
    if (readStringBytes(length, stage) && !s.assign(stage, length)) setError(kNoMemory);
    return *this;
}

bool FsSecCl::readWideLength(uint32_t& length) {
    if (!readUnsigned(length)) return false;
    const uint64_t bytes = uint64_t(length) * 2;
    if (bytes > m_dwSize - std::min(position(), m_dwSize)) {
        setError(kBadLength);
        return false;
    }
    return true;
}

FsSecCl& FsSecCl::operator>>(std::u16string& s) {
    uint32_t length = 0;
    if (!readWideLength(length)) return *this;
    try {
        s.resize(length);
    } catch (...) { // the length was checked against the data: no memory
        setError(kNoMemory);
        return *this;
    }
    readWideUnits(length, s.data());
    return *this;
}

void FsSecCl::readWideUnits(uint32_t length, char16_t* s) {
    for (uint32_t i = 0; i < length && m_dwState == 0;) {
        if (!more()) {
            if (m_dwState == 0) setError(kEndOfData);
            break;
        }
        if (m_dwWinFill - m_dwWinPos >= 2) {
            const unsigned char* p = reinterpret_cast<unsigned char*>(m_buffer + m_dwWinPos);
            const uint32_t n = std::min<uint32_t>(length - i, (m_dwWinFill - m_dwWinPos) / 2);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(s + i, p, size_t(n) * 2); // stored little-endian, as held here
            } else {
                for (uint32_t k = 0; k < n; ++k)
                    s[i + k] = char16_t(p[2 * k] | (p[2 * k + 1] << 8));
            }
            i += n;
            m_dwWinPos += 2 * n;
        } else { // a unit split across windows
            const int lo = get();
            const int hi = get();
            s[i++] = char16_t(lo | (hi << 8));
        }
    }
}

// Straight into the new string: a document text runs to megabytes.
FsSecCl& FsSecCl::operator>>(zeb::Bstr& s) {
    uint32_t length = 0;
    if (!readWideLength(length)) return *this;
    zeb::Bstr text;
    text.Attach(SysAllocStringLen(nullptr, UINT(length)));
    if (!text) {
        setError(kNoMemory);
        return *this;
    }
    readWideUnits(length, static_cast<BSTR>(text));
    if (m_dwState == 0) s = std::move(text);
    return *this;
}

FsSecCl& FsSecCl::operator>>(GUID& g) {
    skipSeparators();
    if (m_dwState != 0) return *this;
    if (!more()) {
        if (m_dwState == 0) setError(kEndOfData);
        return *this;
    }
    if (m_dwWinFill - m_dwWinPos >= 39 &&
        isSeparator(static_cast<unsigned char>(m_buffer[m_dwWinPos + 38])) &&
        parseRegistryGuid(m_buffer + m_dwWinPos, g)) {
        m_dwWinPos += 38; // the common case: the whole text inside the window
        return *this;
    }
    if (m_buffer[m_dwWinPos] == '{') {
        char token[40];
        setTokenLimit(39);
        const DWORD n = readToken(token, sizeof token);
        if (m_dwState != 0) return *this;
        GUID out{};
        if (!zeb::guidFromString(std::string_view(token, n), out))
            setError(kBadGuid);
        else
            g = out;
        return *this;
    }
    GUID out{};
    *this >> out.Data1 >> out.Data2 >> out.Data3;
    for (BYTE& b : out.Data4)
        *this >> b;
    if (m_dwState == 0) g = out;
    return *this;
}

// ---- variants
//
// Written: the type without VT_BYREF (unsigned 16), space, then
//   array:  dims, space, element type, space, per dimension from the
//           left-most: lower bound, space, count, space; element size
//           (as the 32-bit system has it: BSTR 4, VARIANT 16), space;
//           then every element in memory order, each followed by a
//           space (I2/BOOL/UI2 as unsigned 16, I4/ERROR/UI4/INT/UINT as
//           unsigned 32, R4 float, R8/DATE double, BSTR wide string,
//           VARIANT recursively, I1/UI1 as the byte in signed text, CLSID
//           as GUID; CY is refused as a 64-bit integer).
//   scalar: I2/BOOL as SHORT, I4/INT as INT, R4, R8/DATE, BSTR, ERROR/UI4/
//           UINT as DWORD, I1 sign- and UI1 zero-extended as INT, UI2 as
//           USHORT, each followed by a space; other types write nothing more.
// The dimensions go left-most first both ways, so a multi-dimensional array
// reads back with the shape it was written with.

FsSecCl& FsSecCl::operator<<(const VARIANT& v) {
    writeVariant(v, 0);
    return *this;
}

FsSecCl& FsSecCl::operator>>(VARIANT& v) {
    readVariant(v, 0);
    return *this;
}

void FsSecCl::writeArrayElement(VARTYPE vt, const void* e, int depth) {
    switch (vt) {
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
        *this << *static_cast<const USHORT*>(e);
        break;
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        *this << *static_cast<const DWORD*>(e);
        break;
    case VT_R4:
        *this << *static_cast<const float*>(e);
        break;
    case VT_R8:
    case VT_DATE:
        *this << *static_cast<const double*>(e);
        break;
    case VT_CY:
        *this << LONGLONG(0);
        break;
    case VT_BSTR: {
        const BSTR b = *static_cast<const BSTR*>(e);
        *this << std::u16string_view(b ? b : u"", SysStringLen(b));
        break;
    }
    case VT_VARIANT:
        writeVariant(*static_cast<const VARIANT*>(e), depth + 1);
        break;
    case VT_I1:
    case VT_UI1:
        *this << INT(*static_cast<const BYTE*>(e));
        break;
    case VT_CLSID:
        *this << *static_cast<const GUID*>(e);
        break;
    default:
        return;
    }
    put(' ');
}

void FsSecCl::writeVariant(const VARIANT& in, int depth) {
    if (m_dwState != 0) return;
    if (depth > kMaxVariantDepth) {
        setError(kBadPosition);
        return;
    }
    zeb::Variant direct;
    const VARIANT* v = &in;
    if (in.vt & VT_BYREF) {
        if (FAILED(VariantCopyInd(&direct, &in))) {
            setError(kBadPosition);
            return;
        }
        v = &direct;
    }
    const VARTYPE vt = VARTYPE(v->vt & ~VT_BYREF);
    *this << USHORT(vt);
    put(' ');
    if (vt & VT_ARRAY) {
        SAFEARRAY* psa = v->parray;
        const UINT dims = SafeArrayGetDim(psa);
        VARTYPE elementType = 0;
        if (psa && FAILED(SafeArrayGetVartype(psa, &elementType))) elementType = 0;
        *this << DWORD(dims);
        put(' ');
        *this << USHORT(elementType);
        put(' ');
        uint64_t total = dims ? 1 : 0;
        for (UINT d = 1; d <= dims; ++d) {
            LONG lower = 0;
            SafeArrayGetLBound(psa, d, &lower);
            const ULONG count = psa->rgsabound[dims - d].cElements;
            total *= count;
            *this << INT(lower);
            put(' ');
            *this << DWORD(count);
            put(' ');
        }
        void* data = nullptr;
        const bool reached = psa && SUCCEEDED(SafeArrayAccessData(psa, &data));
        const DWORD elementSize = reached ? SafeArrayGetElemsize(psa) : 0;
        *this << storedElementSize(elementType, elementSize);
        put(' ');
        if (reached) {
            if (elementSize != 0 && isStreamedElementType(elementType)) {
                const char* p = static_cast<const char*>(data);
                for (uint64_t i = 0; i < total && m_dwState == 0; ++i, p += elementSize)
                    writeArrayElement(elementType, p, depth);
            }
            SafeArrayUnaccessData(psa);
        }
        return;
    }
    switch (vt) {
    case VT_I2:
    case VT_BOOL:
        *this << v->iVal;
        break;
    case VT_I4:
    case VT_INT:
        *this << INT(v->lVal);
        break;
    case VT_R4:
        *this << v->fltVal;
        break;
    case VT_R8:
    case VT_DATE:
        *this << v->dblVal;
        break;
    case VT_CY:
        *this << LONGLONG(0);
        break;
    case VT_BSTR:
        *this << std::u16string_view(v->bstrVal ? v->bstrVal : u"", SysStringLen(v->bstrVal));
        break;
    case VT_ERROR:
    case VT_UI4:
    case VT_UINT:
        *this << DWORD(v->ulVal);
        break;
    case VT_I1:
        *this << INT(static_cast<signed char>(v->cVal));
        break;
    case VT_UI1:
        *this << INT(v->bVal);
        break;
    case VT_UI2:
        *this << v->uiVal;
        break;
    default:
        return;
    }
    put(' ');
}

void FsSecCl::readArrayElement(VARTYPE vt, void* e, int depth) {
    // e is null when the element is read and discarded.
    switch (vt) {
    case VT_I2:
    case VT_BOOL:
    case VT_UI2: {
        USHORT x = 0;
        *this >> x;
        if (e) std::memcpy(e, &x, sizeof x);
        break;
    }
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: {
        DWORD x = 0;
        *this >> x;
        if (e) std::memcpy(e, &x, sizeof x);
        break;
    }
    case VT_R4: {
        float x = 0;
        *this >> x;
        if (e) std::memcpy(e, &x, sizeof x);
        break;
    }
    case VT_R8:
    case VT_DATE: {
        double x = 0;
        *this >> x;
        if (e) std::memcpy(e, &x, sizeof x);
        break;
    }
    case VT_CY:
        refuse64();
        break;
    case VT_BSTR: {
        std::u16string text;
        *this >> text;
        if (e && m_dwState == 0) {
            BSTR b = SysAllocStringLen(text.data(), UINT(text.size()));
            if (!b) setError(kBadLength);
            SysFreeString(*static_cast<BSTR*>(e));
            *static_cast<BSTR*>(e) = b;
        }
        break;
    }
    case VT_VARIANT: {
        if (e) {
            readVariant(*static_cast<VARIANT*>(e), depth + 1);
        } else {
            zeb::Variant scratch;
            readVariant(scratch, depth + 1);
        }
        break;
    }
    case VT_I1:
    case VT_UI1: {
        INT x = 0;
        *this >> x;
        if (e) *static_cast<BYTE*>(e) = BYTE(x);
        break;
    }
    case VT_CLSID: {
        GUID g{};
        *this >> g;
        if (e) std::memcpy(e, &g, sizeof g);
        break;
    }
    default:
        break;
    }
}

void FsSecCl::readVariant(VARIANT& v, int depth) {
    VariantClear(&v);
    if (m_dwState != 0) return;
    if (depth > kMaxVariantDepth) {
        setError(kBadPosition);
        return;
    }
    USHORT type = 0;
    *this >> type;
    if (m_dwState != 0) return;
    const VARTYPE vt = type;
    if (vt & VT_ARRAY) {
        DWORD dims = 0;
        USHORT elementType = 0;
        *this >> dims >> elementType;
        if (m_dwState != 0) return;
        const DWORD remaining = m_dwSize - std::min(position(), m_dwSize);
        // Every dimension takes at least four bytes of text: refuse counts the
        // data cannot hold before sizing anything by them.
        if (dims > remaining / 4) {
            setError(kBadLength);
            return;
        }
        std::vector<SAFEARRAYBOUND> bounds(dims);
        uint64_t total = dims ? 1 : 0;
        for (DWORD d = 0; d < dims && m_dwState == 0; ++d) {
            INT lower = 0;
            DWORD count = 0;
            *this >> lower >> count;
            bounds[d].lLbound = lower;
            bounds[d].cElements = count;
            constexpr uint64_t kCap = uint64_t(1) << 40; // beyond any section
            total = (count != 0 && total > kCap / count) ? kCap : total * count;
        }
        DWORD elementSize = 0;
        *this >> elementSize;
        if (m_dwState != 0) return;
        // A streamed element takes at least two bytes (a digit and a space).
        const bool streamed = isStreamedElementType(elementType) && elementSize != 0;
        if (streamed && total > (m_dwSize - std::min(position(), m_dwSize)) / 2) {
            setError(kBadLength);
            return;
        }
        SAFEARRAY* psa = nullptr;
        void* data = nullptr;
        if (total != 0 && elementSize != 0 && isCreatableElementType(elementType) &&
            dims <= 0xFFFF) {
            psa = SafeArrayCreate(elementType, UINT(dims), bounds.data());
            if (psa && FAILED(SafeArrayAccessData(psa, &data))) {
                SafeArrayDestroy(psa);
                psa = nullptr;
            }
        }
        if (!streamed) total = 0;
        if (psa) {
            const DWORD size = SafeArrayGetElemsize(psa);
            char* p = static_cast<char*>(data);
            for (uint64_t i = 0; i < total && m_dwState == 0; ++i, p += size)
                readArrayElement(elementType, p, depth);
            SafeArrayUnaccessData(psa);
            v.vt = VARTYPE(VT_ARRAY | elementType);
            v.parray = psa;
        } else {
            for (uint64_t i = 0; i < total && m_dwState == 0; ++i)
                readArrayElement(elementType, nullptr, depth);
            v.vt = VT_EMPTY;
        }
        return;
    }
    switch (vt) {
    case VT_NULL:
        v.vt = VT_NULL;
        break;
    case VT_I2:
    case VT_BOOL: {
        SHORT x = 0;
        *this >> x;
        v.vt = vt;
        v.iVal = x;
        break;
    }
    case VT_I4:
    case VT_INT: {
        INT x = 0;
        *this >> x;
        v.vt = vt;
        v.lVal = x;
        break;
    }
    case VT_R4: {
        float x = 0;
        *this >> x;
        v.vt = vt;
        v.fltVal = x;
        break;
    }
    case VT_R8:
    case VT_DATE: {
        double x = 0;
        *this >> x;
        v.vt = vt;
        v.dblVal = x;
        break;
    }
    case VT_CY:
        refuse64();
        break;
    case VT_BSTR: {
        std::u16string text;
        *this >> text;
        if (m_dwState != 0) break;
        BSTR b = SysAllocStringLen(text.data(), UINT(text.size()));
        if (!b) {
            setError(kBadLength);
            break;
        }
        v.vt = VT_BSTR;
        v.bstrVal = b;
        break;
    }
    case VT_ERROR:
    case VT_UI4: {
        DWORD x = 0;
        *this >> x;
        v.vt = vt;
        v.ulVal = x;
        break;
    }
    case VT_UINT: {
        DWORD x = 0;
        *this >> x;
        if (m_dwState == 0) {
            v.vt = VT_UINT;
            v.uintVal = x;
        }
        break;
    }
    case VT_I1:
    case VT_UI1: {
        INT x = 0;
        *this >> x;
        v.vt = vt;
        v.bVal = BYTE(x);
        break;
    }
    case VT_UI2: {
        USHORT x = 0;
        *this >> x;
        v.vt = vt;
        v.uiVal = x;
        break;
    }
    default:
        v.vt = VT_EMPTY;
        break;
    }
}
