// The stylesheets a new configuration directory gets: "k4bi00tx_tf.xsl"
// (arranges the described types under Classified) and "k4bi00tx_tfb.xsl"
// (the export form: the document without whitespace-only text).
//
//   std::string error;
//   if (!zeb::classification::installDefaultStylesheets("/etc/zeb/config", &error)) ...
//
// A stylesheet already in the directory is kept: a site may have its own.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace zeb::classification {

struct DefaultStylesheet {
    const char* name;      // the file name in the configuration directory
    std::string_view text; // UTF-8
};

// Every default stylesheet.
std::span<const DefaultStylesheet> defaultStylesheets();

// Writes each default stylesheet that `dir` lacks, each written whole or
// not at all (through a temporary file renamed into place). False, with the
// reason in *error when given, when one could not be written.
bool installDefaultStylesheets(const std::string& dir, std::string* error = nullptr);

namespace detail {
extern const DefaultStylesheet kDefaultStylesheets[];
extern const size_t kDefaultStylesheetCount;
} // namespace detail

} // namespace zeb::classification
