// The sample PD-files Drive.pd and Cam.pd (samples/pdfiles), compiled into
// the tour: it puts them into the configuration directory it makes, and
// finds them so wherever it runs (a build tree, a release build, a copy of
// the program without the sources).
//
//   std::string error;
//   if (!zeb::samples::installSamplePdFiles(dir, &error)) ...   // dir/Drive.pd, dir/Cam.pd
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace zeb::samples {

struct SamplePdFile {
    const char* name; // the file name, as BI_TYPE_PDFILENAME names it
    std::span<const unsigned char> bytes;
};

// Every compiled-in PD-file.
std::span<const SamplePdFile> samplePdFiles();

// Writes every compiled-in PD-file into `dir` (replacing files of the same
// name). False, with the reason in *error when given, when one could not be
// written whole.
bool installSamplePdFiles(const std::string& dir, std::string* error = nullptr);

namespace detail {
extern const SamplePdFile kSamplePdFiles[];
extern const size_t kSamplePdFileCount;
} // namespace detail

} // namespace zeb::samples
