// The type registry at volume: installing 1,000 and 10,000 sample types and
// looking types up among 10,000, beside a plain linear scan over the same
// map (the lookup as a scan in GUID order would do it) measured in the same
// run.
//
// Run from a release build: bin/type_registry_bench. It prints
//   - the time per add at 1,000 and at 10,000 types and their ratio
//     (target: at most 1.5);
//   - lookups per second by name, by version-independent name and by runtime
//     identifier at 10,000 types (target: at least 1,000,000 each), each next
//     to the linear scan.
// Each type object's class is registered in the process only while its type
// is installed, so the activation cost does not grow with the number of
// registered classes; only addType itself is timed. Times are processor
// time of the measuring thread.
#include "is/CIsTypeCont.h"
#include "platform/com/Activation.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

// Processor time of this thread: the machines are shared, and time spent
// waiting for a processor must not count as the registry's.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Installs types first..first+n-1; returns the processor seconds spent
// inside addType. Class objects are registered a hundred at a time, outside
// the timed part, so the registration list stays short at every size.
double installTypes(CIsTypeCont& cont, uint32_t n, uint32_t first = 0) {
    constexpr uint32_t kBatch = 100;
    double total = 0;
    for (uint32_t base = first; base < first + n; base += kBatch) {
        uint32_t end = std::min(first + n, base + kBatch);
        const zeb::samples::RegisteredNumberedTypes batch(base, end);
        double t0 = cpuSeconds();
        for (uint32_t i = base; i < end; ++i) {
            GUID id{};
            DWORD r = cont.addType(TC_Device, zeb::samples::numberedTypeClsid(i), id);
            if (r != 0) {
                std::fprintf(stderr, "addType failed for type %u: %u\n", i, r);
                std::exit(1);
            }
        }
        total += cpuSeconds() - t0;
    }
    return total;
}

// Runs `lookup` over the keys until at least `minSeconds` passed; lookups per second.
template <class F> double rate(size_t keys, double minSeconds, F&& lookup) {
    size_t done = 0;
    volatile uint32_t sink = 0;
    double start = cpuSeconds(), elapsed = 0;
    do {
        for (size_t i = 0; i < 256; ++i, ++done)
            sink = sink + lookup(done % keys).Data1;
        elapsed = cpuSeconds() - start;
    } while (elapsed < minSeconds);
    return double(done) / elapsed;
}

// The scans the indexes replace, over the container's own map in GUID order.
GUID scanByName(const CIsTypeCont& cont, const std::string& name) {
    for (const auto& [id, entry] : cont.entries())
        if (entry->m_name.equalsNoCase(name)) return id;
    return GUID_NOTYPE;
}

GUID scanByVidName(const CIsTypeCont& cont, const std::string& name) {
    GUID best = GUID_NOTYPE;
    std::string bestName = name;
    for (const auto& [id, entry] : cont.entries()) {
        if (String(CIsTypeCont::vidName(entry->m_name))
                .equalsNoCase(CIsTypeCont::vidName(bestName)) &&
            CIsTypeCont::compareVersion(entry->m_name, bestName) >= 0) {
            best = id;
            bestName = entry->m_name.c_str();
        }
    }
    return best;
}

// Types without a runtime identity match no runtime-identifier lookup.
GUID scanByRuntimeId(const CIsTypeCont& cont, const RTTypeID& rt) {
    if (!hasRuntimeIdentity(rt)) return GUID_NOTYPE;
    for (const auto& [id, entry] : cont.entries())
        if (sameRuntimeIdentity(entry->m_rtTypeID, rt)) return id;
    return GUID_NOTYPE;
}

} // namespace

int main() {
    // Both sizes run on a warmed heap: freed memory stays in the process
    // (no trimming, no separate mappings for big blocks), and a first run
    // of 10,000 types has touched every page the measured runs need. So the
    // figures compare the registry's own work, not the kernel's first touch
    // of fresh pages, which the larger run would otherwise pay alone.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    {
        CIsTypeCont warmUp; // also loads code and fills caches
        installTypes(warmUp, 10000, 1000000);
    }
    // Each size three times, alternating; the best run of each counts.
    double smallSeconds = 1e9, largeSeconds = 1e9;
    CIsTypeCont large;
    for (int round = 0; round < 3; ++round) {
        CIsTypeCont small;
        smallSeconds = std::min(smallSeconds, installTypes(small, 1000));
        if (round == 0) {
            largeSeconds = installTypes(large, 10000);
        } else {
            CIsTypeCont again;
            largeSeconds = std::min(largeSeconds, installTypes(again, 10000));
        }
    }
    double perAddSmall = smallSeconds / 1000 * 1e6, perAddLarge = largeSeconds / 10000 * 1e6;

    const uint32_t n = 10000;
    std::vector<std::string> names, vidNames;
    std::vector<RTTypeID> runtimeIds;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t k = (i * 7919u) % n; // visit the types in a scattered order
        names.push_back(zeb::samples::numberedTypeName(k));
        vidNames.push_back("benchtype" + std::to_string(k));
        runtimeIds.push_back(RTTypeID{zeb::samples::numberedTypeFamily(k), 1, 0});
    }
    // Every lookup must find its type, by index and by scan alike.
    for (uint32_t i = 0; i < n; i += 997) {
        if (large.getTypeIdByName(names[i]) != scanByName(large, names[i]) ||
            large.getTypeIdByVIDName(vidNames[i]) != scanByVidName(large, vidNames[i]) ||
            large.getTypeIDByRTID(runtimeIds[i]) != scanByRuntimeId(large, runtimeIds[i]) ||
            isNoType(large.getTypeIdByName(names[i]))) {
            std::fprintf(stderr, "indexed and scanned lookups disagree\n");
            return 1;
        }
    }

    double byName = rate(n, 0.5, [&](size_t i) { return large.getTypeIdByName(names[i]); });
    double byVid = rate(n, 0.5, [&](size_t i) { return large.getTypeIdByVIDName(vidNames[i]); });
    double byRt = rate(n, 0.5, [&](size_t i) { return large.getTypeIDByRTID(runtimeIds[i]); });
    double scanName = rate(n, 0.5, [&](size_t i) { return scanByName(large, names[i]); });
    double scanVid = rate(n, 0.5, [&](size_t i) { return scanByVidName(large, vidNames[i]); });
    double scanRt = rate(n, 0.5, [&](size_t i) { return scanByRuntimeId(large, runtimeIds[i]); });

    std::printf("type registry: add and lookup\n");
    std::printf("  add, 1,000 types      %8.2f us per add\n", perAddSmall);
    std::printf("  add, 10,000 types     %8.2f us per add   ratio %.2f (target <= 1.5)\n",
                perAddLarge, perAddLarge / perAddSmall);
    std::printf("  lookups at 10,000 types      indexed/s      linear scan/s   speed-up\n");
    std::printf("  by name               %14.0f %14.0f %10.0fx\n", byName, scanName,
                byName / scanName);
    std::printf("  by VID name           %14.0f %14.0f %10.0fx\n", byVid, scanVid, byVid / scanVid);
    std::printf("  by runtime id         %14.0f %14.0f %10.0fx\n", byRt, scanRt, byRt / scanRt);
    std::printf("  (target: >= 1,000,000 indexed lookups/s each)\n");
    return 0;
}
