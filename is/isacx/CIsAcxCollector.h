// Results of the PD-file collectors' handleData / handleStringData, and the
// value helpers they share.
#pragma once

#include "platform/com/Guid.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

enum IsAcxCollectResult : int {
    ACX_TAKEN = 0,
    ACX_NOT_HANDLED = 9,
    ACX_WRONG_TYPE = 10,
    ACX_SYNTAX = 11,
};

namespace zeb {

// The 8 value bytes the reader passes, as a number.
inline uint64_t acxValue(const void* value) {
    uint64_t v = 0;
    std::memcpy(&v, value, sizeof v);
    return v;
}

// A type or ES GUID as PD-files write it: exactly 32 hexadecimal digits,
// read as the registry form made of them, {8-4-4-4-12}. False for any other
// text (and `out` is then unchanged).
//
// Eight digits at a time in one 64-bit word: every GUID of a PD-file goes
// through here, and type GUIDs are random digits, which defeat the branch
// prediction of a per-character test. A byte is a digit when it lies in
// '0'..'9', or, with the case bit set, in 'a'..'f'; adding 0x80 - low sets
// bit 7 of a byte at or above `low`, adding 0x7F - high sets it above `high`,
// and no byte carries into the next as long as bit 7 is clear in the input.
inline bool acxGuidFromDigits(std::string_view digits, GUID& out) {
    if (digits.size() != 32) return false;
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    constexpr uint64_t kLowNibbles = 0x000F000F000F000Full;
    uint32_t word[4]; // the 16 bytes, four to a word, first byte lowest
    uint64_t bad = 0;
    for (size_t k = 0; k < 4; ++k) {
        uint64_t x;
        std::memcpy(&x, digits.data() + 8 * k, 8);
        if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
        const uint64_t folded = x | 0x20 * kOnes;
        const uint64_t digit = (x + (0x80 - '0') * kOnes) & ~(x + (0x7F - '9') * kOnes);
        const uint64_t letter =
            (folded + (0x80 - 'a') * kOnes) & ~(folded + (0x7F - 'f') * kOnes);
        bad |= x | ~(digit | letter);
        // Letters have bit 6 set: their value is the low nibble plus 9.
        const uint64_t nibble = (x & 0x0F * kOnes) + ((x >> 6) & kOnes) * 9;
        // The first digit of a pair is its high nibble; each byte lands in
        // the low half of a 16-bit lane, and the lanes are then packed.
        uint64_t bytes = (nibble & kLowNibbles) << 4 | ((nibble >> 8) & kLowNibbles);
        bytes = (bytes | bytes >> 8) & 0x0000FFFF0000FFFFull;
        word[k] = uint32_t(bytes | bytes >> 16);
    }
    if (bad & kHigh) return false;
    // Data1 to Data3 read their digits as big-endian numbers, Data4 as bytes.
    GUID g;
    g.Data1 = __builtin_bswap32(word[0]);
    g.Data2 = __builtin_bswap16(uint16_t(word[1]));
    g.Data3 = __builtin_bswap16(uint16_t(word[1] >> 16));
    for (size_t i = 0; i < 4; ++i) {
        g.Data4[i] = uint8_t(word[2] >> (8 * i));
        g.Data4[4 + i] = uint8_t(word[3] >> (8 * i));
    }
    out = g;
    return true;
}

} // namespace zeb
