// Builds ACX files byte by byte for tests and benchmarks.
//
//   using namespace zeb::test::acx;
//   std::string file = document(compound(2144, u8(2088, 1) + str(150, "Drive")));
//   writeGzip(dir.file("drive.pd"), file);
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <zlib.h>

namespace zeb::test::acx {

// Header of a tag; `extended` forces the 7-byte form (taken anyway when the
// length, id or kind need it).
inline std::string header(uint32_t id, uint32_t kind, uint32_t length, bool extended = false) {
    extended = extended || length > 0x7F || id > 0x1FFF || kind > 7;
    std::string h;
    h += char((length & 0x7F) | (extended ? 0x80 : 0));
    h += char(id & 0xFF);
    h += char(((id >> 8) & 0x1F) | ((kind & 7) << 5));
    if (extended) {
        h += char((length >> 7) & 0xFF);
        h += char((length >> 15) & 0xFF);
        h += char((kind >> 8) & 0xFF);
        h += char((id >> 13) & 0xFF);
    }
    return h;
}

inline std::string tag(uint32_t id, uint32_t kind, const std::string& content) {
    return header(id, kind, uint32_t(content.size())) + content;
}

inline std::string le(uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += char((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::string compound(uint32_t id, const std::string& children) {
    return tag(id, 0, children);
}
inline std::string u8(uint32_t id, uint64_t v) {
    return tag(id, 1, le(v, 1));
}
inline std::string u16(uint32_t id, uint64_t v) {
    return tag(id, 1, le(v, 2));
}
inline std::string u32(uint32_t id, uint64_t v) {
    return tag(id, 1, le(v, 4));
}
inline std::string str(uint32_t id, const std::string& s) {
    return tag(id, 3, s);
}

// The 8-byte file header.
inline std::string fileHeader(uint16_t version = 0x0200) {
    return std::string("AcX", 3) + '\0' + le(version, 2) + std::string(2, '\0');
}

// A whole file: header and a document tag (id 0) holding `content`.
inline std::string document(const std::string& content, uint16_t version = 0x0200) {
    return fileHeader(version) + compound(0, content);
}

inline void writePlain(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline void writeGzip(const std::string& path, const std::string& bytes, int level = 6) {
    char mode[] = "wb6";
    mode[2] = char('0' + level);
    gzFile gz = gzopen(path.c_str(), mode);
    if (!gz) throw std::runtime_error("cannot write " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        unsigned chunk = unsigned(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (gzwrite(gz, bytes.data() + done, chunk) != int(chunk)) break;
        done += chunk;
    }
    gzclose(gz);
    if (done != bytes.size()) throw std::runtime_error("cannot write " + path);
}

// 32 hexadecimal digits of a GUID as PD-files write it.
inline const char* kTypeGuidDigits = "0123456789ABCDEF0123456789ABCDEF";

// A PD-file of type 1: base data 2129 = viewId, 2146 = dataSet, 17 = 0x1234,
// version 3.7 of the GUID above, ES data "BaseEs"; view data (when `withView`)
// 136 = parallel, version 4.1 of a second GUID, ES data "ViewEs".
inline std::string pdFile(uint16_t viewId, uint16_t dataSet, uint16_t parallel, bool withView) {
    std::string base =
        compound(2145, u16(2129, viewId) + u16(2146, dataSet) + u32(17, 0x1234) +
                           str(2121, kTypeGuidDigits) + u8(2122, 3) + u8(2123, 7) +
                           compound(2365, str(66, "BaseEs") +
                                              str(2121, "11111111222233334444555555555555")));
    std::string view =
        compound(2147, u16(136, parallel) + str(2121, "AAAAAAAABBBBCCCCDDDDEEEEEEEEEEEE") +
                           u8(2122, 4) + u8(2123, 1) +
                           compound(2365, str(66, "ViewEs") +
                                              str(2121, "99999999888877776666555544443333")));
    std::string section = u8(2088, 0x21) + u8(2089, 0x42) + str(150, "Drive") +
                          str(67, "Axis drive") + str(142, "x") + u16(135, 1) + u32(161, 2) + base +
                          (withView ? view : "") + compound(65, u8(1, 1));
    return document(compound(2144, section));
}

} // namespace zeb::test::acx
