// Feeds arbitrary bytes to the registry text parser. Whatever it accepts
// must format to a text that parses back to the same document and formats
// to the same text again (the store rewrites the file from its reading).
#include "platform/win/RegistryDocument.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zeb::RegistryDocument doc;
    std::string problem;
    if (!zeb::RegistryDocument::parse(text, doc, problem)) {
        if (problem.rfind("line ", 0) != 0) std::abort(); // every refusal names its line
        return 0;
    }
    const std::string formatted = doc.format();
    zeb::RegistryDocument again;
    if (!zeb::RegistryDocument::parse(formatted, again, problem)) std::abort();
    if (!(again == doc)) std::abort();
    if (again.format() != formatted) std::abort();
    return 0;
}
