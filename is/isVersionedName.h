// isVersionedName: the naming rule of types and tools.
//
// A version-dependent name is an identifier followed by at least one group
// of a dot and decimal digits; the whole name must match
//   ^[A-Za-z_][A-Za-z0-9_]*\.[0-9]+(\.[0-9]+)*$
//
//   isVersionedName("Drive.2.0.1");   // true
//   isVersionedName("Drive");         // false: no version
//   isVersionedName("Drive.a");       // false
#pragma once

#include <string_view>

// Checked by hand: the rule runs on every add, and a regular-expression
// match costs allocations there.
bool isVersionedName(std::string_view name) noexcept;
