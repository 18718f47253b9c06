// FsSecCl: the typed text stream over one section (one stream of a storage).
//
// Callers write values with operator<< and read them with operator>>; the
// class turns them into text and keeps a 16 KiB window of the stream in
// memory. Writers put no separators of their own (except after a GUID and
// between a string's length and its bytes), so callers put a space or CR LF
// between the values they write. Readers skip separators (NUL, TAB, LF, CR,
// space) in front of every token.
//
//   FsSecCl sec(stream);                 // or attach(stream, mode) later
//   sec << INT(5); sec.put('\r'); sec.put('\n');
//   sec << "ZEB.BASISES.version.1.0";    // "23 ZEB.BASISES.version.1.0"
//   ...
//   INT magic = 0; String text;
//   sec.seek(0, 0);
//   sec >> magic >> text;
//   if (sec.state() != 0) { /* read error */ }
//
// Encodings (radix 10):
//   unsigned/signed 32 and 16 bit   decimal digits, "-" in front when negative
//   float                           "%.10g" of the value as a double
//   double                          "%.18g"; a value that is not finite sets 7
//   64-bit integers                 refused both ways (state 1, nothing moves)
//   narrow string                   byte length, one space, the bytes
//   wide string                     length in UTF-16 units, one space, the
//                                   units little-endian (2 bytes each)
//   GUID                            "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} "
//   VARIANT                         type (unsigned 16), space, then the value
//                                   as the .cpp describes
//
// Sticky state: every operation does nothing while state() is not 0; the
// first failure records its code and the byte position (errorPosition()).
// Test the state after a run of reads; clear() resets it. Codes:
//   1 end of data / 64-bit integer, 4 bad signed text, 5 bad unsigned text,
//   6 float out of range, 7 bad or non-finite floating text, 9 bad GUID,
//   10/11/12 out of range for SHORT/USHORT/BYTE, 13 stream handed out,
//   14 write without write access, 16 a stream call failed, 17 string longer
//   than the data, 18 position or size invalid, 19 memory ran out (the data
//   may well be whole: a reader must not take it for damage).
//
// Input is never trusted: lengths and array sizes read from a section are
// checked against the bytes that remain before anything is allocated, and
// nested variants are limited in depth.
//
// Threads: none; a section is used by one thread at a time.
#pragma once

#include "base/falloc/String.h"
#include "platform/com/Guid.h"
#include "platform/com/Variant.h"
#include "platform/storage/Storage.h"

#include <string>
#include <string_view>

class FsSecCl {
public:
    static constexpr DWORD kWindowSize = 16384;
    static constexpr DWORD kNoWindow = 0xFFFFFFFF;

    // State codes.
    enum : DWORD {
        kGood = 0,
        kEndOfData = 1,
        kBadSigned = 4,
        kBadUnsigned = 5,
        kFloatRange = 6,
        kBadFloat = 7,
        kBadGuid = 9,
        kShortRange = 10,
        kUShortRange = 11,
        kByteRange = 12,
        kHandedOut = 13,
        kNoWriteAccess = 14,
        kStreamFailed = 16,
        kBadLength = 17,
        kBadPosition = 18,
        kNoMemory = 19,
    };

    // Unattached: writable, no window, radix 10.
    FsSecCl();
    // Attached to `stream` (one reference taken); its size comes from Stat,
    // writable when opened for writing or when it is a memory stream (zero
    // creation time); the window is read at offset 0.
    explicit FsSecCl(IStream* stream);
    FsSecCl(const FsSecCl&) = delete;
    FsSecCl& operator=(const FsSecCl&) = delete;

    // Called by the section manager after a section that is not empty was
    // opened; 0 here.
    virtual DWORD afterOpen();
    // Called by the section manager before the section is closed; a non-zero
    // result keeps it open. 0 here.
    virtual DWORD beforeClose();
    // Flushes the window, commits the stream and releases it.
    virtual ~FsSecCl();
    virtual DWORD reserved();

    // Attaches a stream (one reference); mode bit 0 is the write access.
    // 3 when a stream is attached already, 1 for a null stream or when its
    // size cannot be read (state 16) or is 4 GiB or more (state 18); else 0.
    DWORD attach(IStream* stream, DWORD mode);

    // origin 0 start, 1 current, 2 end. A target outside 0..size leaves the
    // position unchanged. Returns the position (0 when the window re-read fails).
    DWORD seek(LONG offset, DWORD origin);
    // Flushes and resizes the stream: 1 unless the state is good, 9 without
    // stream, 1 when the resize fails (state 16); else 0.
    DWORD setSize(DWORD size);
    void clear() noexcept {
        m_dwState = 0;
        m_dwErrPos = 0;
    }

    DWORD state() const noexcept { return m_dwState; }
    DWORD errorPosition() const noexcept { return m_dwErrPos; }
    DWORD size() const noexcept { return m_dwSize; }
    DWORD position() const noexcept;
    bool isWritable() const noexcept { return (m_dwWrite & 1) != 0; }
    bool isHandedOut() const noexcept { return m_dwState == kHandedOut; }
    bool hasStream() const noexcept { return m_pStream != nullptr; }
    const FILETIME& timeStamp() const noexcept { return m_ftTime; }
    // The most characters the next token read may take (0: no limit).
    void setTokenLimit(INT limit) noexcept { m_nTokenLimit = limit; }

    // Hands out the stream (new reference) after a flush and sets state 13
    // until unlockStream(); null when the state is not good.
    IStream* getIStreamPtr();
    // Ends a hand-out: 1 when not handed out. The window is re-read at 0
    // unless the stream is unchanged (same modification time, not a memory
    // stream). 1 when the stream's status cannot be read (state 16) or its
    // size is 4 GiB or more (state 18); else 0.
    DWORD unlockStream();

    // Raw bytes and text, no separator logic.
    FsSecCl& put(char c);
    FsSecCl& separator() { return put(' '); }
    void write(const void* data, DWORD count);
    void writeText(const char* text);    // up to the terminating zero (not written)
    DWORD read(void* data, DWORD count); // bytes read; short read sets state 1
    int get();                           // one byte, 0 (and a state) at the end

    // A char or bool would silently print as a number: put() writes a byte.
    FsSecCl& operator<<(char) = delete;
    FsSecCl& operator<<(bool) = delete;
    FsSecCl& operator<<(DWORD v);
    FsSecCl& operator<<(INT v);
    FsSecCl& operator<<(USHORT v) { return *this << DWORD(v); }
    FsSecCl& operator<<(SHORT v) { return *this << INT(v); }
    FsSecCl& operator<<(float v);
    FsSecCl& operator<<(double v);
    FsSecCl& operator<<(LONGLONG v);
    FsSecCl& operator<<(ULONGLONG v);
    FsSecCl& operator<<(std::string_view s); // narrow string
    FsSecCl& operator<<(const char* s) { return *this << std::string_view(s ? s : ""); }
    FsSecCl& operator<<(const String& s) { return *this << s.view(); }
    FsSecCl& operator<<(std::u16string_view s); // wide string
    FsSecCl& operator<<(const zeb::Bstr& s) { return *this << s.view(); }
    FsSecCl& operator<<(const GUID& g);
    FsSecCl& operator<<(const VARIANT& v);

    FsSecCl& operator>>(DWORD& v);
    FsSecCl& operator>>(INT& v);
    FsSecCl& operator>>(USHORT& v);
    FsSecCl& operator>>(SHORT& v);
    FsSecCl& operator>>(BYTE& v);
    FsSecCl& operator>>(float& v);
    FsSecCl& operator>>(double& v);
    FsSecCl& operator>>(LONGLONG& v);
    FsSecCl& operator>>(ULONGLONG& v);
    FsSecCl& operator>>(std::string& s);
    FsSecCl& operator>>(String& s);
    FsSecCl& operator>>(std::u16string& s);
    FsSecCl& operator>>(zeb::Bstr& s);
    FsSecCl& operator>>(GUID& g);
    // The variant is cleared first (it must hold a valid VARIANT).
    FsSecCl& operator>>(VARIANT& v);

    // Sets the state (when good) and the error position to the current
    // position. Readers of composite values use it to report data that read
    // cleanly but does not fit together (a repeated key, say).
    void setError(DWORD code) noexcept;

protected:
    void setErrorAt(DWORD code, DWORD position) noexcept;
    bool readWindow(DWORD offset);
    void flush();

private:
    bool ensureWindow();
    // Makes a byte available at the window position: true when one is; false
    // at the end of the data (no state set) or on a failure (state set).
    bool more();
    // Flushes the window and reads the one behind it; false (state set) when
    // that fails.
    bool advanceWindow();
    void skipSeparators();
    // Reads a token into buf (capacity cap including the terminating zero);
    // returns its length. State 1 when no token character is left.
    DWORD readToken(char* buf, DWORD cap);
    template <class T, class Parse> bool readInteger(T& out, Parse parse, DWORD badCode);
    bool readUnsigned(uint32_t& out);
    bool readSigned(int32_t& out);
    bool readDouble(double& out);
    bool readStringBytes(DWORD length, char* dest);
    // The length of a wide string, checked against the bytes left (17 when
    // beyond them); false when no string can follow.
    bool readWideLength(uint32_t& length);
    // `length` UTF-16 little-endian units into `dest`.
    void readWideUnits(uint32_t length, char16_t* dest);
    void refuse64();
    void writeVariant(const VARIANT& v, int depth);
    void readVariant(VARIANT& v, int depth);
    void writeArrayElement(VARTYPE vt, const void* element, int depth);
    void readArrayElement(VARTYPE vt, void* element, int depth);
    bool updateSizeFromStream(STATSTG* out);

    DWORD m_dwWrite = 1;
    IStream* m_pStream = nullptr;
    DWORD m_dwState = 0;
    DWORD m_dwErrPos = 0;
    FILETIME m_ftTime{};
    DWORD m_dwWinStart = kNoWindow;
    DWORD m_dwWinPos = 0;
    DWORD m_dwWinFill = 0;
    DWORD m_dwSize = 0;
    DWORD m_dwRadix = 10;
    INT m_nTokenLimit = 0;
    bool m_bDirty = false;
    // The window, followed by one byte that stays 0.
    char m_buffer[kWindowSize + 1];
};

namespace zeb {
// The current time as a file time (100 ns since 1601-01-01 UTC).
HRESULT fileTimeNow(FILETIME* out) noexcept;
} // namespace zeb
