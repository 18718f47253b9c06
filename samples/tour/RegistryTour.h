// A tour of the type registry with the sample components: installs the
// sample types into an installation held in memory and prints what the
// lookups, snap-ins, extensions and attributes give, and the descriptions the
// on-demand refresh writes into the classification document.
//
//   // REQUIRES: $ZEB_REGISTRY names a registry file the tour may write (it
//   // registers the sample classes there); $TMPDIR (or /tmp) takes the
//   // temporary configuration directory of the descriptions, removed at the end.
//   int failures = zeb::samples::registryTour(stdout);
#pragma once

#include <cstdio>

namespace zeb::samples {

// Prints the tour to out; returns the number of steps that did not give
// the expected result (0 when all went as shown).
int registryTour(std::FILE* out);

} // namespace zeb::samples
