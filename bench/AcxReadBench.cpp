// Reading PD-files of about 50 MB in all through CIsAcxReader::init (the ACX
// reader, the PD-file content handler and its tag tree), gzip-compressed and
// plain, beside the baseline `gzip -dc file > /dev/null` on the same
// compressed file, all measured in the same run. In-place unpacking is off,
// so the compressed file is read through the decompressor every time.
//
// The file is generated into a temporary directory: many small integer and
// string tags in nested compounds, as PD-files carry them (base sections with
// header values, base and view data with their ES data), so every value goes
// through the collectors. A tag's length has 23 bits, so a PD-file (one
// document tag) holds at most 8 MB: the 50 MB are seven files of 7.5 MB, and
// the baseline decompresses the same seven files in one gzip process.
//
// Run from a release build: bin/acx_read_bench. The summary at the end gives
// gzip ratio (target <= 1.5), plain throughput (target >= 300 MB/s) and the
// peak memory of one parse, measured in a child process.
#include "is/isacx/CIsAcxReader.h"
#include "tests/acx/AcxBuilder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zeb::test::acx;

std::string makeContent(size_t target, unsigned seed) {
    std::mt19937 rng(seed);
    auto text = [&](size_t n) {
        std::string s(n, 'a');
        for (auto& c : s)
            c = char('a' + rng() % 26);
        return s;
    };
    auto hex = [&] {
        std::string s(32, '0');
        for (auto& c : s)
            c = "0123456789ABCDEF"[rng() % 16];
        return s;
    };
    auto esData = [&] { return compound(2365, str(66, text(6 + rng() % 14)) + str(2121, hex())); };
    auto baseData = [&] {
        return compound(2145, u16(2129, rng() % 8) + u16(2146, rng() % 2) + u32(17, rng()) +
                                  str(2121, hex()) + u8(2122, rng() % 9) + u8(2123, rng() % 9) +
                                  esData());
    };
    auto viewData = [&] {
        return compound(2147, u16(136, rng() % 2) + str(2121, hex()) + u8(2122, rng() % 9) +
                                  u8(2123, rng() % 9) + esData());
    };
    // Base sections as PD-files carry them, about 1 MB each.
    std::string bulk, chunk;
    while (bulk.size() < target) {
        chunk.clear();
        while (chunk.size() < 1024 * 1024) {
            std::string section = u8(2088, rng() % 4) + u8(2089, rng() % 4) +
                                  str(150, text(4 + rng() % 12)) + str(67, text(8 + rng() % 24)) +
                                  str(142, text(3 + rng() % 6)) + u16(135, rng()) + u32(161, rng());
            for (int i = 0; i < 8; ++i)
                section += baseData() + viewData();
            chunk += section;
        }
        bulk += compound(2144, chunk);
    }
    // The last section decides the record: the bench checks it was read.
    return bulk + compound(2144, u8(2088, 1) + str(150, "Big") + compound(2145, u16(2129, 3)));
}

// A tag's length has 23 bits, so one PD-file (one document tag) holds at
// most 8 MB: the 50 MB are seven files of about 7.5 MB each.
constexpr int kFiles = 7;
constexpr size_t kContentPerFile = 7'200'000; // stays below 8 MB after the last section

struct Files {
    std::string dir, gzipList;
    std::vector<std::string> plain, packed;
    size_t bytes = 0, packedBytes = 0;
};

const Files& files() {
    static const Files f = [] {
        Files f;
        char tmpl[] = "/tmp/acx_bench.XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        f.dir = tmpl;
        for (int i = 0; i < kFiles; ++i) {
            std::string content = document(makeContent(kContentPerFile, unsigned(i)));
            std::string plain = f.dir + "/big" + std::to_string(i) + ".pd";
            std::string packed = plain + ".gz";
            writePlain(plain, content);
            writeGzip(packed, content, 6);
            f.plain.push_back(plain);
            f.packed.push_back(packed);
            f.gzipList += " '" + packed + "'";
            f.bytes += content.size();
            f.packedBytes +=
                size_t(std::ifstream(packed, std::ios::ate | std::ios::binary).tellg());
        }
        return f;
    }();
    return f;
}

void parseFile(const std::string& path) {
    CIsAcxReader pd;
    pd.setUnpackInPlace(false);
    pd.init(path.c_str());
    if (pd.header().m_wViewId != 3 || pd.lastFatal() != 0) {
        std::fprintf(stderr, "bench file misread (fatal %d)\n", pd.lastFatal());
        std::abort();
    }
}

void parseAll(const std::vector<std::string>& paths) {
    for (const auto& path : paths)
        parseFile(path);
}

void gunzipAll() {
    if (std::system(("gzip -dc" + files().gzipList + " > /dev/null").c_str()) != 0) std::abort();
}

void gzipDashDcBaseline(benchmark::State& state) {
    for (auto _ : state)
        gunzipAll();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files().bytes));
}
BENCHMARK(gzipDashDcBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void parseGzipPdFile(benchmark::State& state) {
    for (auto _ : state)
        parseAll(files().packed);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files().bytes));
}
BENCHMARK(parseGzipPdFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void parsePlainPdFile(benchmark::State& state) {
    for (auto _ : state)
        parseAll(files().plain);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files().bytes));
}
BENCHMARK(parsePlainPdFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

long vmHwmKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Peak resident memory of a fresh process before and after parsing the files.
std::pair<long, long> peakOfParse(const std::vector<std::string>& paths) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, -1};
    pid_t pid = fork();
    if (pid == 0) {
        long before = vmHwmKb();
        parseAll(paths);
        long after = vmHwmKb();
        long both[2] = {before, after};
        if (write(fds[1], both, sizeof both) != sizeof both) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long both[2] = {-1, -1};
    if (read(fds[0], both, sizeof both) != sizeof both) both[0] = both[1] = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return {both[0], both[1]};
}

struct Times {
    double wall = 1e9, cpu = 1e9; // seconds; cpu counts this process and its children
};

double cpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Keeps the best wall and the best CPU time of the runs.
template <class Body> void measure(Times& best, Body body) {
    double c0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    body();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, cpuSeconds() - c0);
}

} // namespace

int main(int argc, char** argv) {
    files(); // generate before any timing
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Summary: best of 5 of each, interleaved, so drift hits all alike. CPU
    // times are given beside wall times: on a loaded machine they are the
    // steadier figure.
    Times gz, packed, plain;
    for (int round = 0; round < 5; ++round) {
        measure(gz, gunzipAll);
        measure(packed, [] { parseAll(files().packed); });
        measure(plain, [] { parseAll(files().plain); });
    }
    const double mb = double(files().bytes) / 1e6;
    auto [before, after] = peakOfParse(files().packed);
    auto [beforePlain, afterPlain] = peakOfParse(files().plain);
    std::printf("\n%d PD-files, %.1f MB uncompressed, %.1f MB gzip\n", kFiles, mb,
                double(files().packedBytes) / 1e6);
    std::printf("                          wall ms   cpu ms\n");
    std::printf("gzip -dc > /dev/null     %8.1f %8.1f\n", gz.wall * 1e3, gz.cpu * 1e3);
    std::printf("init, gzip files         %8.1f %8.1f  ratio to gzip -dc: wall %.2f, cpu %.2f "
                "(target <= 1.5)\n",
                packed.wall * 1e3, packed.cpu * 1e3, packed.wall / gz.wall, packed.cpu / gz.cpu);
    std::printf("init, plain files        %8.1f %8.1f  wall %.0f MB/s, cpu %.0f MB/s (target >= "
                "300)\n",
                plain.wall * 1e3, plain.cpu * 1e3, mb / plain.wall, mb / plain.cpu);
    std::printf("peak memory (VmHWM) of a process parsing all files: gzip %.1f MB, plain %.1f MB "
                "(%.1f MB before the parse)\n",
                after / 1024.0, afterPlain / 1024.0, std::max(before, beforePlain) / 1024.0);
    std::string rm = "rm -rf '" + files().dir + "'";
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
