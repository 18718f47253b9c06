// Receiver of the tag tree an ACX parse walks (push parser, see CAcxReader.h).
//
// Order of calls for one parse: startDocument, then for every tag startTag
// (or startStringTag for kind 3), its content (handleData for numbers,
// handleStringData for strings, the child tags for a compound), endTag;
// finally endDocument, which runs in every parse that opened its file, also
// after a fatal error. The handler may call CAcxReader::skipTag and
// CAcxReader::leaveCompound from any of these calls.
#pragma once

#include <cstdint>

// The tag as the reader passes it: content length in bytes, kind (0
// compound, 1 and 2 integer, 3 string, 4 floating point, 5 marker), tag id.
struct CAcxTagRecord {
    uint32_t length = 0;
    uint16_t kind = 0;
    uint32_t tagId = 0;
};

// Data-type codes of handleData: kind 2 gives 1, 2, 3, 4 for 1, 2, 4, 8
// bytes; kind 1 gives 5, 6, 7, 8; kind 4 gives 9 (single) and 10 (double).
enum AcxDataType : int {
    ACX_INT2_8 = 1,
    ACX_INT2_16 = 2,
    ACX_INT2_32 = 3,
    ACX_INT2_64 = 4,
    ACX_INT_8 = 5,
    ACX_INT_16 = 6,
    ACX_INT_32 = 7,
    ACX_INT_64 = 8,
    ACX_FLOAT = 9,
    ACX_DOUBLE = 10,
};

class CAcxContentHandlerBase {
public:
    virtual ~CAcxContentHandlerBase() = default;
    virtual void startDocument(bool compressed) { (void)compressed; }
    virtual void startTag(const CAcxTagRecord& tag) { (void)tag; }
    // `value` addresses 8 bytes: the bytes read (little-endian), zero-extended.
    virtual void handleData(int typeCode, const void* value) {
        (void)typeCode;
        (void)value;
    }
    // Hands the reader a buffer of *capacity + 1 bytes for the string. A
    // capacity of 0 skips the tag; a capacity without a buffer is error 40.
    virtual void startStringTag(const CAcxTagRecord& tag, char** buffer, uint32_t* capacity) {
        (void)tag;
        *buffer = nullptr;
        *capacity = 0;
    }
    // `text` is the handler's own buffer, zero-terminated after `length` bytes.
    virtual void handleStringData(const char* text, uint32_t length) {
        (void)text;
        (void)length;
    }
    virtual void endTag(const CAcxTagRecord& tag) { (void)tag; }
    virtual void endDocument() {}
};
