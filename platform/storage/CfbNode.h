// The in-memory tree of a compound file: what the reader builds, the
// storage and stream objects change, and the writer lays out.
//
// Invariants:
//   1. A storage's children are keyed by name under CfbNameLess (length
//      first, then upper-cased UTF-16 units: the directory order of the
//      format), so two children never differ only in case.
//   2. Only storages (and the root) have children; only streams have data.
//   3. `parent` is null for the root and for detached nodes.
//   4. A node removed from the tree is marked `removed` (with its whole
//      subtree), so objects still open on it answer STG_E_REVERTED.
// Nodes are guarded by their document's lock (CfbDocument).
#pragma once

#include "platform/storage/Storage.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

// How deep storages may nest below the root. Deeper trees are refused when
// read or created, so that no walk over a tree can exhaust the stack.
constexpr uint32_t kCfbMaxDepth = 256;

// The simple upper-case of one UTF-16 unit (ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic), used to compare element names.
char16_t cfbUpperWide(char16_t c) noexcept;
inline char16_t cfbUpper(char16_t c) noexcept {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    return cfbUpperWide(c);
}

// Directory order: shorter names first, then by upper-cased units.
struct CfbNameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
        if (a.size() != b.size()) return a.size() < b.size();
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] == b[i]) continue;
            char16_t x = cfbUpper(a[i]), y = cfbUpper(b[i]);
            if (x != y) return x < y;
        }
        return false;
    }
};

// S_OK for a valid element name (1..31 units, none of / \ : !),
// STG_E_INVALIDPOINTER for null, else STG_E_INVALIDNAME.
HRESULT cfbCheckName(const OLECHAR* name) noexcept;

// The current time as a FILETIME.
FILETIME cfbNow() noexcept;

struct CfbNode {
    std::u16string name;
    DWORD type = STGTY_STORAGE; // STGTY_STORAGE or STGTY_STREAM
    CLSID clsid{};
    DWORD stateBits = 0;
    FILETIME ctime{};
    FILETIME mtime{};
    // A stream's bytes: owned in `data`, or (as read from a file, until
    // first changed) a view into the file's image, kept alive by `image`.
    std::vector<BYTE> data;
    std::shared_ptr<const BYTE[]> image;
    const BYTE* view = nullptr;
    size_t viewSize = 0;
    std::map<std::u16string, std::shared_ptr<CfbNode>, CfbNameLess> children;
    CfbNode* parent = nullptr;
    int openCount = 0; // objects open on this node
    bool removed = false;

    size_t size() const noexcept { return image ? viewSize : data.size(); }
    const BYTE* bytes() const noexcept { return image ? view : data.data(); }
    // The owned bytes (copied out of the view first); may throw bad_alloc.
    std::vector<BYTE>& ownBytes();

    // Marks this node and its subtree removed.
    void markRemoved() noexcept;
    // A deep copy (not open, not removed, no parent).
    std::shared_ptr<CfbNode> clone() const;
};

} // namespace zeb
