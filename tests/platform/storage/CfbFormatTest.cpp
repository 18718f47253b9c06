// The compound-file format itself: the directory is a valid red-black tree,
// and malformed images are refused with a code, never trusted.
#include "platform/storage/CfbReader.h"
#include "platform/storage/CfbWriter.h"
#include "platform/win/TextConvert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace zeb;

namespace {

uint32_t get32(const std::vector<BYTE>& b, size_t off) {
    uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
void put32(std::vector<BYTE>& b, size_t off, uint32_t v) {
    std::memcpy(b.data() + off, &v, 4);
}

std::shared_ptr<CfbNode> tree(int streams, size_t bytes) {
    auto root = std::make_shared<CfbNode>();
    for (int i = 0; i < streams; ++i) {
        auto n = std::make_shared<CfbNode>();
        n->type = STGTY_STREAM;
        n->name = toWide("s" + std::to_string(i));
        std::u16string(static_cast<size_t>(i / 26), u'x');
        n->data.assign(bytes, static_cast<BYTE>(i));
        n->parent = root.get();
        root->children.emplace(n->name, n);
    }
    return root;
}

std::vector<BYTE> image(const CfbNode& root) {
    std::vector<BYTE> out;
    EXPECT_EQ(CfbWriter::write(root, out), S_OK);
    return out;
}

// Directory of an image written by CfbWriter (FAT at sector 0, the
// directory chain contiguous from the header's first directory sector).
struct Dir {
    const std::vector<BYTE>& img;
    size_t at(uint32_t id) const {
        return (get32(img, 0x30) + 1) * 512 + static_cast<size_t>(id) * 128;
    }
    std::u16string name(uint32_t id) const {
        size_t o = at(id);
        uint16_t len;
        std::memcpy(&len, img.data() + o + 0x40, 2);
        std::u16string s(len / 2 - 1, u'\0');
        std::memcpy(s.data(), img.data() + o, s.size() * 2);
        return s;
    }
    bool black(uint32_t id) const { return img[at(id) + 0x43] == 1; }
    uint32_t left(uint32_t id) const { return get32(img, at(id) + 0x44); }
    uint32_t right(uint32_t id) const { return get32(img, at(id) + 0x48); }
    uint32_t child(uint32_t id) const { return get32(img, at(id) + 0x4C); }

    // Black height of the subtree, or -1 when a red-black rule or the
    // order is broken; counts the nodes into *count.
    int check(uint32_t id, bool parentRed, const std::u16string* lo, const std::u16string* hi,
              int& count) const {
        if (id == 0xFFFFFFFF) return 1;
        ++count;
        std::u16string n = name(id);
        if ((lo && !CfbNameLess{}(*lo, n)) || (hi && !CfbNameLess{}(n, *hi))) return -1;
        if (parentRed && !black(id)) return -1;
        int l = check(left(id), !black(id), lo, &n, count);
        int r = check(right(id), !black(id), &n, hi, count);
        if (l < 0 || r < 0 || l != r) return -1;
        return l + (black(id) ? 1 : 0);
    }
};

TEST(CfbDirectory, EverySiblingTreeIsAValidBalancedRedBlackTree) {
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 100, 2000}) {
        auto img = image(*tree(n, 1));
        Dir dir{img};
        uint32_t top = dir.child(0);
        ASSERT_TRUE(dir.black(top)) << n;
        int count = 0;
        int height = dir.check(top, false, nullptr, nullptr, count);
        EXPECT_GT(height, 0) << n;
        EXPECT_EQ(count, n);
        // Balanced: no deeper than twice the black height.
        EXPECT_LE(height, 2 + 2 * 11);
    }
}

TEST(CfbDirectory, LargeTreesNeedExtraDifatSectorsAndReadBack) {
    // 100 streams of 80,000 bytes: ~15,700 sectors, 123 FAT sectors, more
    // than the header's 109 FAT sector slots.
    auto root = tree(100, 80000);
    auto img = image(*root);
    EXPECT_GT(get32(img, 0x48), 0u);
    std::shared_ptr<CfbNode> back;
    ASSERT_EQ(CfbReader::read(img.data(), img.size(), back), S_OK);
    ASSERT_EQ(back->children.size(), 100u);
    const CfbNode& first = *back->children.begin()->second;
    EXPECT_EQ(std::vector<BYTE>(first.bytes(), first.bytes() + first.size()),
              root->children.begin()->second->data);
}

class CfbCorrupt : public ::testing::Test {
protected:
    void SetUp() override {
        // A 5000-byte stream (regular sectors) and a 100-byte one (mini stream).
        auto root = tree(2, 0);
        auto it = root->children.begin();
        it->second->data.assign(5000, 1);
        (++it)->second->data.assign(100, 2);
        img = image(*root);
        std::shared_ptr<CfbNode> back;
        ASSERT_EQ(CfbReader::read(img.data(), img.size(), back), S_OK);
    }
    HRESULT read() {
        std::shared_ptr<CfbNode> back;
        return CfbReader::read(img.data(), img.size(), back);
    }
    size_t entry(uint32_t id) const {
        return (get32(img, 0x30) + 1) * 512 + static_cast<size_t>(id) * 128;
    }
    uint32_t bigStream() const { return get32(img, entry(1) + 0x78) >= 4096 ? 1 : 2; }
    std::vector<BYTE> img;
};

TEST_F(CfbCorrupt, ChainsThatLoopOrLeaveTheFileAreRefused) {
    uint32_t dirStart = get32(img, 0x30);
    put32(img, 512 + 4 * dirStart, dirStart); // the directory chain points at itself
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, entry(bigStream()) + 0x74, 0x00FFFFF0); // starts far past the end
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    uint32_t start = get32(img, entry(bigStream()) + 0x74);
    put32(img, 512 + 4 * (start + 3), start); // loops back in the middle
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
}

TEST_F(CfbCorrupt, SizesBeyondTheirChainsAreRefusedBeforeAllocating) {
    put32(img, entry(bigStream()) + 0x78, 0xFFFFFF00);
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, entry(bigStream()) + 0x78, 5000 + 512 * 3); // inside the file, past the chain
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, entry(3 - bigStream()) + 0x78, 4000); // past the mini stream
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, 0x2C, 0x7FFFFFFF); // FAT sector count
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
}

TEST_F(CfbCorrupt, DirectoryCyclesAndOutOfRangeEntriesAreRefused) {
    uint32_t top = get32(img, entry(0) + 0x4C);
    put32(img, entry(top) + 0x44, top); // its own left sibling
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, entry(top) + 0x48, 0); // back to the root entry
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    put32(img, entry(top) + 0x44, 4000); // no such entry
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    img[entry(top) + 0x42] = 1;         // becomes a storage
    put32(img, entry(top) + 0x4C, top); // whose child is itself
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    SetUp();
    img[entry(0) + 0x42] = 1; // the root entry is not a root
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
}

TEST_F(CfbCorrupt, BadHeadersAndTruncatedImagesAreRefused) {
    std::vector<BYTE> whole = img;
    img.resize(300);
    EXPECT_EQ(read(), STG_E_INVALIDHEADER);
    img = whole;
    img.resize(1100); // the directory sector is cut off: it reads as zeros
    EXPECT_EQ(read(), STG_E_DOCFILECORRUPT);
    img = whole;
    img[0x1E] = 10; // 1024-byte sectors in version 3
    EXPECT_EQ(read(), STG_E_INVALIDHEADER);
    img = whole;
    img[0] = 0;
    EXPECT_EQ(read(), STG_E_INVALIDHEADER);
}

} // namespace

namespace {

// A version 4 image (4096-byte sectors) laid out by hand: FAT, directory,
// mini FAT, mini stream, then a 5000-byte stream in sectors 4 and 5.
std::vector<BYTE> version4Image() {
    std::vector<BYTE> img(4096 * 7, 0);
    const BYTE sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(img.data(), sig, 8);
    auto put16 = [&](size_t off, uint16_t v) { std::memcpy(img.data() + off, &v, 2); };
    put16(0x18, 0x3E);
    put16(0x1A, 4);
    put16(0x1C, 0xFFFE);
    put16(0x1E, 12);
    put16(0x20, 6);
    put32(img, 0x28, 1); // directory sectors
    put32(img, 0x2C, 1); // FAT sectors
    put32(img, 0x30, 1); // first directory sector
    put32(img, 0x38, 4096);
    put32(img, 0x3C, 2); // first mini FAT sector
    put32(img, 0x40, 1);
    put32(img, 0x44, 0xFFFFFFFE);
    for (int i = 0; i < 109; ++i)
        put32(img, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    auto sector = [](uint32_t s) { return static_cast<size_t>(s + 1) * 4096; };
    const uint32_t fat[] = {0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, 5, 0xFFFFFFFE};
    for (uint32_t i = 0; i < 1024; ++i)
        put32(img, sector(0) + 4 * i, i < 6 ? fat[i] : 0xFFFFFFFF);
    for (uint32_t i = 0; i < 1024; ++i)
        put32(img, sector(2) + 4 * i, i == 0 ? 1 : i == 1 ? 0xFFFFFFFE : 0xFFFFFFFF);
    auto entry = [&](uint32_t id, const std::u16string& name, BYTE type, BYTE color, uint32_t right,
                     uint32_t child, uint32_t start, uint64_t size) {
        size_t e = sector(1) + id * 128;
        std::memcpy(img.data() + e, name.data(), name.size() * 2);
        put16(e + 0x40, static_cast<uint16_t>((name.size() + 1) * 2));
        img[e + 0x42] = type;
        img[e + 0x43] = color;
        put32(img, e + 0x44, 0xFFFFFFFF);
        put32(img, e + 0x48, right);
        put32(img, e + 0x4C, child);
        put32(img, e + 0x74, start);
        std::memcpy(img.data() + e + 0x78, &size, 8);
    };
    entry(0, u"Root Entry", 5, 1, 0xFFFFFFFF, 1, 3, 128);
    entry(1, u"Big", 2, 1, 2, 0xFFFFFFFF, 4, 5000);
    entry(2, u"Small", 2, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 100);
    for (uint32_t e = 3; e < 32; ++e)
        for (int k : {0x44, 0x48, 0x4C})
            put32(img, sector(1) + e * 128 + static_cast<size_t>(k), 0xFFFFFFFF);
    std::memset(img.data() + sector(3), 's', 100);
    std::memset(img.data() + sector(4), 'b', 5000);
    return img;
}

TEST(CfbVersion4, FilesWithLargeSectorsAreRead) {
    auto img = version4Image();
    std::shared_ptr<CfbNode> root;
    ASSERT_EQ(CfbReader::read(img.data(), img.size(), root), S_OK);
    ASSERT_EQ(root->children.size(), 2u);
    const CfbNode& big = *root->children.at(u"BIG");
    const CfbNode& small = *root->children.at(u"small");
    EXPECT_EQ(std::vector<BYTE>(big.bytes(), big.bytes() + big.size()),
              std::vector<BYTE>(5000, 'b'));
    EXPECT_EQ(small.data, std::vector<BYTE>(100, 's'));
    // And written back as version 3.
    auto v3 = image(*root);
    EXPECT_EQ(v3[0x1A], 3);
    std::shared_ptr<CfbNode> again;
    ASSERT_EQ(CfbReader::read(v3.data(), v3.size(), again), S_OK);
    EXPECT_EQ(again->children.at(u"Big")->size(), 5000u);
}

} // namespace
