// A writer killed at any point of a save: a child process opens a
// 10,000-type installation and saves it again and again, each save carrying
// a new round number in every section; the parent kills it (SIGKILL) at a
// random moment of its save and then finds the file whole: every section
// reads, every type and its class element are there, every section holds
// the same round (the last completed one or the one in flight), the next
// writer is not refused, and nothing the dead writers left behind piles up.
//
// ZEB_KILL_TEST_ROUNDS sets the number of kills (default 100),
// ZEB_KILL_TEST_SEED replays the kill points of a run (each run prints its
// seed), ZEB_KILL_TEST_TYPES the number of types (default 10,000). The
// sanitizer builds, ten to thirty times slower, default to 10 kills of a
// 2,000-type installation: they look for memory and thread faults on the
// way; the release build makes the full run.
#include "is/CZEBIntInstallation.h"

#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/win/TextConvert.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"
#include "tests/co/ChildScenario.h"
#include "tests/is/RoundMarks.h"
#include "tests/support/ReportingChild.h"
#include "tests/support/Sanitized.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using zeb::test::kSanitized;

using Clock = std::chrono::steady_clock;

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end && *end == 0 ? value : fallback;
}

// The numbered types installed (ZEB_KILL_TEST_TYPES, default 10,000; the
// child inherits the setting).
uint32_t typeCount() {
    static const uint32_t count =
        uint32_t(std::max(3L, envNumber("ZEB_KILL_TEST_TYPES", kSanitized ? 2000 : 10000)));
    return count;
}

// The rounds of the installation of this test's types.
bool applyRound(CZEBIntInstallation& inst, long round) {
    return zeb::test::applyRound(inst, typeCount(), round);
}
zeb::test::Rounds readRounds(CZEBIntInstallation& inst) {
    return zeb::test::readRounds(inst, typeCount());
}

// Everything a complete installation of this test holds, apart from the
// round: "" when whole, else what is wrong.
std::string checkWhole(CZEBIntInstallation& inst) {
    if (!inst.isFileOpen()) return "the file does not open";
    if (inst.typeCont().size() != typeCount() + 1) // and the container's internal type
        return "types: " + std::to_string(inst.typeCont().size());
    for (uint32_t i = 0; i < typeCount(); ++i)
        if (!inst.typeCont().isType(zeb::samples::numberedTypeId(i)))
            return "type " + std::to_string(i) + " is missing";
    const size_t elements = inst.classification().document().selectNodes(u"//ESType").size();
    if (elements != typeCount()) return "class elements: " + std::to_string(elements);
    return {};
}

using zeb::test::entriesOf;

std::string listed(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

std::set<std::string> added(const std::set<std::string>& now, const std::set<std::string>& before) {
    std::set<std::string> extra;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(),
                        std::inserter(extra, extra.end()));
    return extra;
}

// The child: opens the installation for writing, reports "open <read-only>
// <round found>" and then "saved <round>" after every save, until it is
// killed. It returns only when something fails.
ZEB_CHILD_SCENARIO(saveUntilKilled) {
    const int report = int(envNumber("ZEB_KILL_TEST_REPORT_FD", -1));
    auto say = [&](const std::string& line) {
        const std::string text = line + "\n"; // one write: a pipe keeps it whole
        return ::write(report, text.data(), text.size()) == ssize_t(text.size());
    };
    zeb::samples::RegisteredNumberedTypes types{typeCount()};
    ComPtr<CZEBIntInstallation> inst;
    if (CZEBIntInstallation::createObject(&inst, std::string(std::getenv("ZEB_TEST_CONFIG"))) !=
            S_OK ||
        !inst->isFileOpen())
        return std::string("no installation");
    const std::optional<long> found = readRounds(*inst).common();
    if (!say("open " + std::to_string(inst->isReadOnly()) + " " +
             (found ? std::to_string(*found) : std::string("-"))) ||
        !found || inst->isReadOnly())
        return std::string("not the writer of a whole file");
    for (long n = *found + 1; n < *found + 10000; ++n) {
        if (!applyRound(*inst, n)) return "round " + std::to_string(n) + " not applied";
        if (!inst->save(true)) return "save of round " + std::to_string(n) + " failed";
        if (!say("saved " + std::to_string(n))) return std::string("no parent");
    }
    return std::string("never killed");
}

using zeb::test::readReportLines;
using zeb::test::ReportingChild;

// Starts this program again as the child scenario `saveUntilKilled`.
ReportingChild startChild(const std::string& config, const std::string& resultFile) {
    return zeb::test::startReportingChild({{"ZEB_CHILD_SCENARIO", "saveUntilKilled"},
                                           {"ZEB_CHILD_SCENARIO_RESULT", resultFile},
                                           {"ZEB_TEST_CONFIG", config}},
                                          "ZEB_KILL_TEST_REPORT_FD");
}

class InstallationKill : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(config.c_str(), 0755);
        ::mkdir(tmp.c_str(), 0755);
        ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = dir.file("config");
    // Working copies go here, where the test can see what is left of them.
    std::string tmp = dir.file("tmp");
    zeb::test::ScopedEnv tmpEnv{"TMP", tmp};
    zeb::samples::RegisteredNumberedTypes types{typeCount()};
};

TEST_F(InstallationKill, AWriterKilledAnywhereInItsSaveLeavesAWholeFileAndNoGarbage) {
    const long rounds = envNumber("ZEB_KILL_TEST_ROUNDS", kSanitized ? 10 : 100);
    const unsigned seed = unsigned(envNumber("ZEB_KILL_TEST_SEED", long(std::random_device{}())));
    std::printf("kill test: %ld rounds, seed %u (ZEB_KILL_TEST_SEED=%u replays it)\n", rounds, seed,
                seed);
    std::fflush(stdout); // a run that hangs or dies still shows its seed
    SCOPED_TRACE("ZEB_KILL_TEST_SEED=" + std::to_string(seed));

    // The installation, saved with round 0; the time of a save calibrates
    // the kill points.
    double saveSeconds = 0;
    {
        ComPtr<CZEBIntInstallation> inst;
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst, config), S_OK);
        for (uint32_t i = 0; i < typeCount(); ++i) {
            DWORD ret = 1;
            ASSERT_EQ(inst->addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret),
                      S_OK);
            ASSERT_EQ(ret, 0u) << "type " << i;
        }
        ASSERT_TRUE(inst->save(true)); // describes every type
        ASSERT_TRUE(applyRound(*inst, 0));
        ASSERT_TRUE(inst->save(true));
        std::vector<double> times;
        for (long n : {1, 2, 3}) {
            const auto t0 = Clock::now();
            ASSERT_TRUE(applyRound(*inst, n));
            ASSERT_TRUE(inst->save(true));
            times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        }
        std::sort(times.begin(), times.end());
        saveSeconds = times[1];
        ASSERT_EQ(checkWhole(*inst), "");
    }
    std::printf("kill test: one save takes %.1f ms\n", saveSeconds * 1e3);
    std::fflush(stdout);
    const std::set<std::string> configBefore = entriesOf(config);
    const std::set<std::string> tmpBefore = entriesOf(tmp);

    std::mt19937 random(seed);
    // Every other kill comes from the moment the child has opened the file,
    // during its first save, which is slower than the ones after it (the
    // indexes are built, the type objects made); the others wait for that
    // first save to complete and fall over the second one and a little past
    // it, which takes as long as the saves timed here: anywhere from before
    // the first byte is written to after the new file took the name.
    std::uniform_real_distribution<double> killAfter(0.0, 1.3 * saveSeconds);
    long lastSaved = 3;
    int savesSeen = 0, killsLeavingAFileBeside = 0;
    for (long round = 0; round < rounds; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round));
        const std::string result = dir.file("result");
        ::unlink(result.c_str());
        ReportingChild child = startChild(config, result);
        ASSERT_GT(child.pid, 0);
        std::string pending;
        std::vector<std::string> lines;
        const bool living = readReportLines(child.report, Clock::now() + std::chrono::seconds(120),
                                            pending, lines, 1);
        // The dead writer's lock is gone: the new child is the writer, and it
        // found the round the parent found.
        if (lines.empty()) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, nullptr, 0);
            ::close(child.report);
            FAIL() << "the child did not open the file: " << zeb::test::readFile(result);
        }
        ASSERT_EQ(lines.front(), "open 0 " + std::to_string(lastSaved));
        if (round % 2 == 1 && living)
            readReportLines(child.report, Clock::now() + std::chrono::seconds(120), pending, lines,
                            2);
        const auto delay = std::chrono::duration<double>(killAfter(random));
        if (living)
            readReportLines(child.report,
                            Clock::now() + std::chrono::duration_cast<Clock::duration>(delay),
                            pending, lines);
        ::kill(child.pid, SIGKILL);
        readReportLines(child.report, Clock::now() + std::chrono::seconds(30), pending, lines);
        ::close(child.report);
        int status = 0;
        ::waitpid(child.pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status))
            << "the child ended by itself: " << zeb::test::readFile(result);
        for (size_t i = 1; i < lines.size(); ++i) {
            ASSERT_EQ(lines[i], "saved " + std::to_string(lastSaved + 1));
            ++lastSaved;
            ++savesSeen;
        }

        // Read-only, as a looking user would: whole, and one round throughout.
        ComPtr<CZEBIntInstallation> reader;
        ASSERT_EQ(CZEBIntInstallation::createObject(&reader, config,
                                                    CZEBIntInstallation::OpenMode::ReadOnly),
                  S_OK);
        ASSERT_EQ(checkWhole(*reader), "");
        const zeb::test::Rounds found = readRounds(*reader);
        const std::optional<long> common = found.common();
        ASSERT_TRUE(common) << "sections of different saves: " << found.describe();
        ASSERT_TRUE(*common == lastSaved || *common == lastSaved + 1)
            << "round " << *common << " after the save of round " << lastSaved;
        lastSaved = *common;
        reader.Release();

        // What a killed writer leaves (a temporary of its save beside the
        // file, its working copy) may stay until the next writer comes; it
        // never piles up.
        const std::set<std::string> configLeft = added(entriesOf(config), configBefore);
        const std::set<std::string> tmpLeft = added(entriesOf(tmp), tmpBefore);
        ASSERT_LE(configLeft.size(), 1u) << listed(configLeft);
        ASSERT_LE(tmpLeft.size(), 2u) << listed(tmpLeft);
        killsLeavingAFileBeside += !configLeft.empty();
    }

    // The last writer's open: whole, with the last round, and with nothing
    // of the dead writers left.
    ComPtr<CZEBIntInstallation> writer;
    ASSERT_EQ(CZEBIntInstallation::createObject(&writer, config), S_OK);
    EXPECT_FALSE(writer->isReadOnly());
    EXPECT_EQ(checkWhole(*writer), "");
    EXPECT_EQ(readRounds(*writer).common(), lastSaved);
    writer.Release();
    EXPECT_EQ(listed(entriesOf(config)), listed(configBefore));
    EXPECT_EQ(listed(entriesOf(tmp)), listed(tmpBefore));
    std::printf("kill test: %ld kills, %d saves completed, last round %ld, %d kills left a "
                "temporary beside the file\n",
                rounds, savesSeen, lastSaved, killsLeavingAFileBeside);
}

} // namespace
