// Feeds arbitrary bytes to the reader of the XPath map's section. Reading
// must never crash, hang or allocate by an unchecked length; a map that
// read cleanly must write a section that reads back to the same map and
// writes the same bytes again.
#include "is/CIsXPathMap.h"
#include "tests/support/SectionBytes.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string bytesOf(const CIsXPathMap& map) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(map, state);
    if (state != 0) std::abort();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIsXPathMap map;
    if (zeb::test::readSection(std::string_view(reinterpret_cast<const char*>(data), size), map) !=
        0)
        return 0;
    const std::string first = bytesOf(map);
    CIsXPathMap back;
    if (zeb::test::readSection(first, back) != 0 || back.entries() != map.entries() ||
        bytesOf(back) != first)
        std::abort();
    return 0;
}
