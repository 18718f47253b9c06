// Replays fuzz inputs through a fuzz target's entry point without libFuzzer,
// so that every build (sanitizer, release, thread sanitizer) runs the stored
// corpus and a crash fixed once stays fixed.
//
// Usage: replay_<name> PATH...   (a file is one input; a folder gives every
// regular file in it, in name order so that a failure is reproducible).
// A target reports a fault by crashing or aborting; the replay prints each
// input's name before feeding it, so the last name printed is the culprit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool feed(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "input %s (%zu bytes)\n", file.c_str(), bytes.size());
    // Copy into an allocation of exactly the input's size, as libFuzzer
    // does, so that the sanitizer sees a read past the end.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            if (ec) {
                std::fprintf(stderr, "cannot list %s: %s\n", path.c_str(), ec.message().c_str());
                return 2;
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                if (!feed(file)) return 2;
                ++count;
            }
        } else {
            if (!feed(path)) return 2;
            ++count;
        }
    }
    // An empty corpus replays nothing and proves nothing: say so by failing.
    if (count == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 2;
    }
    std::printf("%zu inputs replayed without a fault\n", count);
    return 0;
}
