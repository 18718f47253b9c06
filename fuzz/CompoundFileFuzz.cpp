// The compound-file reader on arbitrary bytes: it must refuse or accept,
// never crash, hang or allocate by an unchecked size. What it accepts must
// write back and read again to the same tree.
#include "platform/storage/CfbReader.h"
#include "platform/storage/CfbWriter.h"

#include <cstdlib>
#include <cstring>

namespace {

bool same(const zeb::CfbNode& a, const zeb::CfbNode& b) {
    if (a.type != b.type || a.size() != b.size() || a.children.size() != b.children.size())
        return false;
    if (a.size() && std::memcmp(a.bytes(), b.bytes(), a.size()) != 0) return false;
    if (a.type == STGTY_STORAGE && (a.clsid != b.clsid || a.stateBits != b.stateBits)) return false;
    auto i = a.children.begin();
    for (auto j = b.children.begin(); j != b.children.end(); ++i, ++j)
        if (i->first != j->first || !same(*i->second, *j->second)) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Read as a file is read: large streams may stay views of the image.
    std::shared_ptr<BYTE[]> owned(new BYTE[size ? size : 1]);
    if (size) std::memcpy(owned.get(), data, size);
    std::shared_ptr<zeb::CfbNode> root;
    if (FAILED(zeb::CfbReader::read(std::shared_ptr<const BYTE[]>(owned), size, root))) return 0;
    std::vector<BYTE> image;
    if (FAILED(zeb::CfbWriter::write(*root, image))) std::abort();
    std::shared_ptr<zeb::CfbNode> again;
    if (FAILED(zeb::CfbReader::read(image.data(), image.size(), again)) || !same(*root, *again))
        std::abort();
    return 0;
}
