#include "acx/CAcxReader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

CAcxReader::CAcxReader() = default;

CAcxReader::~CAcxReader() {
    if (m_hFile && m_pFileSystem) m_pFileSystem->close(m_hFile);
}

void CAcxReader::skipTag() {
    if (!ended() && m_nState != StateIdle) m_nState = StateSkip;
}

void CAcxReader::leaveCompound() {
    if (!ended() && m_nState != StateIdle) m_nState = StateLeave;
}

void CAcxReader::abortParse() {
    if (m_nState != StateIdle) endDocument();
}

void CAcxReader::error(int code) {
    m_pErrorHandler->error(code);
}

void CAcxReader::fatal(int code) {
    m_nState = StateFatal;
    m_pErrorHandler->fatalError(code);
    endDocument();
}

void CAcxReader::endDocument() {
    if (m_nState == StateIdle || ended()) return;
    m_nState = StateEnding;
    if (m_hFile) m_pFileSystem->close(m_hFile);
    m_hFile = nullptr;
    m_nDepth = 0;
    m_nDocTags = 0;
    m_pContentHandler->endDocument();
    m_nState = StateEnded;
}

bool CAcxReader::parse(const char* path) {
    if (!m_pErrorHandler) return false;
    if (!m_pFileSystem) {
        m_pErrorHandler->fatalError(4);
        return true;
    }
    if (m_nState != StateIdle) {
        m_pErrorHandler->fatalError(3);
        return true;
    }
    if (!m_pContentHandler) {
        m_pErrorHandler->fatalError(10);
        return true;
    }
    m_nState = StateParsing;
    try {
        m_pErrorHandler->startParse();
        m_nPos = m_nEnd = 0;
        m_nBase = 0;
        m_bCallerOpened = false;
        m_hFile = path ? m_pFileSystem->open(path, "rb") : nullptr;
        if (!m_hFile) {
            fatal(1);
        } else {
            const bool compressed = m_pFileSystem->compressed(m_hFile);
            m_nDataLength = compressed ? -1 : m_pFileSystem->size(m_hFile);
            // Small plain files get a buffer of their own size.
            size_t bufferSize = kBufferSize;
            if (m_nDataLength >= 0 && uint64_t(m_nDataLength) < kBufferSize)
                bufferSize = std::max<size_t>(size_t(m_nDataLength), 64);
            m_buf.resize(bufferSize);
            uint8_t header[8];
            if (!readBytes(header, sizeof header)) {
                fatal(2);
            } else if (std::memcmp(header, "AcX", 3) != 0) {
                fatal(11);
            } else {
                if (header[5] != (kVersion >> 8)) error(46);
                m_pContentHandler->startDocument(compressed);
                m_nCurrentTagId = -1;
                m_nDepth = 0;
                m_nDocTags = 0;
                if (!ended()) parseTagList(0, false);
                if (!ended()) endDocument();
            }
        }
    } catch (...) {
        // A handler that throws (out of memory) ends the parse like a fatal
        // read error; the handler's endDocument must not throw again.
        try {
            if (!ended()) fatal(2);
        } catch (...) {
        }
        if (m_hFile) m_pFileSystem->close(m_hFile);
        m_hFile = nullptr;
    }
    m_nState = StateIdle;
    m_buf.clear();
    m_buf.shrink_to_fit();
    return true;
}

bool CAcxReader::fill(size_t need) {
    if (m_nPos > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_nPos, m_nEnd - m_nPos);
        m_nBase += m_nPos;
        m_nEnd -= m_nPos;
        m_nPos = 0;
    }
    while (m_nEnd < need) {
        size_t got = m_pFileSystem->read(m_buf.data() + m_nEnd, 1, m_buf.size() - m_nEnd, m_hFile);
        if (got == 0) return false;
        m_nEnd += got;
    }
    return true;
}

bool CAcxReader::readBytes(void* dst, size_t n) {
    size_t avail = m_nEnd - m_nPos;
    if (avail >= n) {
        std::memcpy(dst, m_buf.data() + m_nPos, n);
        m_nPos += n;
        return true;
    }
    if (n < m_buf.size() / 2) {
        if (!fill(n)) return false;
        std::memcpy(dst, m_buf.data() + m_nPos, n);
        m_nPos += n;
        return true;
    }
    // Large content goes straight into the caller's buffer.
    auto* out = static_cast<uint8_t*>(dst);
    std::memcpy(out, m_buf.data() + m_nPos, avail);
    out += avail;
    n -= avail;
    m_nBase += m_nEnd;
    m_nPos = m_nEnd = 0;
    while (n > 0) {
        size_t got = m_pFileSystem->read(out, 1, n, m_hFile);
        if (got == 0) return false;
        out += got;
        n -= got;
        m_nBase += got;
    }
    return true;
}

bool CAcxReader::skipBytes(uint64_t n) {
    size_t avail = m_nEnd - m_nPos;
    if (avail >= n) {
        m_nPos += size_t(n);
        return true;
    }
    n -= avail;
    m_nBase += m_nEnd;
    m_nPos = m_nEnd = 0;
    // Skipping reads through the data rather than seeking: a seek past the
    // end of a gzip stream succeeds silently, a read does not.
    while (n > 0) {
        size_t got = m_pFileSystem->read(m_buf.data(), 1, m_buf.size(), m_hFile);
        if (got == 0) return false;
        if (got > n) {
            m_nEnd = got;
            m_nPos = size_t(n);
            return true;
        }
        n -= got;
        m_nBase += got;
    }
    return true;
}

bool CAcxReader::readHeader(Header& h) {
    // The header is decoded where it lies in the buffer; only a header cut
    // by the buffer's end is gathered first.
    uint8_t gathered[7];
    const uint8_t* b = m_buf.data() + m_nPos;
    if (m_nEnd - m_nPos >= 7) {
        m_nPos += (b[0] & 0x80) ? 7 : 3;
    } else {
        if (!readBytes(gathered, 3)) return false;
        if ((gathered[0] & 0x80) && !readBytes(gathered + 3, 4)) return false;
        b = gathered;
    }
    h.tag.length = b[0] & 0x7Fu;
    h.tag.tagId = b[1] | uint32_t(b[2] & 0x1F) << 8;
    h.tag.kind = uint16_t(b[2] >> 5);
    h.size = 3;
    if (b[0] & 0x80) {
        h.tag.length |= uint32_t(b[3]) << 7 | uint32_t(b[4]) << 15;
        h.tag.kind = uint16_t(h.tag.kind | b[5] << 8);
        h.tag.tagId |= uint32_t(b[6]) << 13;
        h.size = 7;
    }
    return true;
}

void CAcxReader::parseTagList(uint64_t budget, bool bounded) {
    while (!ended()) {
        if (m_nState == StateLeave) return;
        if (bounded && budget == 0) return;
        Header h;
        if (!readHeader(h)) return fatal(2);
        m_nCurrentTagId = h.tag.tagId;
        const uint64_t total = uint64_t(h.size) + h.tag.length;
        if (h.tag.tagId == 0) {
            ++m_nDocTags;
            // Only the top-level document tag bounds its level; an id 0
            // deeper down must not widen the budget of its parent.
            if (m_nDepth == 0) {
                budget = total;
                bounded = true;
            }
        }
        if ((m_nDepth == 0 && h.tag.tagId != 0) || m_nDocTags != 1) error(44);
        if (bounded && total > budget) return fatal(2); // runs past its compound
        if (m_nDataLength >= 0 && position() + h.tag.length > uint64_t(m_nDataLength))
            return fatal(2); // runs past the end of the file
        if (bounded) budget -= total;
        processTag(h);
    }
}

void CAcxReader::skipAndEnd(const CAcxTagRecord& tag) {
    if (!skipBytes(tag.length)) return fatal(2);
    m_pContentHandler->endTag(tag);
    if (m_nState == StateSkip) m_nState = StateParsing;
}

void CAcxReader::processTag(const Header& h) {
    const CAcxTagRecord& tag = h.tag;
    char* buffer = nullptr;
    uint32_t capacity = 0;
    if (tag.kind == 3)
        m_pContentHandler->startStringTag(tag, &buffer, &capacity);
    else
        m_pContentHandler->startTag(tag);
    if (ended() || m_nState == StateLeave) return;

    bool skip = m_nState == StateSkip;
    if (tag.kind == 3 && !skip) {
        if (capacity == 0) {
            skip = true;
        } else if (!buffer) {
            error(40);
            skip = true;
        }
    }
    if (skip) return skipAndEnd(tag);

    switch (tag.kind) {
    case 0: {
        if (m_nDepth >= kMaxDepth) return fatal(5);
        ++m_nDepth;
        const uint64_t start = position();
        parseTagList(tag.length, true);
        --m_nDepth;
        if (ended()) return;
        if (m_nState == StateLeave) {
            const uint64_t consumed = position() - start;
            if (consumed > tag.length || !skipBytes(tag.length - consumed)) return fatal(2);
            m_nState = StateParsing;
        }
        break;
    }
    case 1:
    case 2:
    case 4: {
        int code = 0;
        switch (tag.length) {
        case 1:
            code = 1;
            break;
        case 2:
            code = 2;
            break;
        case 4:
            code = tag.kind == 4 ? 9 : 3;
            break;
        case 8:
            code = tag.kind == 4 ? 10 : 4;
            break;
        default:
            break;
        }
        if (tag.kind == 4 && tag.length < 4) code = 0;
        if (code == 0) {
            error(tag.kind == 1 ? 41 : tag.kind == 2 ? 42 : 43);
            return skipAndEnd(tag);
        }
        if (tag.kind == 1) code += 4;
        uint8_t value[8] = {};
        if (std::endian::native == std::endian::little && m_nEnd - m_nPos >= sizeof value) {
            // Most values sit in the buffer with 8 bytes to spare: one fixed
            // load and a mask instead of a copy of variable length.
            uint64_t word;
            std::memcpy(&word, m_buf.data() + m_nPos, sizeof word);
            if (tag.length < 8) word &= (uint64_t(1) << (8 * tag.length)) - 1;
            std::memcpy(value, &word, sizeof value);
            m_nPos += tag.length;
        } else if (!readBytes(value, tag.length)) {
            return fatal(2);
        }
        m_pContentHandler->handleData(code, value);
        break;
    }
    case 3: {
        const uint32_t n = std::min(tag.length, capacity);
        if (!readBytes(buffer, n)) return fatal(2);
        buffer[n] = 0;
        if (!skipBytes(tag.length - n)) return fatal(2);
        m_pContentHandler->handleStringData(buffer, n);
        break;
    }
    case 5:
        if (tag.length != 0) {
            error(45);
            return skipAndEnd(tag);
        }
        break;
    default:
        error(30);
        return skipAndEnd(tag);
    }
    if (!ended() && m_nState != StateLeave) m_pContentHandler->endTag(tag);
    if (m_nState == StateSkip) m_nState = StateParsing;
}
