// A tour of the type registry with the sample components: installs the
// sample types into an installation held in memory and prints what the
// lookups, snap-ins, extensions and attributes give.
//
//   // REQUIRES: $ZEB_REGISTRY names a registry file the tour may write (it
//   // registers the sample classes there).
//   int failures = zeb::samples::registryTour(stdout);
#pragma once

#include <cstdio>

namespace zeb::samples {

// Prints the tour to out; returns the number of steps that did not give
// the expected result (0 when all went as shown).
int registryTour(std::FILE* out);

} // namespace zeb::samples
