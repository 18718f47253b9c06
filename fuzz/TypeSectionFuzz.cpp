// Feeds arbitrary bytes to the type-section reader. Reading must never
// crash, hang or allocate by an unchecked count. A section that reads with a
// good state is written back; that text must read to a container that
// writes the same text again. The same bytes also go through the import of
// the type-data exchange, into a container that holds the internal type.
#include "is/CIsTypeCont.h"
#include "tests/support/SectionBytes.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string written(const CIsTypeCont& cont) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(cont, state);
    if (state != 0) std::abort();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        const std::string_view input(reinterpret_cast<const char*>(data), size);
        CIsTypeCont cont;
        if (zeb::test::readSection(input, cont) == 0) {
            const std::string first = written(cont);
            CIsTypeCont back;
            if (zeb::test::readSection(first, back) != 0 || back.size() != cont.size())
                std::abort();
            if (written(back) != first) std::abort();
        }
    }
    {
        ComPtr<IStream> s =
            zeb::test::memoryStream(std::string_view(reinterpret_cast<const char*>(data), size));
        FsSecCl sec(s);
        CIsTypeCont cont;
        cont.initTypeCont();
        const DWORD code = cont.importTypeData(sec);
        if (code != 0 && code != 27 && code != 0xFFFF) std::abort();
        if (code == 0 && sec.state() != 0) std::abort();
    }
    return 0;
}
