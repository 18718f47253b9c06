// The installation file at volume: opening a 10,000-type installation and
// saving it after one change, each next to a baseline measured in the same
// run.
//
// Run from a release build: bin/installation_file_bench. It prints
//   - opening: making the installation object on the file (the file read
//     once into its working copy in memory, every section read, the
//     classification document parsed), against libxml2 alone parsing the
//     same document text (target: at most 1.5 times);
//   - saving after one attribute change: the installation's save (every
//     section written, the working copy's bytes written to a new file beside
//     the installation file, synced and renamed over it), against
//     serialising the document and writing and syncing the file's bytes to
//     a new file (target: at most 2 times).
// Wall-clock time, best of nine rounds for the open and five for the save:
// both sides do file input and output. The
// installation lives in a temporary configuration directory, removed at the
// end.
#include "bench/BenchSupport.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/win/TextConvert.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"

#include <libxml/parser.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zeb::bench::documentText;
using zeb::bench::now;
using zeb::bench::readAll;
using zeb::bench::writeAndSync;

constexpr uint32_t kTypes = 10000;
constexpr int kRounds = 5;
constexpr int kOpenRounds = 9;

template <class F> double best(F&& run) {
    double fastest = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        const double t0 = now();
        run();
        fastest = std::min(fastest, now() - t0);
    }
    return fastest;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "installation_file_bench: %s\n", what.c_str());
    std::exit(1);
}

// Lets the allocator settle what the previous round freed before the next
// round is timed. glibc sorts small freed blocks into its free lists only
// when a larger block is asked for next, so without this the first larger
// request of a round (in the open: reading the file) would pay for freeing
// the previous round's installation or document. A 32 KiB request is large
// enough to start that sorting, and its release too small to make glibc
// give memory back to the system (which the next round would pay for).
void settleHeap() {
    void* volatile block = std::malloc(32 * 1024);
    std::free(block);
}

} // namespace

int main() {
    char pattern[] = "/tmp/zeb-file-bench-XXXXXX";
    if (!mkdtemp(pattern)) fail("no temporary directory");
    const std::string dir = pattern;
    setenv("ZEB_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    if (!zeb::classification::installDefaultStylesheets(dir)) fail("no stylesheets");

    // The class objects stay registered: the first save describes every type.
    zeb::samples::RegisteredNumberedTypes types(kTypes);
    {
        ComPtr<CZEBIntInstallation> inst;
        if (FAILED(CZEBIntInstallation::createObject(&inst, dir)) || !inst->isFileOpen())
            fail("cannot make the installation");
        for (uint32_t i = 0; i < kTypes; ++i) {
            DWORD ret = 0;
            inst->addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret);
            if (ret != 0) fail("install of type " + std::to_string(i));
        }
        if (!inst->save(true)) fail("the first save");
    }
    const std::string path = dir + "/" + CZEBIntInstallation::kFileName;
    const size_t fileBytes = readAll(path).size();

    // Opening, and libxml2 alone parsing the document text: the rounds
    // alternate, so that a change of load on the machine falls on both sides
    // alike. The opened object is destroyed (its file closed) outside the
    // timing.
    std::string text;
    {
        ComPtr<CZEBIntInstallation> inst;
        CZEBIntInstallation::createObject(&inst, dir);
        text = documentText(*inst);
        if (text.empty()) fail("no document text");
    }
    double open = 1e9, parse = 1e9;
    for (int i = 0; i < kOpenRounds; ++i) {
        settleHeap();
        {
            ComPtr<CZEBIntInstallation> opened;
            const double t0 = now();
            if (FAILED(CZEBIntInstallation::createObject(&opened, dir)) || !opened->isFileOpen() ||
                opened->typeCont().size() != kTypes + 1)
                fail("cannot open the installation");
            open = std::min(open, now() - t0);
        }
        settleHeap();
        const double t0 = now();
        xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, "UTF-8",
                                      XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        if (!doc) fail("libxml2 refused the document text");
        xmlFreeDoc(doc);
        parse = std::min(parse, now() - t0);
    }
    ComPtr<CZEBIntInstallation> inst;
    CZEBIntInstallation::createObject(&inst, dir);

    // Saving after one change.
    uint32_t round = 0;
    double save = best([&] {
        zeb::Bstr key("BI_BENCH"), value(std::to_string(++round).c_str());
        DWORD ret = 0;
        inst->setAttributeByTypeID(zeb::samples::numberedTypeId(round % kTypes), key, value, &ret);
        if (ret != 0 || !inst->save(true)) fail("the save after one change");
    });
    const std::string bytes = readAll(path);
    double write = best([&] {
        const std::string serialised = documentText(*inst);
        if (serialised.empty()) fail("no document text");
        if (!writeAndSync(dir + "/baseline.dat", bytes)) fail("cannot write the baseline file");
    });
    inst.Release();

    std::printf("installation file of %u types: %zu bytes, document text %zu bytes\n", kTypes,
                fileBytes, text.size());
    std::printf("open   (all sections, document parsed)   %8.1f ms\n", open * 1e3);
    std::printf("  libxml2 parsing the document text       %8.1f ms   ratio %.2f (target <= 1.5)\n",
                parse * 1e3, open / parse);
    std::printf("save after one change                     %8.1f ms\n", save * 1e3);
    std::printf("  serialise + write + fsync the bytes     %8.1f ms   ratio %.2f (target <= 2)\n",
                write * 1e3, save / write);

    std::filesystem::remove_all(dir);
    return 0;
}
