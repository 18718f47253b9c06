#include "is/isacx/CIsAcxCollector.h"
#include "h/TypeIdent.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One character at a time, as plainly as it can be said.
bool referenceGuid(const std::string& digits, GUID& out) {
    if (digits.size() != 32) return false;
    uint8_t b[16];
    for (size_t i = 0; i < 32; ++i) {
        const char c = digits[i];
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) return false;
        b[i / 2] = uint8_t(i % 2 ? (b[i / 2] | v) : v << 4);
    }
    out.Data1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    out.Data2 = uint16_t(b[4] << 8 | b[5]);
    out.Data3 = uint16_t(b[6] << 8 | b[7]);
    std::memcpy(out.Data4, b + 8, 8);
    return true;
}

} // namespace

TEST(AcxGuidFromDigits, ReadsTheRegistryFormOfTheDigits) {
    GUID g{};
    ASSERT_TRUE(zeb::acxGuidFromDigits("0123456789abcdefFEDCBA9876543210", g));
    EXPECT_EQ(zeb::guidToString(g), "{01234567-89AB-CDEF-FEDC-BA9876543210}");
}

TEST(AcxGuidFromDigits, EveryByteInEveryPlaceIsJudgedLikeTheReference) {
    // Each of the 256 byte values at each of the 32 places, in a text of
    // otherwise valid digits: bytes next to the digit ranges ('/', ':', '@',
    // 'G', '`', 'g') and bytes with bit 7 set are where a word-wise test
    // can go wrong.
    const std::string base = "0123456789ABCDEFabcdef0123456789";
    const GUID untouched = GUID_NOTYPE;
    for (size_t place = 0; place < 32; ++place) {
        for (int byte = 0; byte < 256; ++byte) {
            std::string text = base;
            text[place] = char(byte);
            GUID expected = untouched, got = untouched;
            const bool valid = referenceGuid(text, expected);
            ASSERT_EQ(zeb::acxGuidFromDigits(text, got), valid) << place << " " << byte;
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << place << " " << byte;
        }
    }
}

TEST(AcxGuidFromDigits, OtherLengthsAreRefusedAndLeaveTheGuidUnchanged) {
    for (const char* text : {"", "0123456789", "0123456789ABCDEF0123456789ABCDEF0",
                             "{01234567-89AB-CDEF-FEDC-BA9876543210}"}) {
        GUID g = GUID_NOTYPE;
        EXPECT_FALSE(zeb::acxGuidFromDigits(text, g)) << text;
        EXPECT_EQ(std::memcmp(&g, &GUID_NOTYPE, sizeof g), 0);
    }
}
