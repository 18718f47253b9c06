// A round number written into every section of an installation of numbered
// sample types, so that a test can tell one save of it from the next: the
// attribute "BI_ROUND" of the first, middle and last type ("types"), the
// attribute Round of the first type's class element ("xmltypes"), the query
// "round" ("xpathqueries") and the value of the tool RoundTool.1.0
// ("tools"). The kill test and the fault tests check with it that a file
// holds one save whole, never parts of two.
#pragma once

#include "is/CZEBIntInstallation.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace zeb::test {

// The round each section holds (nullopt: missing or unreadable).
struct Rounds {
    std::array<std::optional<long>, 3> types;
    std::optional<long> xmltypes, xpathqueries, tools;

    bool operator==(const Rounds&) const = default;
    // The round when every section holds the same one.
    std::optional<long> common() const;
    std::string describe() const;
    friend void PrintTo(const Rounds& rounds, std::ostream* out) { *out << rounds.describe(); }
};

// What a new round changes: the attribute of the three types only, the tool
// only, or every section.
enum class RoundChange { Types, Tool, Everything };

// Puts `round` into the sections `change` names, for an installation of the
// numbered types 0 .. typeCount-1; false when a call failed.
bool applyRound(CZEBIntInstallation& inst, uint32_t typeCount, long round,
                RoundChange change = RoundChange::Everything);
Rounds readRounds(CZEBIntInstallation& inst, uint32_t typeCount);

// The names in `dir`, hidden ones too.
std::set<std::string> entriesOf(const std::string& dir);

} // namespace zeb::test
