#include "platform/storage/CfbNode.h"

#include <ctime>

namespace zeb {

char16_t cfbUpperWide(char16_t c) noexcept {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A alternates upper/lower, with the pairs offset by
        // one in 0x139..0x148 and 0x179..0x17E.
        bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        bool lower = oddLower ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

HRESULT cfbCheckName(const OLECHAR* name) noexcept {
    if (!name) return STG_E_INVALIDPOINTER;
    size_t n = 0;
    for (; name[n]; ++n) {
        char16_t c = name[n];
        if (n >= 31 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return STG_E_INVALIDNAME;
    }
    return n == 0 ? STG_E_INVALIDNAME : S_OK;
}

FILETIME cfbNow() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t t = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull +
                 static_cast<uint64_t>(ts.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

std::vector<BYTE>& CfbNode::ownBytes() {
    if (image) {
        data.assign(view, view + viewSize);
        image.reset();
        view = nullptr;
        viewSize = 0;
    }
    return data;
}

void CfbNode::markRemoved() noexcept {
    removed = true;
    parent = nullptr;
    for (auto& [name, child] : children)
        child->markRemoved();
}

std::shared_ptr<CfbNode> CfbNode::clone() const {
    auto copy = std::make_shared<CfbNode>();
    copy->name = name;
    copy->type = type;
    copy->clsid = clsid;
    copy->stateBits = stateBits;
    copy->ctime = ctime;
    copy->mtime = mtime;
    copy->data = data;
    copy->image = image;
    copy->view = view;
    copy->viewSize = viewSize;
    for (const auto& [key, child] : children) {
        auto c = child->clone();
        c->parent = copy.get();
        copy->children.emplace(key, std::move(c));
    }
    return copy;
}

} // namespace zeb
