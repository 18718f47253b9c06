// Push parser of the ACX container format.
//
//   CAcxZFileSystem fs;  MyErrors errors;  MyContent content;
//   CAcxReader reader;
//   reader.setFileSystem(&fs);
//   reader.setErrorHandler(&errors);
//   reader.setContentHandler(&content);
//   reader.parse("type.pd");     // false only without an error handler
//
// Format (numbers little-endian): an optional gzip wrapper (the file system
// hides it); an 8-byte header, "AcX", a reserved byte, the format version
// (high byte = major, must be 2), two reserved bytes; then one tag with id 0,
// the document, holding all others. A tag header has 3 bytes, or 7 when bit
// 7 of its first byte is set:
//   byte 0 bits 0-6 length bits 0-6     byte 3-4   length bits 7-22
//   byte 1          id bits 0-7         byte 5     kind bits 8-15
//   byte 2 bits 0-4 id bits 8-12        byte 6     id bits 13-20
//   byte 2 bits 5-7 kind bits 0-2
// The length counts the content after the header. Kinds: 0 compound
// (child tags filling exactly the length), 1 and 2 integer (1, 2, 4 or 8
// bytes), 3 string (no terminator), 4 float (4 or 8 bytes), 5 marker (empty).
//
// Codes passed to the error handler:
//   fatal  1 cannot open   2 read/skip failed, data ended inside a tag, or a
//          tag runs past its enclosing compound   3 parse while parsing
//          4 no file system   5 compounds nested deeper than kMaxDepth
//          10 no content handler   11 magic is not "AcX"
//   error 30 unknown kind   40 string accepted without buffer   41/42/43
//          bad length of a kind 1/2/4 tag   44 tag outside the document or
//          second document tag   45 marker with content   46 major != 2
// Tags that get an error are skipped (their endTag is still delivered).
//
// The file is never trusted: every length is checked against the enclosing
// compound and (for plain files) the file before anything is allocated or
// read; nesting is bounded; a fatal error ends the document, and the content
// handler's endDocument runs in every parse that got past the setup checks.
//
// One parse at a time per reader, on one thread; the reader is reusable.
#pragma once

#include "acx/CAcxReaderBase.h"

#include <cstdint>
#include <vector>

class CAcxReader : public CAcxReaderBase {
public:
    enum State : int {
        StateIdle = 0,
        StateParsing = 1,
        StateSkip = 2,
        StateLeave = 3,
        StateEnding = 4,
        StateEnded = 5,
        StateFatal = 6,
    };
    static constexpr int kMaxDepth = 256;
    static constexpr uint16_t kVersion = 0x0200;

    CAcxReader();
    ~CAcxReader() override;
    CAcxReader(const CAcxReader&) = delete;
    CAcxReader& operator=(const CAcxReader&) = delete;

    // Parses one file; false only when no error handler is set.
    bool parse(const char* path);

    // For the content handler during a parse. skipTag: the content of the
    // current tag is skipped, its endTag still comes. leaveCompound: the rest
    // of the current compound is skipped; parsing goes on after it.
    void skipTag();
    void leaveCompound();
    // Ends the document at once (endDocument is delivered, nothing more is
    // read); for a handler that cannot go on.
    void abortParse();

    int state() const { return m_nState; }
    int64_t currentTagId() const { return m_nCurrentTagId; }

private:
    struct Header {
        CAcxTagRecord tag;
        uint32_t size; // header bytes
    };

    bool ended() const { return m_nState == StateEnding || m_nState == StateEnded; }
    void fatal(int code);
    void error(int code);
    void endDocument();
    void parseTagList(uint64_t budget, bool bounded);
    void processTag(const Header& h);
    bool readHeader(Header& h);
    bool fill(size_t need);
    bool readBytes(void* dst, size_t n);
    bool skipBytes(uint64_t n);
    uint64_t position() const { return m_nBase + m_nPos; }
    void skipAndEnd(const CAcxTagRecord& tag);

    CAcxFileHandleBase* m_hFile = nullptr;
    bool m_bCallerOpened = false; // the caller opened the file (never, here)
    int m_nState = StateIdle;
    int m_nDepth = 0;
    int m_nDocTags = 0;
    int64_t m_nCurrentTagId = -1;

    // Read buffer over the file system: bytes [m_nPos, m_nEnd) of m_buf are
    // the stream from offset m_nBase + m_nPos on.
    std::vector<uint8_t> m_buf;
    size_t m_nPos = 0, m_nEnd = 0;
    uint64_t m_nBase = 0;
    int64_t m_nDataLength = -1; // plain files: the file length, to check tags against
};
