// The exact bytes the compound-file writer lays down for a small tree:
// header fields, FAT, mini FAT, mini stream, directory entries and stream
// sectors, each at the offset other readers look for it.
#include "platform/storage/CfbWriter.h"
#include "platform/storage/CfbReader.h"

#include <gtest/gtest.h>

#include <string>

using namespace zeb;

namespace {

// n bytes of the image from off as lower-case hex, no separators.
std::string hex(const std::vector<BYTE>& img, size_t off, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = off; i < off + n && i < img.size(); ++i) {
        out += digits[img[i] >> 4];
        out += digits[img[i] & 15];
    }
    return out;
}

bool allBytesAre(const std::vector<BYTE>& img, size_t from, size_t to, BYTE v) {
    for (size_t i = from; i < to; ++i)
        if (img[i] != v) return false;
    return true;
}

std::shared_ptr<CfbNode> add(CfbNode& parent, const std::u16string& name, DWORD type,
                             std::vector<BYTE> data = {}) {
    auto n = std::make_shared<CfbNode>();
    n->type = type;
    n->name = name;
    n->data = std::move(data);
    n->parent = &parent;
    parent.children.emplace(name, n);
    return n;
}

// Root (with a class id) holding "Big" (5000 bytes), "Sub" (a storage with
// class id, state bits and times, holding the 10-byte stream "in") and
// "tiny" (100 bytes). Directory order: Big, Sub, tiny (shorter names first).
class CfbWriterLayout : public ::testing::Test {
protected:
    void SetUp() override {
        root.clsid = CLSID{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
        add(root, u"Big", STGTY_STREAM, std::vector<BYTE>(5000, 'B'));
        auto sub = add(root, u"Sub", STGTY_STORAGE);
        sub->clsid =
            CLSID{0xA1A2A3A4, 0xB1B2, 0xC1C2, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}};
        sub->stateBits = 0x00C0FFEE;
        sub->ctime = FILETIME{0x11111111, 0x01D00000};
        sub->mtime = FILETIME{0x22222222, 0x01D10000};
        add(*sub, u"in", STGTY_STREAM, std::vector<BYTE>(10, 'i'));
        add(root, u"tiny", STGTY_STREAM, std::vector<BYTE>(100, 't'));
        ASSERT_EQ(CfbWriter::write(root, img), S_OK);
    }
    static size_t sector(uint32_t s) { return (s + 1) * 512; }
    // Bytes 0x40..0x80 of directory entry id (the directory starts at sector 1).
    std::string entryTail(uint32_t id) const { return hex(img, sector(1) + id * 128 + 0x40, 64); }
    std::string entryName(uint32_t id) const { return hex(img, sector(1) + id * 128, 64); }

    CfbNode root;
    std::vector<BYTE> img;
};

TEST_F(CfbWriterLayout, HeaderFieldsSitAtTheirFixedOffsets) {
    // Sectors: 0 FAT, 1-2 directory, 3 mini FAT, 4 mini stream, 5-14 "Big".
    ASSERT_EQ(img.size(), 16u * 512);
    EXPECT_EQ(hex(img, 0, 0x50),
              "d0cf11e0a1b11ae1"                    // signature
              "00000000000000000000000000000000"    // class id
              "3e00"                                // minor version
              "0300"                                // major version 3
              "feff"                                // byte order
              "0900"                                // 512-byte sectors
              "0600"                                // 64-byte mini sectors
              "000000000000"                        // reserved
              "00000000"                            // directory sectors (version 3: 0)
              "01000000"                            // FAT sectors
              "01000000"                            // first directory sector
              "00000000"                            // transaction signature
              "00100000"                            // mini stream cutoff 4096
              "03000000"                            // first mini FAT sector
              "01000000"                            // mini FAT sectors
              "feffffff"                            // first DIFAT sector: none
              "00000000"                            // DIFAT sectors
              "00000000");                          // DIFAT[0]: the FAT is sector 0
    EXPECT_TRUE(allBytesAre(img, 0x50, 512, 0xFF)); // DIFAT[1..108] free
}

TEST_F(CfbWriterLayout, FatAndMiniFatChainEachRegion) {
    EXPECT_EQ(hex(img, sector(0), 16 * 4),
              "fdffffff"                                 // 0: FAT sector
              "02000000feffffff"                         // 1-2: directory
              "feffffff"                                 // 3: mini FAT
              "feffffff"                                 // 4: mini stream
              "06000000070000000800000009000000"         // 5-8: "Big" ...
              "0a0000000b0000000c0000000d0000000e000000" // 9-13
              "feffffff"                                 // 14: end of "Big"
              "ffffffff");                               // 15: free
    EXPECT_TRUE(allBytesAre(img, sector(0) + 16 * 4, sector(1), 0xFF));
    // "tiny" takes mini sectors 0-1, "in" mini sector 2.
    EXPECT_EQ(hex(img, sector(3), 16), "01000000"
                                       "feffffff"
                                       "feffffff"
                                       "ffffffff");
    EXPECT_TRUE(allBytesAre(img, sector(3) + 16, sector(4), 0xFF));
}

TEST_F(CfbWriterLayout, StreamBytesLieInTheMiniStreamOrTheirOwnSectors) {
    EXPECT_TRUE(allBytesAre(img, sector(4), sector(4) + 100, 't'));
    EXPECT_TRUE(allBytesAre(img, sector(4) + 100, sector(4) + 128, 0));
    EXPECT_TRUE(allBytesAre(img, sector(4) + 128, sector(4) + 138, 'i'));
    EXPECT_TRUE(allBytesAre(img, sector(4) + 138, sector(5), 0));
    EXPECT_TRUE(allBytesAre(img, sector(5), sector(5) + 5000, 'B'));
    EXPECT_TRUE(allBytesAre(img, sector(5) + 5000, img.size(), 0));
}

TEST_F(CfbWriterLayout, DirectoryEntriesCarryNamesLinksAndStorageMetadata) {
    // Root Entry: child 2 ("Sub", the middle of three), class id, the mini
    // stream at sector 4 with 3 mini sectors (192 bytes).
    EXPECT_EQ(entryName(0).substr(0, 44), "52006f006f007400200045006e007400720079000000");
    EXPECT_EQ(entryTail(0), "1600"
                            "05"
                            "01"
                            "ffffffff"
                            "ffffffff"
                            "02000000"
                            "0403020106050807090a0b0c0d0e0f10"
                            "00000000"
                            "0000000000000000"
                            "0000000000000000"
                            "04000000"
                            "c000000000000000");
    // "Big": a black leaf, no class id or times for a stream, sector 5.
    EXPECT_EQ(entryName(1).substr(0, 16), "4200690067000000");
    EXPECT_EQ(entryTail(1), "0800"
                            "02"
                            "01"
                            "ffffffff"
                            "ffffffff"
                            "ffffffff"
                            "00000000000000000000000000000000"
                            "00000000"
                            "0000000000000000"
                            "0000000000000000"
                            "05000000"
                            "8813000000000000");
    // "Sub": root of the siblings (Big left, tiny right), child 4 ("in").
    EXPECT_EQ(entryName(2).substr(0, 16), "5300750062000000");
    EXPECT_EQ(entryTail(2), "0800"
                            "01"
                            "01"
                            "01000000"
                            "03000000"
                            "04000000"
                            "a4a3a2a1b2b1c2c1d1d2d3d4d5d6d7d8"
                            "eeffc000"
                            "111111110000d001"
                            "222222220000d101"
                            "00000000"
                            "0000000000000000");
    // "tiny": mini sector 0, 100 bytes; "in": mini sector 2, 10 bytes.
    EXPECT_EQ(entryTail(3), "0a00"
                            "02"
                            "01"
                            "ffffffffffffffffffffffff"
                            "00000000000000000000000000000000"
                            "00000000"
                            "00000000000000000000000000000000"
                            "00000000"
                            "6400000000000000");
    EXPECT_EQ(entryName(4).substr(0, 12), "69006e000000");
    EXPECT_EQ(entryTail(4).substr(0, 8), "06000201");
    EXPECT_EQ(entryTail(4).substr(104), "020000000a00000000000000");
    // Unused slots of the last directory sector link nowhere.
    for (uint32_t id = 5; id < 8; ++id)
        EXPECT_EQ(entryTail(id), "0000"
                                 "00"
                                 "00"
                                 "ffffffffffffffffffffffff"
                                 "0000000000000000000000000000000000000000000000000000000000000000"
                                 "00000000000000000000000000000000")
            << id;
}

TEST_F(CfbWriterLayout, TheImageReadsBackAsTheSameTree) {
    std::shared_ptr<CfbNode> back;
    ASSERT_EQ(CfbReader::read(img.data(), img.size(), back), S_OK);
    EXPECT_EQ(back->clsid.Data1, 0x01020304u);
    const CfbNode& sub = *back->children.at(u"Sub");
    EXPECT_EQ(sub.stateBits, 0x00C0FFEEu);
    EXPECT_EQ(sub.mtime.dwLowDateTime, 0x22222222u);
    EXPECT_EQ(sub.children.at(u"in")->data, std::vector<BYTE>(10, 'i'));
    EXPECT_EQ(back->children.at(u"tiny")->data, std::vector<BYTE>(100, 't'));
    EXPECT_EQ(back->children.at(u"Big")->size(), 5000u);
}

} // namespace
