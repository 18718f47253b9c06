// Feeds arbitrary bytes to the tool-section reader. Reading must never
// crash, hang or allocate by an unchecked count or length. A section that
// reads with a good state must write back to bytes that read to a container
// writing the same bytes again (a difference aborts).
#include "is/CIsToolCont.h"
#include "tests/support/SectionBytes.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string writeTools(const CIsToolCont& tools) {
    DWORD state = 0;
    std::string bytes = zeb::test::sectionBytes(tools, state);
    if (state != 0) std::abort();
    return bytes;
}

// Reads bytes as a tool section; true when the state is good afterwards.
bool readTools(const std::string& bytes, CIsToolCont& tools) {
    return zeb::test::readSection(bytes, tools) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIsToolCont first;
    if (!readTools(std::string(reinterpret_cast<const char*>(data), size), first)) return 0;
    const std::string written = writeTools(first);
    CIsToolCont second;
    if (!readTools(written, second)) std::abort();
    if (second.size() != first.size()) std::abort();
    if (writeTools(second) != written) std::abort();
    return 0;
}
