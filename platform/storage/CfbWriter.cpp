#include "platform/storage/CfbWriter.h"

#include "platform/storage/CfbFormat.h"

#include <cassert>
#include <cstring>
#include <new>

namespace zeb {

namespace {

using namespace cfb;

// New files are version 3: 512-byte sectors, 128 FAT entries to a sector.
constexpr uint32_t kSectorSize = kSectorSize3;
constexpr uint32_t kPerSector = kSectorSize / 4;
// The most sectors laid out; keeps every sector number clear of the
// special values at the top of the range.
constexpr uint64_t kMaxSectors = 0xFFFFFFF0ull;

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
            if (e.size < kMiniStreamCutoff) {
                e.start = static_cast<uint32_t>(miniSectors);
                miniSectors += ceilDiv(e.size, kMiniSectorSize);
            } else {
                bigSectors += ceilDiv(e.size, kSectorSize);
            }
        }
        uint64_t dirSectors = ceilDiv(entries.size() * kDirEntrySize, kSectorSize);
        uint64_t miniFatSectors = ceilDiv(miniSectors * 4, kSectorSize);
        uint64_t miniStreamSectors = ceilDiv(miniSectors * kMiniSectorSize, kSectorSize);
        uint64_t content = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;
        if (content > kMaxSectors) return STG_E_DOCFILETOOLARGE;

        // 3. FAT and DIFAT sizes: the FAT must also map its own and the
        //    DIFAT's sectors.
        uint64_t fat = 1, difat = 0;
        for (;;) {
            difat =
                fat > kHeaderDifatEntries ? ceilDiv(fat - kHeaderDifatEntries, kPerSector - 1) : 0;
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
            store32(sector(fatStart + s / kPerSector) + 4 * (s % kPerSector), v);
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
        std::memcpy(base + kHeaderSignature, kSignature, sizeof kSignature);
        store16(base + kHeaderMinorVersion, kMinorVersion);
        store16(base + kHeaderMajorVersion, kMajorVersion3);
        store16(base + kHeaderByteOrder, kByteOrderMark);
        store16(base + kHeaderSectorShift, kSectorShift3);
        store16(base + kHeaderMiniSectorShift, kMiniSectorShift);
        store32(base + kHeaderFatSectorCount, static_cast<uint32_t>(fat));
        store32(base + kHeaderFirstDirSector, dirStart);
        store32(base + kHeaderMiniCutoff, kMiniStreamCutoff);
        store32(base + kHeaderFirstMiniFatSector, miniFatSectors ? miniFatStart : kEndOfChain);
        store32(base + kHeaderMiniFatSectorCount, static_cast<uint32_t>(miniFatSectors));
        store32(base + kHeaderFirstDifatSector, difat ? difatStart : kEndOfChain);
        store32(base + kHeaderDifatSectorCount, static_cast<uint32_t>(difat));
        for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
            store32(base + kHeaderDifat + 4 * i, i < fat ? fatStart + i : kFreeSect);
        for (uint64_t d = 0; d < difat; ++d) {
            BYTE* p = sector(difatStart + d);
            for (uint32_t k = 0; k < kPerSector - 1; ++k) {
                uint64_t f = kHeaderDifatEntries + d * (kPerSector - 1) + k;
                store32(p + 4 * k, f < fat ? static_cast<uint32_t>(fatStart + f) : kFreeSect);
            }
            store32(p + 4 * (kPerSector - 1),
                    d + 1 < difat ? static_cast<uint32_t>(difatStart + d + 1) : kEndOfChain);
        }

        // Stream contents, mini FAT and mini stream.
        BYTE* miniStream = sector(miniStreamStart);
        BYTE* miniFat = sector(miniFatStart);
        for (uint64_t k = 0; k < miniFatSectors * kPerSector; ++k)
            store32(miniFat + 4 * k, kFreeSect);
        for (Entry& e : entries) {
            if (e.node->type != STGTY_STREAM || e.size == 0) continue;
            const BYTE* data = e.node->bytes();
            if (e.size < kMiniStreamCutoff) {
                uint64_t n = ceilDiv(e.size, kMiniSectorSize);
                std::memcpy(miniStream + static_cast<size_t>(e.start) * kMiniSectorSize, data,
                            e.size);
                for (uint64_t k = 0; k < n; ++k)
                    store32(miniFat + 4 * (e.start + k),
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
        for (size_t i = 0; i < dirSectors * (kSectorSize / kDirEntrySize); ++i) {
            BYTE* p = dir + i * kDirEntrySize;
            if (i >= entries.size()) {
                store32(p + kEntryLeft, kNoStream);
                store32(p + kEntryRight, kNoStream);
                store32(p + kEntryChild, kNoStream);
                continue;
            }
            const Entry& e = entries[i];
            const CfbNode& n = *e.node;
            std::u16string name = i == 0 ? std::u16string(u"Root Entry") : n.name;
            assert(name.size() <= 31);
            for (size_t k = 0; k < name.size(); ++k)
                store16(p + kEntryName + 2 * k, name[k]);
            store16(p + kEntryNameLength, static_cast<uint16_t>((name.size() + 1) * 2));
            p[kEntryType] =
                i == 0 ? kTypeRoot : (n.type == STGTY_STREAM ? kTypeStream : kTypeStorage);
            p[kEntryColour] = e.black ? kColourBlack : kColourRed;
            store32(p + kEntryLeft, e.left);
            store32(p + kEntryRight, e.right);
            store32(p + kEntryChild, e.child);
            if (n.type == STGTY_STORAGE) {
                store32(p + kEntryClsid, n.clsid.Data1);
                store16(p + kEntryClsid + 4, n.clsid.Data2);
                store16(p + kEntryClsid + 6, n.clsid.Data3);
                std::memcpy(p + kEntryClsid + 8, n.clsid.Data4, 8);
                store32(p + kEntryStateBits, n.stateBits);
                store32(p + kEntryCreated, n.ctime.dwLowDateTime);
                store32(p + kEntryCreated + 4, n.ctime.dwHighDateTime);
                store32(p + kEntryModified, n.mtime.dwLowDateTime);
                store32(p + kEntryModified + 4, n.mtime.dwHighDateTime);
            }
            if (i == 0) {
                store32(p + kEntryStart, miniStreamSectors ? miniStreamStart : kEndOfChain);
                store32(p + kEntryStreamSize, static_cast<uint32_t>(miniSectors * kMiniSectorSize));
            } else if (n.type == STGTY_STREAM) {
                store32(p + kEntryStart, e.size ? e.start : kEndOfChain);
                store32(p + kEntryStreamSize, static_cast<uint32_t>(e.size));
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
