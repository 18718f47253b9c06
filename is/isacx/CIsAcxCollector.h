// Results of the PD-file collectors' handleData / handleStringData, and the
// value helpers they share.
#pragma once

#include "platform/com/Guid.h"

#include <array>
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
inline bool acxGuidFromDigits(std::string_view digits, GUID& out) {
    if (digits.size() != 32) return false;
    // Table lookup without branches per digit: type GUIDs are random digits,
    // which defeat branch prediction.
    static constexpr auto kValue = [] {
        std::array<uint8_t, 256> t{};
        t.fill(0xFF);
        for (int c = 0; c < 10; ++c)
            t[size_t('0' + c)] = uint8_t(c);
        for (int c = 0; c < 6; ++c)
            t[size_t('A' + c)] = t[size_t('a' + c)] = uint8_t(10 + c);
        return t;
    }();
    uint8_t nibble[32];
    uint8_t bad = 0;
    for (size_t i = 0; i < 32; ++i) {
        nibble[i] = kValue[static_cast<unsigned char>(digits[i])];
        bad |= nibble[i];
    }
    if (bad & 0xF0) return false;
    uint8_t b[16];
    for (size_t i = 0; i < 16; ++i)
        b[i] = uint8_t(nibble[2 * i] << 4 | nibble[2 * i + 1]);
    GUID g{uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3],
           uint16_t(b[4] << 8 | b[5]),
           uint16_t(b[6] << 8 | b[7]),
           {}};
    for (size_t i = 0; i < 8; ++i)
        g.Data4[i] = b[8 + i];
    out = g;
    return true;
}

} // namespace zeb
