#include "samples/tour/SamplePdFiles.h"

#include <fstream>

namespace zeb::samples {

std::span<const SamplePdFile> samplePdFiles() {
    return {detail::kSamplePdFiles, detail::kSamplePdFileCount};
}

bool installSamplePdFiles(const std::string& dir, std::string* error) {
    for (const SamplePdFile& file : samplePdFiles()) {
        const std::string path = dir + "/" + file.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
                  std::streamsize(file.bytes.size()));
        out.close();
        if (!out) {
            if (error) *error = path + ": could not be written";
            return false;
        }
    }
    return true;
}

} // namespace zeb::samples
