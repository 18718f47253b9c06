// The installation the fault tests break: 20 numbered types, each with an
// attribute of its own, described in the document, a query and a tool; and
// what tells one save of it from the next (a round number in every section).
#pragma once

#include "is/CZEBIntInstallation.h"
#include "samples/RegisteredNumberedTypes.h"
#include "tests/is/RoundMarks.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace zeb::test::faults {

constexpr uint32_t kTypeCount = 20;

// What a save changes: the round in the attribute of three types only, in
// the tool only, or in every section.
using Change = RoundChange;

bool applyChange(CZEBIntInstallation& inst, long round, Change change);
Rounds readRounds(CZEBIntInstallation& inst);
// Everything apart from the rounds: "" when whole, else what is wrong.
std::string checkWhole(CZEBIntInstallation& inst);

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Creates the installation (round 0 in every section, saved) and
    // returns it open for writing.
    ComPtr<CZEBIntInstallation> makeInstallation();
    // The rounds of the file on disk, read as a looking user would (read-only);
    // `whole` gets checkWhole's answer.
    Rounds roundsOnDisk(std::string& whole);
    // Names in the configuration directory that are neither the file, its
    // lock nor the stylesheets: what a save left behind.
    std::set<std::string> leftBeside() const;

    TempDir dir;
    ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = dir.file("config");
    std::string tmp = dir.file("tmp");
    ScopedEnv tmpEnv{"TMP", tmp};
    zeb::samples::RegisteredNumberedTypes types{kTypeCount};
    std::set<std::string> m_configBefore;
};

} // namespace zeb::test::faults
