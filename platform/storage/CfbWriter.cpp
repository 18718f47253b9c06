#include "platform/storage/CfbWriter.h"

#include <cassert>
#include <cstring>
#include <new>

namespace zeb {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kPerSector = kSectorSize / 4;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kMiniCutoff = 4096;
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint64_t kMaxSectors = 0xFFFFFFF0ull;

void put16(BYTE* p, uint16_t v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
void put32(BYTE* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

struct Entry {
    const CfbNode* node;
    uint32_t left = kNoStream;
    uint32_t right = kNoStream;
    uint32_t child = kNoStream;
    bool black = true;
    uint32_t start = kEndOfChain;
    uint64_t size = 0;
};

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

// Links entries[first+lo .. first+hi) as a balanced tree; returns its root id.
uint32_t link(std::vector<Entry>& entries, uint32_t first, uint32_t lo, uint32_t hi, uint32_t depth,
              uint32_t redDepth) {
    if (lo >= hi) return kNoStream;
    uint32_t mid = lo + (hi - lo) / 2;
    uint32_t id = first + mid;
    entries[id].black = depth != redDepth;
    entries[id].left = link(entries, first, lo, mid, depth + 1, redDepth);
    entries[id].right = link(entries, first, mid + 1, hi, depth + 1, redDepth);
    return id;
}

} // namespace

HRESULT CfbWriter::write(const CfbNode& root, std::vector<BYTE>& image) noexcept {
    try {
        // 1. Directory entries, storage by storage (breadth first), each
        //    storage's children contiguous in directory order.
        std::vector<Entry> entries;
        entries.push_back(Entry{&root});
        for (size_t i = 0; i < entries.size(); ++i) {
            const CfbNode* n = entries[i].node;
            if (n->type != STGTY_STORAGE || n->children.empty()) continue;
            uint32_t first = static_cast<uint32_t>(entries.size());
            uint32_t count = static_cast<uint32_t>(n->children.size());
            for (const auto& [key, child] : n->children)
                entries.push_back(Entry{child.get()});
            // Depth of the bottom level; it is red unless the tree is perfect.
            uint32_t bottom = 0;
            while ((2u << bottom) - 1 < count)
                ++bottom;
            bool perfect = ((count + 1) & count) == 0;
            uint32_t redDepth = (perfect || bottom == 0) ? UINT32_MAX : bottom;
            entries[i].child = link(entries, first, 0, count, 0, redDepth);
        }
        if (entries.size() >= kNoStream / 2) return STG_E_DOCFILETOOLARGE;

        // 2. Streams: small ones go to the mini stream.
        uint64_t miniSectors = 0, bigSectors = 0;
        for (Entry& e : entries) {
            if (e.node->type != STGTY_STREAM) continue;
            e.size = e.node->size();
            if (e.size == 0) continue;
            if (e.size < kMiniCutoff) {
                e.start = static_cast<uint32_t>(miniSectors);
                miniSectors += ceilDiv(e.size, kMiniSectorSize);
            } else {
                bigSectors += ceilDiv(e.size, kSectorSize);
            }
        }
        uint64_t dirSectors = ceilDiv(entries.size() * kEntrySize, kSectorSize);
        uint64_t miniFatSectors = ceilDiv(miniSectors * 4, kSectorSize);
        uint64_t miniStreamSectors = ceilDiv(miniSectors * kMiniSectorSize, kSectorSize);
        uint64_t content = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;
        if (content > kMaxSectors) return STG_E_DOCFILETOOLARGE;

        // 3. FAT and DIFAT sizes: the FAT must also map its own and the
        //    DIFAT's sectors.
        uint64_t fat = 1, difat = 0;
        for (;;) {
            difat = fat > 109 ? ceilDiv(fat - 109, kPerSector - 1) : 0;
            uint64_t need = ceilDiv(content + fat + difat, kPerSector);
            if (need <= fat) break;
            fat = need;
        }
        uint64_t total = fat + difat + content;
        if (total > kMaxSectors) return STG_E_DOCFILETOOLARGE;

        uint32_t fatStart = 0;
        uint32_t difatStart = static_cast<uint32_t>(fat);
        uint32_t dirStart = static_cast<uint32_t>(fat + difat);
        uint32_t miniFatStart = static_cast<uint32_t>(dirStart + dirSectors);
        uint32_t miniStreamStart = static_cast<uint32_t>(miniFatStart + miniFatSectors);
        uint32_t next = static_cast<uint32_t>(miniStreamStart + miniStreamSectors);

        image.assign(static_cast<size_t>((total + 1) * kSectorSize), 0);
        BYTE* base = image.data();
        auto sector = [&](uint64_t s) { return base + (s + 1) * kSectorSize; };

        // FAT entries.
        auto setFat = [&](uint64_t s, uint32_t v) {
            put32(sector(fatStart + s / kPerSector) + 4 * (s % kPerSector), v);
        };
        for (uint64_t s = 0; s < fat * kPerSector; ++s)
            setFat(s, kFreeSect);
        for (uint64_t s = 0; s < fat; ++s)
            setFat(fatStart + s, kFatSect);
        for (uint64_t s = 0; s < difat; ++s)
            setFat(difatStart + s, kDifSect);
        auto chain = [&](uint32_t start, uint64_t count) {
            for (uint64_t k = 0; k < count; ++k)
                setFat(start + k,
                       k + 1 < count ? static_cast<uint32_t>(start + k + 1) : kEndOfChain);
        };
        chain(dirStart, dirSectors);
        chain(miniFatStart, miniFatSectors);
        chain(miniStreamStart, miniStreamSectors);

        // Header.
        static constexpr BYTE sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(base, sig, 8);
        put16(base + 0x18, 0x003E);
        put16(base + 0x1A, 3);
        put16(base + 0x1C, 0xFFFE);
        put16(base + 0x1E, 9);
        put16(base + 0x20, 6);
        put32(base + 0x2C, static_cast<uint32_t>(fat));
        put32(base + 0x30, dirStart);
        put32(base + 0x38, kMiniCutoff);
        put32(base + 0x3C, miniFatSectors ? miniFatStart : kEndOfChain);
        put32(base + 0x40, static_cast<uint32_t>(miniFatSectors));
        put32(base + 0x44, difat ? difatStart : kEndOfChain);
        put32(base + 0x48, static_cast<uint32_t>(difat));
        for (uint32_t i = 0; i < 109; ++i)
            put32(base + 0x4C + 4 * i, i < fat ? fatStart + i : kFreeSect);
        for (uint64_t d = 0; d < difat; ++d) {
            BYTE* p = sector(difatStart + d);
            for (uint32_t k = 0; k < kPerSector - 1; ++k) {
                uint64_t f = 109 + d * (kPerSector - 1) + k;
                put32(p + 4 * k, f < fat ? static_cast<uint32_t>(fatStart + f) : kFreeSect);
            }
            put32(p + 4 * (kPerSector - 1),
                  d + 1 < difat ? static_cast<uint32_t>(difatStart + d + 1) : kEndOfChain);
        }

        // Stream contents, mini FAT and mini stream.
        BYTE* miniStream = sector(miniStreamStart);
        BYTE* miniFat = sector(miniFatStart);
        for (uint64_t k = 0; k < miniFatSectors * kPerSector; ++k)
            put32(miniFat + 4 * k, kFreeSect);
        for (Entry& e : entries) {
            if (e.node->type != STGTY_STREAM || e.size == 0) continue;
            const BYTE* data = e.node->bytes();
            if (e.size < kMiniCutoff) {
                uint64_t n = ceilDiv(e.size, kMiniSectorSize);
                std::memcpy(miniStream + static_cast<size_t>(e.start) * kMiniSectorSize, data,
                            e.size);
                for (uint64_t k = 0; k < n; ++k)
                    put32(miniFat + 4 * (e.start + k),
                          k + 1 < n ? static_cast<uint32_t>(e.start + k + 1) : kEndOfChain);
            } else {
                uint64_t n = ceilDiv(e.size, kSectorSize);
                e.start = next;
                std::memcpy(sector(next), data, e.size);
                chain(next, n);
                next = static_cast<uint32_t>(next + n);
            }
        }
        assert(next == total);

        // Directory.
        BYTE* dir = sector(dirStart);
        for (size_t i = 0; i < dirSectors * (kSectorSize / kEntrySize); ++i) {
            BYTE* p = dir + i * kEntrySize;
            if (i >= entries.size()) {
                put32(p + 0x44, kNoStream);
                put32(p + 0x48, kNoStream);
                put32(p + 0x4C, kNoStream);
                continue;
            }
            const Entry& e = entries[i];
            const CfbNode& n = *e.node;
            std::u16string name = i == 0 ? std::u16string(u"Root Entry") : n.name;
            assert(name.size() <= 31);
            for (size_t k = 0; k < name.size(); ++k)
                put16(p + 2 * k, name[k]);
            put16(p + 0x40, static_cast<uint16_t>((name.size() + 1) * 2));
            p[0x42] = i == 0 ? 5 : (n.type == STGTY_STREAM ? 2 : 1);
            p[0x43] = e.black ? 1 : 0;
            put32(p + 0x44, e.left);
            put32(p + 0x48, e.right);
            put32(p + 0x4C, e.child);
            if (n.type == STGTY_STORAGE) {
                put32(p + 0x50, n.clsid.Data1);
                put16(p + 0x54, n.clsid.Data2);
                put16(p + 0x56, n.clsid.Data3);
                std::memcpy(p + 0x58, n.clsid.Data4, 8);
                put32(p + 0x60, n.stateBits);
                put32(p + 0x64, n.ctime.dwLowDateTime);
                put32(p + 0x68, n.ctime.dwHighDateTime);
                put32(p + 0x6C, n.mtime.dwLowDateTime);
                put32(p + 0x70, n.mtime.dwHighDateTime);
            }
            if (i == 0) {
                put32(p + 0x74, miniStreamSectors ? miniStreamStart : kEndOfChain);
                put32(p + 0x78, static_cast<uint32_t>(miniSectors * kMiniSectorSize));
            } else if (n.type == STGTY_STREAM) {
                put32(p + 0x74, e.size ? e.start : kEndOfChain);
                put32(p + 0x78, static_cast<uint32_t>(e.size));
            }
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        image.clear();
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        image.clear();
        return STG_E_INSUFFICIENTMEMORY;
    }
}

} // namespace zeb
