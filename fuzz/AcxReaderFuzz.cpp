// The ACX reader with the PD-file content handler behind it, on arbitrary
// file content (plain or gzip). The input is written to a private file,
// since the reader reads files; unpack-in-place is on, so gzip inputs also
// go through the rewrite.
#include "is/isacx/CIsAcxReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
const std::string& scratch() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/fuzz_acx.XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        return dir + "/input.pd";
    }();
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratch();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    CIsAcxReader reader;
    reader.init(path.c_str());
    return 0;
}
