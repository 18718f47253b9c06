#include "platform/storage/CfbWriter.h"

#include "platform/storage/CfbFormat.h"

#include <cassert>
#include <cstring>

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

// Where each region of the image goes. Sector numbers count from the
// first sector after the header; the regions follow each other in this
// order: FAT, DIFAT, directory, mini FAT, mini stream, large streams.
struct Layout {
    uint64_t miniSectors = 0; // mini sectors used by the small streams
    uint64_t fatSectors = 0;
    uint64_t difatSectors = 0;
    uint64_t dirSectors = 0;
    uint64_t miniFatSectors = 0;
    uint64_t miniStreamSectors = 0;
    uint64_t totalSectors = 0;
    uint32_t fatStart = 0;
    uint32_t difatStart = 0;
    uint32_t dirStart = 0;
    uint32_t miniFatStart = 0;
    uint32_t miniStreamStart = 0;
};

// Builds one image: first the directory entries and their sibling trees,
// then the layout (every region's and every stream's sectors), and only
// then the bytes: allocation tables, header, stream contents, directory.
// The steps may throw bad_alloc; CfbWriter::write turns that into a code.
class ImageBuilder {
public:
    explicit ImageBuilder(std::vector<BYTE>& image) : m_image(image) {}

    HRESULT build(const CfbNode& root) {
        collectEntries(root);
        if (m_entries.size() >= kNoStream / 2) return STG_E_DOCFILETOOLARGE;
        if (HRESULT hr = planLayout(); FAILED(hr)) return hr;
        m_image.assign(static_cast<size_t>((m_layout.totalSectors + 1) * kSectorSize), 0);
        writeAllocationTables();
        writeHeader();
        writeStreams();
        writeDirectory();
        return S_OK;
    }

private:
    static bool inMiniStream(const Entry& e) { return e.size > 0 && e.size < kMiniStreamCutoff; }
    static bool inOwnSectors(const Entry& e) { return e.size >= kMiniStreamCutoff; }

    BYTE* sector(uint64_t s) { return m_image.data() + (s + 1) * kSectorSize; }

    void setFat(uint64_t s, uint32_t v) {
        store32(sector(m_layout.fatStart + s / kPerSector) + 4 * (s % kPerSector), v);
    }

    // Links count consecutive sectors from start in the FAT.
    void chainFat(uint32_t start, uint64_t count) {
        for (uint64_t k = 0; k < count; ++k)
            setFat(start + k, k + 1 < count ? static_cast<uint32_t>(start + k + 1) : kEndOfChain);
    }

    // Directory entries, storage by storage (breadth first), each storage's
    // children contiguous in directory order and linked as a balanced tree.
    void collectEntries(const CfbNode& root) {
        m_entries.push_back(Entry{&root});
        for (size_t i = 0; i < m_entries.size(); ++i) {
            const CfbNode* n = m_entries[i].node;
            if (n->type != STGTY_STORAGE || n->children.empty()) continue;
            uint32_t first = static_cast<uint32_t>(m_entries.size());
            uint32_t count = static_cast<uint32_t>(n->children.size());
            for (const auto& [key, child] : n->children)
                m_entries.push_back(Entry{child.get()});
            // Depth of the bottom level; it is red unless the tree is perfect.
            uint32_t bottom = 0;
            while ((2u << bottom) - 1 < count)
                ++bottom;
            bool perfect = ((count + 1) & count) == 0;
            uint32_t redDepth = (perfect || bottom == 0) ? UINT32_MAX : bottom;
            m_entries[i].child = link(m_entries, first, 0, count, 0, redDepth);
        }
    }

    // Sizes every region and places every stream: small streams in the
    // mini stream in directory order, large ones after it, each in one run.
    HRESULT planLayout() {
        Layout& l = m_layout;
        uint64_t bigSectors = 0;
        for (Entry& e : m_entries) {
            if (e.node->type != STGTY_STREAM) continue;
            e.size = e.node->size();
            if (inMiniStream(e)) {
                e.start = static_cast<uint32_t>(l.miniSectors);
                l.miniSectors += ceilDiv(e.size, kMiniSectorSize);
            } else if (inOwnSectors(e)) {
                bigSectors += ceilDiv(e.size, kSectorSize);
            }
        }
        l.dirSectors = ceilDiv(m_entries.size() * kDirEntrySize, kSectorSize);
        l.miniFatSectors = ceilDiv(l.miniSectors * 4, kSectorSize);
        l.miniStreamSectors = ceilDiv(l.miniSectors * kMiniSectorSize, kSectorSize);
        uint64_t content = l.dirSectors + l.miniFatSectors + l.miniStreamSectors + bigSectors;
        if (content > kMaxSectors) return STG_E_DOCFILETOOLARGE;

        // The FAT must also map its own and the DIFAT's sectors.
        uint64_t fat = 1, difat = 0;
        for (;;) {
            difat =
                fat > kHeaderDifatEntries ? ceilDiv(fat - kHeaderDifatEntries, kPerSector - 1) : 0;
            uint64_t need = ceilDiv(content + fat + difat, kPerSector);
            if (need <= fat) break;
            fat = need;
        }
        l.fatSectors = fat;
        l.difatSectors = difat;
        l.totalSectors = fat + difat + content;
        if (l.totalSectors > kMaxSectors) return STG_E_DOCFILETOOLARGE;

        l.fatStart = 0;
        l.difatStart = static_cast<uint32_t>(fat);
        l.dirStart = static_cast<uint32_t>(fat + difat);
        l.miniFatStart = static_cast<uint32_t>(l.dirStart + l.dirSectors);
        l.miniStreamStart = static_cast<uint32_t>(l.miniFatStart + l.miniFatSectors);
        uint32_t next = static_cast<uint32_t>(l.miniStreamStart + l.miniStreamSectors);
        for (Entry& e : m_entries) {
            if (e.node->type != STGTY_STREAM || !inOwnSectors(e)) continue;
            e.start = next;
            next = static_cast<uint32_t>(next + ceilDiv(e.size, kSectorSize));
        }
        assert(next == l.totalSectors);
        return S_OK;
    }

    // FAT, DIFAT sectors and mini FAT.
    void writeAllocationTables() {
        const Layout& l = m_layout;
        for (uint64_t s = 0; s < l.fatSectors * kPerSector; ++s)
            setFat(s, kFreeSect);
        for (uint64_t s = 0; s < l.fatSectors; ++s)
            setFat(l.fatStart + s, kFatSect);
        for (uint64_t s = 0; s < l.difatSectors; ++s)
            setFat(l.difatStart + s, kDifSect);
        chainFat(l.dirStart, l.dirSectors);
        chainFat(l.miniFatStart, l.miniFatSectors);
        chainFat(l.miniStreamStart, l.miniStreamSectors);
        for (const Entry& e : m_entries)
            if (e.node->type == STGTY_STREAM && inOwnSectors(e))
                chainFat(e.start, ceilDiv(e.size, kSectorSize));

        // The FAT sectors past the header's slots, kPerSector - 1 to a DIFAT
        // sector whose last slot links the next one.
        for (uint64_t d = 0; d < l.difatSectors; ++d) {
            BYTE* p = sector(l.difatStart + d);
            for (uint32_t k = 0; k < kPerSector - 1; ++k) {
                uint64_t f = kHeaderDifatEntries + d * (kPerSector - 1) + k;
                store32(p + 4 * k,
                        f < l.fatSectors ? static_cast<uint32_t>(l.fatStart + f) : kFreeSect);
            }
            store32(p + 4 * (kPerSector - 1), d + 1 < l.difatSectors
                                                  ? static_cast<uint32_t>(l.difatStart + d + 1)
                                                  : kEndOfChain);
        }

        BYTE* miniFat = sector(l.miniFatStart);
        for (uint64_t k = 0; k < l.miniFatSectors * kPerSector; ++k)
            store32(miniFat + 4 * k, kFreeSect);
        for (const Entry& e : m_entries) {
            if (e.node->type != STGTY_STREAM || !inMiniStream(e)) continue;
            uint64_t n = ceilDiv(e.size, kMiniSectorSize);
            for (uint64_t k = 0; k < n; ++k)
                store32(miniFat + 4 * (e.start + k),
                        k + 1 < n ? static_cast<uint32_t>(e.start + k + 1) : kEndOfChain);
        }
    }

    void writeHeader() {
        const Layout& l = m_layout;
        BYTE* h = m_image.data();
        std::memcpy(h + kHeaderSignature, kSignature, sizeof kSignature);
        store16(h + kHeaderMinorVersion, kMinorVersion);
        store16(h + kHeaderMajorVersion, kMajorVersion3);
        store16(h + kHeaderByteOrder, kByteOrderMark);
        store16(h + kHeaderSectorShift, kSectorShift3);
        store16(h + kHeaderMiniSectorShift, kMiniSectorShift);
        store32(h + kHeaderFatSectorCount, static_cast<uint32_t>(l.fatSectors));
        store32(h + kHeaderFirstDirSector, l.dirStart);
        store32(h + kHeaderMiniCutoff, kMiniStreamCutoff);
        store32(h + kHeaderFirstMiniFatSector, l.miniFatSectors ? l.miniFatStart : kEndOfChain);
        store32(h + kHeaderMiniFatSectorCount, static_cast<uint32_t>(l.miniFatSectors));
        store32(h + kHeaderFirstDifatSector, l.difatSectors ? l.difatStart : kEndOfChain);
        store32(h + kHeaderDifatSectorCount, static_cast<uint32_t>(l.difatSectors));
        for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
            store32(h + kHeaderDifat + 4 * i, i < l.fatSectors ? l.fatStart + i : kFreeSect);
    }

    void writeStreams() {
        BYTE* miniStream = sector(m_layout.miniStreamStart);
        for (const Entry& e : m_entries) {
            if (e.node->type != STGTY_STREAM || e.size == 0) continue;
            BYTE* to = inMiniStream(e) ? miniStream + static_cast<size_t>(e.start) * kMiniSectorSize
                                       : sector(e.start);
            std::memcpy(to, e.node->bytes(), e.size);
        }
    }

    // Every slot of the directory's sectors; the unused ones link nowhere.
    void writeDirectory() {
        const Layout& l = m_layout;
        BYTE* dir = sector(l.dirStart);
        for (size_t i = 0; i < l.dirSectors * (kSectorSize / kDirEntrySize); ++i) {
            BYTE* p = dir + i * kDirEntrySize;
            if (i >= m_entries.size()) {
                store32(p + kEntryLeft, kNoStream);
                store32(p + kEntryRight, kNoStream);
                store32(p + kEntryChild, kNoStream);
                continue;
            }
            const Entry& e = m_entries[i];
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
                store32(p + kEntryStart, l.miniStreamSectors ? l.miniStreamStart : kEndOfChain);
                store32(p + kEntryStreamSize,
                        static_cast<uint32_t>(l.miniSectors * kMiniSectorSize));
            } else if (n.type == STGTY_STREAM) {
                store32(p + kEntryStart, e.size ? e.start : kEndOfChain);
                store32(p + kEntryStreamSize, static_cast<uint32_t>(e.size));
            }
        }
    }

    std::vector<BYTE>& m_image;
    std::vector<Entry> m_entries;
    Layout m_layout;
};

} // namespace

HRESULT CfbWriter::write(const CfbNode& root, std::vector<BYTE>& image) noexcept {
    try {
        ImageBuilder builder(image);
        return builder.build(root);
    } catch (...) {
        // Only allocation can fail here.
        image.clear();
        return STG_E_INSUFFICIENTMEMORY;
    }
}

} // namespace zeb
