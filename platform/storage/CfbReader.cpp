#include "platform/storage/CfbReader.h"

#include "platform/storage/CfbFormat.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace zeb {

namespace {

using namespace cfb;

struct Corrupt {
    HRESULT hr;
};

// The parse state; every failure throws Corrupt, caught in read().
class Parser {
public:
    Parser(const BYTE* image, size_t size, std::shared_ptr<const BYTE[]> owner)
        : m_image(image), m_size(size), m_owner(std::move(owner)) {}

    std::shared_ptr<CfbNode> parse() {
        if (!CfbReader::hasSignature(m_image, m_size)) fail(STG_E_INVALIDHEADER);
        const BYTE* h = m_image;
        uint16_t major = load16(h + kHeaderMajorVersion);
        if (load16(h + kHeaderByteOrder) != kByteOrderMark) fail(STG_E_INVALIDHEADER);
        uint16_t shift = load16(h + kHeaderSectorShift);
        if (!((major == kMajorVersion3 && shift == kSectorShift3) ||
              (major == kMajorVersion4 && shift == kSectorShift4)))
            fail(STG_E_INVALIDHEADER);
        if (load16(h + kHeaderMiniSectorShift) != kMiniSectorShift ||
            load32(h + kHeaderMiniCutoff) != kMiniStreamCutoff)
            fail(STG_E_INVALIDHEADER);
        m_v3 = major == kMajorVersion3;
        m_sectorSize = 1u << shift;
        if (m_size < m_sectorSize && !m_v3) fail(STG_E_INVALIDHEADER);
        // Sectors follow the header's sector; a short last sector reads as zeros.
        size_t body = m_size > m_sectorSize ? m_size - m_sectorSize : 0;
        size_t sectors = (body + m_sectorSize - 1) / m_sectorSize;
        if (sectors > kMaxRegSect) fail(STG_E_DOCFILECORRUPT);
        m_sectorCount = static_cast<uint32_t>(sectors);
        m_used.assign(m_sectorCount, false);

        readFat(h);
        readDirectory(load32(h + kHeaderFirstDirSector));
        readMiniFat(load32(h + kHeaderFirstMiniFatSector), load32(h + kHeaderMiniFatSectorCount));
        return buildTree();
    }

private:
    [[noreturn]] static void fail(HRESULT hr) { throw Corrupt{hr}; }

    // The bytes of sector s (s < m_sectorCount); those past the image are
    // copied as zeros by copySector.
    void copySector(uint32_t s, size_t from, size_t n, BYTE* out) const {
        size_t off = static_cast<size_t>(s + 1) * m_sectorSize + from;
        size_t avail = off < m_size ? std::min(n, m_size - off) : 0;
        if (avail) std::memcpy(out, m_image + off, avail);
        if (avail < n) std::memset(out + avail, 0, n - avail);
    }

    // Appends n bytes from sector `first` on (consecutive sectors); bytes
    // past the image are appended as zeros.
    void appendSectors(uint32_t first, size_t n, std::vector<BYTE>& out) const {
        size_t off = static_cast<size_t>(first + 1) * m_sectorSize;
        size_t avail = off < m_size ? std::min(n, m_size - off) : 0;
        out.insert(out.end(), m_image + off, m_image + off + avail);
        out.resize(out.size() + (n - avail));
    }

    void claim(uint32_t s) {
        if (s >= m_sectorCount) fail(STG_E_DOCFILECORRUPT);
        if (m_used[s]) fail(STG_E_DOCFILECORRUPT); // a loop or a cross-link
        m_used[s] = true;
    }

    void readFat(const BYTE* h) {
        uint32_t fatSectors = load32(h + kHeaderFatSectorCount);
        uint32_t difatStart = load32(h + kHeaderFirstDifatSector);
        uint32_t difatCount = load32(h + kHeaderDifatSectorCount);
        if (fatSectors > m_sectorCount || difatCount > m_sectorCount) fail(STG_E_DOCFILECORRUPT);
        std::vector<uint32_t> fatIds;
        fatIds.reserve(fatSectors);
        for (uint32_t i = 0; i < kHeaderDifatEntries && fatIds.size() < fatSectors; ++i)
            fatIds.push_back(load32(h + kHeaderDifat + 4 * i));
        uint32_t perSector = m_sectorSize / 4;
        std::vector<BYTE> buf(m_sectorSize);
        uint32_t next = difatStart;
        for (uint32_t i = 0; i < difatCount && fatIds.size() < fatSectors; ++i) {
            claim(next);
            copySector(next, 0, m_sectorSize, buf.data());
            for (uint32_t k = 0; k + 1 < perSector && fatIds.size() < fatSectors; ++k)
                fatIds.push_back(load32(buf.data() + 4 * k));
            next = load32(buf.data() + 4 * (perSector - 1));
        }
        if (fatIds.size() < fatSectors) fail(STG_E_DOCFILECORRUPT);
        m_fat.resize(static_cast<size_t>(fatSectors) * perSector);
        for (uint32_t i = 0; i < fatSectors; ++i) {
            claim(fatIds[i]);
            copySector(fatIds[i], 0, m_sectorSize, buf.data());
            for (uint32_t k = 0; k < perSector; ++k)
                m_fat[static_cast<size_t>(i) * perSector + k] = load32(buf.data() + 4 * k);
        }
    }

    uint32_t fatNext(uint32_t s) const {
        if (s >= m_fat.size()) fail(STG_E_DOCFILECORRUPT);
        return m_fat[s];
    }

    // Reads `bytes` bytes of the regular chain starting at `start`. With
    // toEnd, reads the whole chain (bytes is then ignored). With `view`, a
    // chain that is one run of sectors inside the image is not copied:
    // *view points at its bytes and the result is empty.
    std::vector<BYTE> readChain(uint32_t start, uint64_t bytes, bool toEnd,
                                const BYTE** view = nullptr) {
        std::vector<BYTE> out;
        if (toEnd) {
            uint32_t s = start;
            while (s != kEndOfChain) {
                claim(s);
                size_t at = out.size();
                out.resize(at + m_sectorSize);
                copySector(s, 0, m_sectorSize, out.data() + at);
                s = fatNext(s);
            }
            return out;
        }
        // The size must fit the sectors the image has before memory is sized by it.
        if (bytes > static_cast<uint64_t>(m_sectorCount) * m_sectorSize) fail(STG_E_DOCFILECORRUPT);
        size_t want = static_cast<size_t>(bytes);
        uint32_t s = start;
        while (out.size() < want) {
            // A run of consecutive sectors is copied at once.
            if (s == kEndOfChain) fail(STG_E_DOCFILECORRUPT); // size beyond the chain
            uint32_t first = s;
            size_t run = 0;
            for (;;) {
                claim(s);
                run += m_sectorSize;
                if (out.size() + run >= want) break;
                uint32_t next = fatNext(s);
                if (next != s + 1) {
                    s = next;
                    break;
                }
                s = next;
            }
            size_t n = std::min(run, want - out.size());
            size_t off = static_cast<size_t>(first + 1) * m_sectorSize;
            if (view && out.empty() && n == want && off + n <= m_size) {
                *view = m_image + off;
                return out;
            }
            if (out.capacity() < want) out.reserve(want);
            appendSectors(first, n, out);
        }
        return out;
    }

    void readDirectory(uint32_t start) {
        m_dir = readChain(start, 0, true);
        m_entryCount = m_dir.size() / kDirEntrySize;
        if (m_entryCount == 0) fail(STG_E_DOCFILECORRUPT);
    }

    void readMiniFat(uint32_t start, uint32_t count) {
        if (count == 0 || start == kEndOfChain) return;
        if (count > m_sectorCount) fail(STG_E_DOCFILECORRUPT);
        std::vector<BYTE> raw = readChain(start, 0, true);
        if (raw.size() / m_sectorSize < count) fail(STG_E_DOCFILECORRUPT);
        m_miniFat.resize(raw.size() / 4);
        for (size_t i = 0; i < m_miniFat.size(); ++i)
            m_miniFat[i] = load32(raw.data() + 4 * i);
    }

    const BYTE* entry(uint32_t id) const {
        return m_dir.data() + static_cast<size_t>(id) * kDirEntrySize;
    }

    uint64_t entrySize(const BYTE* e) const {
        // Version 3 writers may leave garbage in the high half.
        return m_v3 ? load32(e + kEntryStreamSize) : load64(e + kEntryStreamSize);
    }

    std::vector<BYTE> readMini(uint32_t start, uint64_t bytes) {
        if (bytes > m_miniStream.size()) fail(STG_E_DOCFILECORRUPT);
        std::vector<BYTE> out(static_cast<size_t>(bytes));
        size_t done = 0;
        uint32_t s = start;
        while (done < out.size()) {
            if (s >= m_miniFat.size() ||
                static_cast<uint64_t>(s + 1) * kMiniSectorSize > m_miniStream.size())
                fail(STG_E_DOCFILECORRUPT);
            if (m_miniUsed[s]) fail(STG_E_DOCFILECORRUPT);
            m_miniUsed[s] = true;
            size_t n = std::min<size_t>(kMiniSectorSize, out.size() - done);
            std::memcpy(out.data() + done,
                        m_miniStream.data() + static_cast<size_t>(s) * kMiniSectorSize, n);
            done += n;
            s = m_miniFat[s];
        }
        return out;
    }

    void fillNode(CfbNode& node, const BYTE* e, bool root) {
        uint16_t nameBytes = load16(e + kEntryNameLength);
        if (root) {
            node.name = u"Root Entry";
        } else {
            if (nameBytes < 4 || nameBytes > kMaxNameBytes || nameBytes % 2)
                fail(STG_E_DOCFILECORRUPT);
            node.name.resize(nameBytes / 2 - 1);
            for (size_t i = 0; i < node.name.size(); ++i)
                node.name[i] = load16(e + kEntryName + 2 * i);
        }
        node.clsid.Data1 = load32(e + kEntryClsid);
        node.clsid.Data2 = load16(e + kEntryClsid + 4);
        node.clsid.Data3 = load16(e + kEntryClsid + 6);
        std::memcpy(node.clsid.Data4, e + kEntryClsid + 8, 8);
        node.stateBits = load32(e + kEntryStateBits);
        node.ctime = FILETIME{load32(e + kEntryCreated), load32(e + kEntryCreated + 4)};
        node.mtime = FILETIME{load32(e + kEntryModified), load32(e + kEntryModified + 4)};
    }

    std::shared_ptr<CfbNode> buildTree() {
        const BYTE* rootEntry = entry(0);
        if (rootEntry[kEntryType] != kTypeRoot) fail(STG_E_DOCFILECORRUPT);
        auto root = std::make_shared<CfbNode>();
        fillNode(*root, rootEntry, true);
        root->type = STGTY_STORAGE;
        uint64_t miniSize = entrySize(rootEntry);
        uint32_t miniStart = load32(rootEntry + kEntryStart);
        if (miniSize > 0 && miniStart != kEndOfChain)
            m_miniStream = readChain(miniStart, miniSize, false);
        m_miniUsed.assign(m_miniFat.size(), false);

        std::vector<bool> visited(m_entryCount, false);
        visited[0] = true;
        // Work list: an entry id of a subtree of siblings, the storage it
        // belongs to, and that storage's nesting depth.
        struct Item {
            uint32_t id;
            CfbNode* owner;
            uint32_t depth;
        };
        std::vector<Item> work;
        uint32_t firstChild = load32(rootEntry + kEntryChild);
        if (firstChild != kNoStream) work.push_back({firstChild, root.get(), 0});
        while (!work.empty()) {
            auto [id, owner, depth] = work.back();
            work.pop_back();
            if (id >= m_entryCount || visited[id]) fail(STG_E_DOCFILECORRUPT);
            visited[id] = true;
            const BYTE* e = entry(id);
            BYTE kind = e[kEntryType];
            if (kind != kTypeStorage && kind != kTypeStream) fail(STG_E_DOCFILECORRUPT);
            auto node = std::make_shared<CfbNode>();
            fillNode(*node, e, false);
            node->parent = owner;
            uint32_t left = load32(e + kEntryLeft), right = load32(e + kEntryRight),
                     child = load32(e + kEntryChild);
            if (kind == kTypeStream) {
                node->type = STGTY_STREAM;
                uint64_t size = entrySize(e);
                uint32_t start = load32(e + kEntryStart);
                if (size >= kMiniStreamCutoff && m_owner) {
                    const BYTE* view = nullptr;
                    node->data = readChain(start, size, false, &view);
                    if (view) {
                        node->image = m_owner;
                        node->view = view;
                        node->viewSize = static_cast<size_t>(size);
                    }
                } else if (size >= kMiniStreamCutoff)
                    node->data = readChain(start, size, false);
                else if (size > 0)
                    node->data = readMini(start, size);
            } else {
                node->type = STGTY_STORAGE;
                if (depth + 1 > kCfbMaxDepth) fail(STG_E_DOCFILECORRUPT);
                if (child != kNoStream) work.push_back({child, node.get(), depth + 1});
            }
            if (left != kNoStream) work.push_back({left, owner, depth});
            if (right != kNoStream) work.push_back({right, owner, depth});
            std::u16string key = node->name;
            if (!owner->children.emplace(std::move(key), std::move(node)).second)
                fail(STG_E_DOCFILECORRUPT); // two entries with one name
        }
        return root;
    }

    const BYTE* m_image;
    size_t m_size;
    std::shared_ptr<const BYTE[]> m_owner; // set: streams may view the image
    bool m_v3 = true;
    uint32_t m_sectorSize = kSectorSize3;
    uint32_t m_sectorCount = 0;
    std::vector<bool> m_used;
    std::vector<uint32_t> m_fat;
    std::vector<BYTE> m_dir;
    uint32_t m_entryCount = 0;
    std::vector<uint32_t> m_miniFat;
    std::vector<BYTE> m_miniStream;
    std::vector<bool> m_miniUsed;
};

} // namespace

bool CfbReader::hasSignature(const BYTE* image, size_t size) noexcept {
    return image && size >= cfb::kHeaderSize &&
           std::memcmp(image + cfb::kHeaderSignature, cfb::kSignature, sizeof cfb::kSignature) == 0;
}

HRESULT CfbReader::read(const BYTE* image, size_t size, std::shared_ptr<CfbNode>& root) noexcept {
    return parse(image, size, nullptr, root);
}

HRESULT CfbReader::read(std::shared_ptr<const BYTE[]> image, size_t size,
                        std::shared_ptr<CfbNode>& root) noexcept {
    const BYTE* bytes = image.get();
    return parse(bytes, size, std::move(image), root);
}

HRESULT CfbReader::parse(const BYTE* image, size_t size, std::shared_ptr<const BYTE[]> owner,
                         std::shared_ptr<CfbNode>& root) noexcept {
    try {
        Parser parser(image, size, std::move(owner));
        root = parser.parse();
        return S_OK;
    } catch (const Corrupt& c) {
        return c.hr;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        return STG_E_DOCFILECORRUPT;
    }
}

} // namespace zeb
