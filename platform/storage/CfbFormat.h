// The compound-file format's fixed numbers, shared by CfbReader and
// CfbWriter: the header's signature, field offsets and values, sector sizes,
// the special sector numbers, and the layout of a directory entry.
//
// A file is a 512-byte header followed by sectors; sector s starts at byte
// (s + 1) * sectorSize (version 3: 512-byte sectors, version 4: 4096, whose
// header is padded to a whole sector). Every multi-byte field is
// little-endian; load16/load32/load64 and store16/store32 read and write
// them whatever the host's byte order.
#pragma once

#include "platform/storage/Storage.h"

#include <cstddef>
#include <cstdint>

namespace zeb::cfb {

// ---- Header -----------------------------------------------------------

inline constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr size_t kHeaderSize = 512;

// Offsets of the header's fields.
inline constexpr size_t kHeaderSignature = 0x00;       // 8 bytes
inline constexpr size_t kHeaderClsid = 0x08;           // 16 bytes, zero
inline constexpr size_t kHeaderMinorVersion = 0x18;    // 16-bit
inline constexpr size_t kHeaderMajorVersion = 0x1A;    // 16-bit
inline constexpr size_t kHeaderByteOrder = 0x1C;       // 16-bit
inline constexpr size_t kHeaderSectorShift = 0x1E;     // 16-bit
inline constexpr size_t kHeaderMiniSectorShift = 0x20; // 16-bit
inline constexpr size_t kHeaderDirSectorCount = 0x28;  // 32-bit, 0 in version 3
inline constexpr size_t kHeaderFatSectorCount = 0x2C;  // 32-bit
inline constexpr size_t kHeaderFirstDirSector = 0x30;  // 32-bit
inline constexpr size_t kHeaderTransaction = 0x34;     // 32-bit, 0
inline constexpr size_t kHeaderMiniCutoff = 0x38;      // 32-bit
inline constexpr size_t kHeaderFirstMiniFatSector = 0x3C;
inline constexpr size_t kHeaderMiniFatSectorCount = 0x40;
inline constexpr size_t kHeaderFirstDifatSector = 0x44;
inline constexpr size_t kHeaderDifatSectorCount = 0x48;
inline constexpr size_t kHeaderDifat = 0x4C; // the first FAT sector numbers
inline constexpr uint32_t kHeaderDifatEntries = 109;

// Values of the header's fields.
inline constexpr uint16_t kMinorVersion = 0x003E;
inline constexpr uint16_t kMajorVersion3 = 3;
inline constexpr uint16_t kMajorVersion4 = 4;
inline constexpr uint16_t kByteOrderMark = 0xFFFE; // little-endian
inline constexpr uint16_t kSectorShift3 = 9;       // 512-byte sectors
inline constexpr uint16_t kSectorShift4 = 12;      // 4096-byte sectors
inline constexpr uint16_t kMiniSectorShift = 6;    // 64-byte mini sectors

// ---- Sectors ----------------------------------------------------------

inline constexpr uint32_t kSectorSize3 = 1u << kSectorShift3;
inline constexpr uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
// Streams shorter than this live in the mini stream.
inline constexpr uint32_t kMiniStreamCutoff = 4096;

// Special values in the FAT, the mini FAT and the DIFAT; sector numbers
// above kMaxRegSect are never real sectors.
inline constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;    // a DIFAT sector
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;    // a FAT sector
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE; // the last sector of a chain
inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;   // unused

// ---- Directory entries ------------------------------------------------

inline constexpr uint32_t kDirEntrySize = 128;

// Offsets of a directory entry's fields.
inline constexpr size_t kEntryName = 0x00;       // 32 UTF-16 units, 0-terminated
inline constexpr size_t kEntryNameLength = 0x40; // 16-bit, bytes including the 0
inline constexpr size_t kEntryType = 0x42;       // 8-bit
inline constexpr size_t kEntryColour = 0x43;     // 8-bit
inline constexpr size_t kEntryLeft = 0x44;       // 32-bit sibling id
inline constexpr size_t kEntryRight = 0x48;      // 32-bit sibling id
inline constexpr size_t kEntryChild = 0x4C;      // 32-bit id of the children's root
inline constexpr size_t kEntryClsid = 0x50;      // 16 bytes
inline constexpr size_t kEntryStateBits = 0x60;  // 32-bit
inline constexpr size_t kEntryCreated = 0x64;    // FILETIME
inline constexpr size_t kEntryModified = 0x6C;   // FILETIME
inline constexpr size_t kEntryStart = 0x74;      // 32-bit first sector
inline constexpr size_t kEntryStreamSize = 0x78; // 64-bit (version 3: low half only)

inline constexpr uint16_t kMaxNameBytes = 64;

// Object types and colours.
inline constexpr BYTE kTypeStorage = 1;
inline constexpr BYTE kTypeStream = 2;
inline constexpr BYTE kTypeRoot = 5;
inline constexpr BYTE kColourRed = 0;
inline constexpr BYTE kColourBlack = 1;

// The id that links to no entry.
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;

// ---- Little-endian fields ---------------------------------------------

inline uint16_t load16(const BYTE* p) noexcept {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load32(const BYTE* p) noexcept {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t load64(const BYTE* p) noexcept {
    return load32(p) | (static_cast<uint64_t>(load32(p + 4)) << 32);
}
inline void store16(BYTE* p, uint16_t v) noexcept {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void store32(BYTE* p, uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

} // namespace zeb::cfb
