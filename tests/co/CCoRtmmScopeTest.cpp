// The RTMM scope: its marks and the module's switch.
#include "co/CCoRtmmScope.h"
#include "platform/win/Registry.h"
#include "tests/co/TraceLog.h"

#include <gtest/gtest.h>

#include <optional>

using zeb::test::runTraced;
using zeb::test::ScopedEnv;
using zeb::test::TempDir;

namespace {

ZEB_CHILD_SCENARIO(explicitRtmmScopes) {
    { CCoRtmmScope scope(true, "3", "CZEBIntInstallation::save"); }
    { CCoRtmmScope scope(false, "0", "CIsXPathQuery::evaluate"); }
    return "done";
}

ZEB_CHILD_SCENARIO(moduleRtmmScope) {
    { CCoRtmmScope scope("0", "CIsXmlDoc::load"); }
    return CCoRtmmScope::isActive() ? "active" : "inactive";
}

// Runs moduleRtmmScope with "rtmm\active" set to `value` (none: absent).
zeb::test::TracedRun runWithSwitch(std::optional<DWORD> value) {
    TempDir dir;
    ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    if (value)
        zeb::RegistryStore::writeDword(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis\\rtmm", "active", *value);
    return runTraced("moduleRtmmScope", "all", {{"ZEB_REGISTRY", dir.file("registry.reg")}});
}

} // namespace

TEST(RtmmScope, ActiveScopeMarksBeginAndEndAtLevelFive) {
    auto run = runTraced("explicitRtmmScopes");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 2u) << run.text;
    EXPECT_EQ(run.lines[0].rfind("RTMMTracer::trace [RTMMTracer (57), module: co_tests", 0), 0u);
    EXPECT_NE(run.lines[0].find("] L5: RTMM+3+BEGIN+CZEBIntInstallation::save"), std::string::npos)
        << run.lines[0];
    EXPECT_NE(run.lines[1].find("] L5: RTMM+3+END+CZEBIntInstallation::save"), std::string::npos)
        << run.lines[1];
}

TEST(RtmmScope, SwitchReadAtModuleStartDecidesWhetherScopesTrace) {
    auto on = runWithSwitch(1);
    ASSERT_EQ(on.exitCode, 0);
    EXPECT_EQ(on.output, "active");
    EXPECT_EQ(on.linesWith("RTMM+0+").size(), 2u) << on.text;

    for (auto value : {std::optional<DWORD>(0), std::optional<DWORD>(2), std::optional<DWORD>()}) {
        auto off = runWithSwitch(value);
        ASSERT_EQ(off.exitCode, 0);
        EXPECT_EQ(off.output, "inactive");
        EXPECT_TRUE(off.lines.empty()) << off.text;
    }
}
