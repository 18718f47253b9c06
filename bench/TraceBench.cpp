// The cost of a trace call: unreleased (the common case, which must cost
// nothing measurable: one query of the trace library) and released (header,
// formatting by the library, one write to /dev/null), beside two baselines
// measured in the same run: formatting the same message with snprintf, and
// writing a line of the same length to /dev/null.
//
// Run from a release build: bin/trace_bench. The summary at the end gives
// the unreleased cost against its target (under 50 ns) and the ratios.
#include "co/CCoTraceRecord.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

namespace {

void unreleasedTrace(benchmark::State& state) {
    CCoTraceRecord rec("is_data", "CIsTypeCont::addType");
    for (auto _ : state)
        ZEB_TRACE(rec, 1, "internal type inserted: %s (%d)", "PmGlobCommon.1.1", 7);
}
BENCHMARK(unreleasedTrace);
BENCHMARK(unreleasedTrace)->Threads(2);

void releasedTrace(benchmark::State& state) {
    CCoTraceRecord rec("is_data", "CIsTypeCont::addType");
    for (auto _ : state)
        ZEB_TRACE(rec, 4, "internal type inserted: %s (%d)", "PmGlobCommon.1.1", 7);
}
BENCHMARK(releasedTrace);

void snprintfBaseline(benchmark::State& state) {
    char text[512];
    for (auto _ : state) {
        std::snprintf(text, sizeof text, "%s [%s (%d), module: %s, thread: 0x%X]",
                      "CIsTypeCont::addType", "is_data", 120, "trace_bench", 1u);
        benchmark::DoNotOptimize(text);
        std::snprintf(text, sizeof text, "internal type inserted: %s (%d)", "PmGlobCommon.1.1", 7);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(snprintfBaseline);

void writeBaseline(benchmark::State& state) {
    int fd = ::open("/dev/null", O_WRONLY | O_APPEND);
    const std::string line = "CIsTypeCont::addType [is_data (120), module: trace_bench, thread: "
                             "0x1] L4: internal type inserted: PmGlobCommon.1.1 (7)\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
}
BENCHMARK(writeBaseline);

// Keeps each benchmark's time per iteration (ns) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = nanoseconds(run);
    }
    std::map<std::string, double> times;

private:
    static double nanoseconds(const Run& run) {
        return run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
};

} // namespace

int main(int argc, char** argv) {
    // Before the first trace: the trace context reads its configuration once.
    setenv("ZEB_TRACE", "4", 1);
    setenv("ZEB_TRACE_FILE", "/dev/null", 1);
    setenv("ZEB_REGISTRY", "/nonexistent-zeb-bench/registry.reg", 1); // silent tracing off

    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto t = [&](const char* name) {
        auto it = reporter.times.find(name);
        return it == reporter.times.end() ? 0.0 : it->second;
    };
    double unreleased = t("unreleasedTrace");
    double released = t("releasedTrace");
    double format = t("snprintfBaseline");
    double write = t("writeBaseline");
    if (unreleased <= 0 || released <= 0) return 0; // filtered out
    std::printf("\nunreleased trace call: %.1f ns (target < 50 ns: %s)\n", unreleased,
                unreleased < 50 ? "met" : "MISSED");
    std::printf("released trace call:   %.1f ns to /dev/null\n", released);
    if (format > 0 && write > 0)
        std::printf("released / (snprintf + write baseline): %.2f; unreleased / released: %.4f\n",
                    released / (format + write), unreleased / released);
    return 0;
}
