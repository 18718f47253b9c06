// Exporting a type with ten dependencies from an installation of 1,000 and of
// 10,000 described types, and importing it into another installation.
//
// Run from a release build: bin/exchange_bench. The package type
// SampleBundle.1.0 depends on the numbered types 1 to 10; an export packs the
// eleven types (install entries and descriptions) into an exchange storage
// in memory, an import reads it into a second installation that holds the
// same number of other types. Wall clock, best of five rounds; the import
// round replaces the types the previous round brought in.
#include "bench/BenchSupport.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using zeb::bench::now;

constexpr int kRounds = 5;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "exchange_bench: %s\n", what.c_str());
    std::exit(1);
}

// An installation in `dir` holding numbered types [from, to), described.
ComPtr<CZEBIntInstallation> installation(const std::string& dir, uint32_t from, uint32_t to,
                                         bool bundle) {
    std::filesystem::create_directories(dir);
    if (!zeb::classification::installDefaultStylesheets(dir)) fail("no stylesheets in " + dir);
    ComPtr<CZEBIntInstallation> inst;
    if (FAILED(CZEBIntInstallation::createObject(&inst, dir)) || !inst->isFileOpen())
        fail("cannot make the installation in " + dir);
    DWORD ret = 0;
    for (uint32_t i = from; i < to; ++i) {
        inst->addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret);
        if (ret != 0) fail("install of type " + std::to_string(i));
    }
    if (bundle) {
        inst->addTypeByClass(CLSID_SampleBundleType, TC_Package, &ret);
        if (ret != 0) fail("install of the bundle: " + std::to_string(ret));
    }
    if (inst->refreshXMLTypeTree() != 0) fail("describing the types");
    return inst;
}

void measure(const std::string& root, uint32_t types) {
    // The source holds types 0 .. types-1 and the bundle; the target as many
    // others, so both documents have the same size.
    auto source = installation(root + "/source", 0, types, true);
    auto target = installation(root + "/target", types, 2 * types, false);
    double exportTime = 1e9, importTime = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        ComPtr<IStorage> storage;
        DWORD ret = 1;
        double t0 = now();
        source->exportTypeData(TYPEID_SampleBundle, &storage, &ret);
        exportTime = std::min(exportTime, now() - t0);
        if (ret != 0 || !storage) fail("export failed with " + std::to_string(ret));
        t0 = now();
        target->importTypeData(storage.get(), &ret);
        importTime = std::min(importTime, now() - t0);
        if (ret != 0) fail("import failed with " + std::to_string(ret));
    }
    BOOL is = FALSE;
    target->isType(zeb::samples::numberedTypeId(10), &is);
    if (!is) fail("the import brought no dependency");
    std::printf("%6u types: export of 11 types %8.2f ms   import %8.2f ms\n", unsigned(types),
                exportTime * 1e3, importTime * 1e3);
}

} // namespace

int main(int argc, char** argv) {
    // The sizes to measure: 1,000 and 10,000 unless named on the command line.
    std::vector<uint32_t> sizes;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(argv[i], &end, 10);
        if (!end || *end || n == 0 || n > 10000) {
            std::fprintf(
                stderr,
                "usage: exchange_bench [TYPES...]   (each 1 to 10000; default 1000 10000)\n");
            return 2;
        }
        sizes.push_back(uint32_t(n));
    }
    if (sizes.empty()) sizes = {1000, 10000};
    char pattern[] = "/tmp/zeb-exchange-bench-XXXXXX";
    if (!mkdtemp(pattern)) fail("no temporary directory");
    const std::string dir = pattern;
    setenv("ZEB_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    if (!zeb::samples::registerServer()) fail("cannot register the samples");
    const zeb::samples::RegisteredNumberedTypes numbered(0, 20000);
    std::printf("type data exchange: SampleBundle.1.0 with 10 dependencies (best of %d)\n",
                kRounds);
    for (uint32_t n : sizes)
        measure(dir + "/" + std::to_string(n), n);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
