// Allocation pools against the general heap, on the registry's own workloads:
// copying and assigning type names of 10 to 60 characters, building and
// destroying 10,000 type-like records (a pooled class with three String
// members), and a mixed allocate/release load on two threads where half the
// objects are released by the other thread.
//
// The program runs every workload twice, each time in a fresh copy of itself:
// once with pooling on and once with "PURIFY_MODE" bit 0 set (every block
// from the general heap), as the switch is read once per process. Each mode
// runs five times, alternating, and the best counts. Times are process CPU
// time (both threads in the mixed load), so other work on a shared machine
// does not count. Prints ns per operation and each child's peak RSS.
//
// String buffers go through the pools only when built with ZEB_STRING_POOLS=ON;
// the first line says which. Run from a release build:
//   build/release/bin/pool_bench
#include "base/falloc/CAllocPool.h"
#include "base/falloc/String.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kChildVar = "ZEB_POOL_BENCH_CHILD";

// Process CPU time (all threads): other work on a shared machine that
// preempts this one does not count.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
    }
};

double nsSince(double start, double ops) {
    return (Clock::now() - start) / ops;
}

// Type names as the registry holds them: identifier, dots and versions.
std::vector<std::string> typeNames(size_t count) {
    static const char* const stems[] = {"PmGlobCommon",
                                        "AxisDriveController",
                                        "Io",
                                        "CamTableWithInterpolation",
                                        "TechnologyObjectPosAxis",
                                        "ExternalEncoder",
                                        "SyncOperationMasterSlaveCoupling"};
    std::vector<std::string> names;
    uint32_t seed = 12345;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::string n = stems[seed % 7];
        n += "_" + std::to_string(i) + "." + std::to_string(seed % 9) + "." +
             std::to_string((seed >> 8) % 13);
        const size_t target = 10 + (seed >> 12) % 51; // 10..60 characters
        while (n.size() < target)
            n += "_Ext";
        n.resize(target);
        names.push_back(n);
    }
    return names;
}

struct TypeRecord : CAllocPool<128> {
    String name;
    String progId;
    String version;
    uint32_t flags = 0;
};

std::atomic<size_t> g_sink{0};

double copyAndAssignNames(const std::vector<String>& names) {
    constexpr int kRounds = 200;
    const auto start = Clock::now();
    String held[8];
    size_t sink = 0;
    for (int r = 0; r < kRounds; ++r) {
        for (size_t i = 0; i < names.size(); ++i) {
            String copy(names[i]); // copy construction
            held[i % 8] = copy;    // assignment into a buffer of another size
            String joined = copy + held[(i + 3) % 8];
            sink += joined.length() + held[i % 8].length();
        }
    }
    g_sink += sink;
    return nsSince(start, double(kRounds) * double(names.size()) * 3);
}

double buildAndDestroyRecords(const std::vector<String>& names) {
    constexpr int kRounds = 20;
    constexpr size_t kRecords = 10000;
    std::vector<TypeRecord*> records(kRecords);
    const auto start = Clock::now();
    for (int r = 0; r < kRounds; ++r) {
        for (size_t i = 0; i < kRecords; ++i) {
            auto* rec = new TypeRecord;
            rec->name = names[i % names.size()];
            rec->progId = names[(i * 7) % names.size()].left(20);
            rec->version = "1.0";
            rec->flags = uint32_t(i);
            records[i] = rec;
        }
        for (TypeRecord* rec : records)
            delete rec;
    }
    return nsSince(start, double(kRounds) * kRecords);
}

// Two threads allocate records and strings of mixed sizes, keep a window of
// live objects, and hand every other record to the other thread to release.
double twoThreadMix(const std::vector<String>& names) {
    constexpr size_t kOps = 400000;
    struct Mailbox {
        std::vector<TypeRecord*> items;
        std::atomic_flag busy = ATOMIC_FLAG_INIT;
        void put(TypeRecord* r) {
            while (busy.test_and_set(std::memory_order_acquire)) {
            }
            items.push_back(r);
            busy.clear(std::memory_order_release);
        }
        std::vector<TypeRecord*> takeAll() {
            std::vector<TypeRecord*> out;
            while (busy.test_and_set(std::memory_order_acquire)) {
            }
            out.swap(items);
            busy.clear(std::memory_order_release);
            return out;
        }
    } boxes[2];
    auto worker = [&](int me) {
        std::vector<String> live(64);
        size_t sink = 0;
        for (size_t i = 0; i < kOps; ++i) {
            const String& n = names[(i * 13 + size_t(me)) % names.size()];
            live[i % 64] = n.left(uint32_t(4 + i % 48));
            auto* rec = new TypeRecord;
            rec->name = n;
            if (i % 2)
                boxes[1 - me].put(rec);
            else
                delete rec;
            if (i % 256 == 0)
                for (TypeRecord* r : boxes[me].takeAll())
                    delete r;
            sink += live[(i + 1) % 64].length();
        }
        g_sink += sink;
    };
    const auto start = Clock::now();
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    for (auto& box : boxes)
        for (TypeRecord* r : box.takeAll())
            delete r;
    return nsSince(start, 2.0 * kOps);
}

int runChild() {
    const std::vector<std::string> raw = typeNames(2000);
    std::vector<String> names(raw.begin(), raw.end());
    std::printf("pooled %d\n", CAllocPoolImpl::modulePool(32)->pooled() ? 1 : 0);
    std::printf("copy %.2f\n", copyAndAssignNames(names));
    std::printf("records %.2f\n", buildAndDestroyRecords(names));
    std::printf("threads %.2f\n", twoThreadMix(names));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rss %ld\n", usage.ru_maxrss);
    return g_sink.load() == 0; // keeps the work observable
}

std::map<std::string, double> runCopy(const std::string& registry) {
    int out[2];
    if (pipe(out) != 0) std::exit(2);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> env = {std::string(kChildVar) + "=1", "ZEB_REGISTRY=" + registry};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "ZEB_REGISTRY=", 13) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, &actions, nullptr, argv, envp.data()) != 0) std::exit(2);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::map<std::string, double> figures;
    char key[32];
    double value = 0;
    for (const char* p = text.c_str(); std::sscanf(p, "%31s %lf", key, &value) == 2;) {
        figures[key] = value;
        p = std::strchr(p, '\n');
        if (!p) break;
        ++p;
    }
    return figures;
}

} // namespace

int main() {
    if (std::getenv(kChildVar)) return runChild();

    char dir[] = "/tmp/pool_benchXXXXXX";
    if (!mkdtemp(dir)) return 2;
    const std::string plain = std::string(dir) + "/plain.reg";
    const std::string purify = std::string(dir) + "/purify.reg";
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis]\r\n";
    for (const auto& [path, text] :
         {std::pair{plain, head}, std::pair{purify, head + "\"PURIFY_MODE\"=dword:00000001\r\n"}}) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return 2;
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }

    std::map<std::string, double> best[2]; // 0 pools, 1 heap
    for (int round = 0; round < 5; ++round) {
        for (int mode = 0; mode < 2; ++mode) {
            for (const auto& [key, value] : runCopy(mode == 0 ? plain : purify)) {
                auto it = best[mode].find(key);
                if (it == best[mode].end() || value < it->second) best[mode][key] = value;
            }
        }
    }
    std::remove(plain.c_str());
    std::remove(purify.c_str());
    rmdir(dir);

    std::printf("String buffers on the pools: %s (build option ZEB_STRING_POOLS)\n",
                StringBuffer::pooled() ? "yes" : "no");
    std::printf("pooling on in the pool runs: %s, in the PURIFY_MODE runs: %s\n",
                best[0]["pooled"] == 1 ? "yes" : "NO", best[1]["pooled"] == 0 ? "no" : "YES");
    std::printf("%-44s %12s %12s %8s\n", "workload (best of 5, CPU time)", "pools", "heap",
                "heap/pools");
    const std::pair<const char*, const char*> rows[] = {
        {"copy", "copy/assign/concatenate a name (ns/op)"},
        {"records", "build+destroy a 3-String record (ns/op)"},
        {"threads", "2-thread alloc/free mix (ns/op)"},
        {"rss", "peak RSS of the whole run (KiB)"}};
    for (const auto& [key, label] : rows) {
        const double pools = best[0][key], heap = best[1][key];
        std::printf("%-44s %12.1f %12.1f %8.2f\n", label, pools, heap,
                    pools > 0 ? heap / pools : 0.0);
    }
    return 0;
}
