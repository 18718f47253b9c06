// The installation at volume: installing types with their classification
// nodes, and refreshing new types into a document that already holds many
// described types.
//
// Run from a release build: bin/refresh_bench. It prints
//   - the time per addTypeByClass on the installation (type container add
//     and class element in the document) at 1,000 and at 10,000 types and
//     their ratio (target: at most 1.5), next to the type container's add
//     alone at both sizes, measured in the same run, so the document's share
//     shows;
//   - the refresh of 10,000 new types into an empty document, per type;
//   - the refresh of 1,000 new types into the document holding those 10,000
//     described types, per new type, next to the stylesheet transformation
//     alone over the resulting 11,000-type document (the describer's
//     transformXMLTypeTree with the same stylesheet and directory: loading
//     the stylesheet and transforming the document, the step the refresh
//     ends with).
// The stylesheets come from a temporary configuration directory holding the
// defaults, removed at the end. Each type object's class is registered in
// the process only while it is needed (its install, or the refresh that
// describes it), outside the timed parts. Times are processor time of the
// measuring thread.
#include "is/CIsTypeCont.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/CIsXmlTypeDescriber.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

// Processor time of this thread: the machines are shared, and time spent
// waiting for a processor must not count as the installation's.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

[[noreturn]] void fail(const char* what, uint32_t n, DWORD code) {
    std::fprintf(stderr, "%s failed for type %u: %u\n", what, n, code);
    std::exit(1);
}

// Installs types first..first+n-1 with `add(i)`; returns the processor
// seconds spent inside the adds. Class objects are registered a hundred at
// a time, outside the timed part, so the registration list stays short.
template <class Add> double installTypes(uint32_t n, uint32_t first, Add&& add) {
    constexpr uint32_t kBatch = 100;
    double total = 0;
    for (uint32_t base = first; base < first + n; base += kBatch) {
        const uint32_t end = std::min(first + n, base + kBatch);
        zeb::samples::RegisteredNumberedTypes classes(base, end);
        const double t0 = cpuSeconds();
        for (uint32_t i = base; i < end; ++i)
            add(i);
        total += cpuSeconds() - t0;
    }
    return total;
}

// Through the installation: container add and class element.
double installThrough(CZEBIntInstallation& inst, uint32_t n, uint32_t first = 0) {
    return installTypes(n, first, [&](uint32_t i) {
        DWORD ret = 0;
        HRESULT hr = inst.addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret);
        if (FAILED(hr) || ret != 0) fail("addTypeByClass", i, FAILED(hr) ? DWORD(hr) : ret);
    });
}

// The type container alone.
double installInContainer(CIsTypeCont& cont, uint32_t n, uint32_t first = 0) {
    return installTypes(n, first, [&](uint32_t i) {
        GUID id{};
        DWORD r = cont.addType(TC_Device, zeb::samples::numberedTypeClsid(i), id);
        if (r != 0) fail("addType", i, r);
    });
}

ComPtr<CZEBIntInstallation> newInstallation(const std::string& configDir) {
    ComPtr<CZEBIntInstallation> inst;
    if (CZEBIntInstallation::createObject(&inst) != S_OK) {
        std::fprintf(stderr, "cannot create the installation\n");
        std::exit(1);
    }
    inst->setConfigurationDirectory(configDir);
    return inst;
}

// Refreshes the new types first..end-1 of `inst`; processor seconds of the
// refresh.
double refresh(CZEBIntInstallation& inst, uint32_t first, uint32_t end) {
    zeb::samples::RegisteredNumberedTypes classes(first,
                                                  end); // the refresh makes their type objects
    const double t0 = cpuSeconds();
    DWORD r = inst.refreshXMLTypeTree();
    const double seconds = cpuSeconds() - t0;
    if (r != 0) fail("refreshXMLTypeTree", first, r);
    return seconds;
}

// What the transformation alone asks of its source: the directory.
struct DirectoryOnly final : TypeDescriptionSource {
    explicit DirectoryOnly(std::string dir) : m_dir(std::move(dir)) {}
    DWORD createTypeObject(const GUID&, IUnknown** object) override {
        *object = nullptr;
        return 65535;
    }
    GUID findTypeByRuntimeId(const RTTypeID&) override { return GUID_NOTYPE; }
    HRESULT typeAttribute(const GUID&, BSTR, BSTR*, DWORD* pRet) override {
        *pRet = 65535;
        return S_OK;
    }
    std::string configurationDirectory() override { return m_dir; }
    std::string m_dir;
};

// The stylesheet transformation alone over the classification document of
// `inst`, as the refresh ends with it (loading the stylesheet, transforming);
// processor seconds of the best of three.
double transformSeconds(CZEBIntInstallation& inst, const std::string& configDir) {
    DirectoryOnly source(configDir);
    CIsXmlTypeDescriber describer(inst.classification(), source);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        zeb::xml::DomDocument out;
        const double t0 = cpuSeconds();
        DWORD r = describer.transformXMLTypeTree(CIsXmlTypeDescriber::kArrangeStylesheet, out);
        best = std::min(best, cpuSeconds() - t0);
        if (r != 0) fail("transformXMLTypeTree", 0, r);
    }
    return best;
}

size_t describedTypes(CZEBIntInstallation& inst) {
    return inst.classification().document().selectNodes(u"Installation/Classified/*").size();
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    // A temporary configuration directory (and registry store) of our own.
    std::string pattern = (fs::temp_directory_path() / "refresh_bench.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string configDir = pattern;
    setenv("ZEB_REGISTRY", (configDir + "/registry.reg").c_str(), 1);
    std::string error;
    if (!zeb::classification::installDefaultStylesheets(configDir, &error)) {
        std::fprintf(stderr, "cannot write the stylesheets: %s\n", error.c_str());
        fs::remove_all(configDir);
        return 1;
    }

    // As type_registry_bench: a warmed heap, so both sizes pay the same for
    // memory and the larger one does not pay the kernel's first touch alone.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    {
        ComPtr<CZEBIntInstallation> warmUp = newInstallation(configDir);
        installThrough(*warmUp, 10000, 1000000);
    }

    // 1. Installing: each size three times, alternating; the best run counts.
    double instSmall = 1e9, instLarge = 1e9, contSmall = 1e9, contLarge = 1e9;
    for (int round = 0; round < 3; ++round) {
        {
            ComPtr<CZEBIntInstallation> inst = newInstallation(configDir);
            instSmall = std::min(instSmall, installThrough(*inst, 1000));
        }
        {
            ComPtr<CZEBIntInstallation> inst = newInstallation(configDir);
            instLarge = std::min(instLarge, installThrough(*inst, 10000));
        }
        {
            CIsTypeCont cont;
            contSmall = std::min(contSmall, installInContainer(cont, 1000));
        }
        {
            CIsTypeCont cont;
            contLarge = std::min(contLarge, installInContainer(cont, 10000));
        }
    }
    const double perInstSmall = instSmall / 1000 * 1e6, perInstLarge = instLarge / 10000 * 1e6;
    const double perContSmall = contSmall / 1000 * 1e6, perContLarge = contLarge / 10000 * 1e6;

    // 2. Refreshing: 10,000 into an empty document, then 1,000 more.
    ComPtr<CZEBIntInstallation> inst = newInstallation(configDir);
    installThrough(*inst, 10000);
    const double refreshFirst = refresh(*inst, 0, 10000);
    installThrough(*inst, 1000, 10000);
    const double refreshMore = refresh(*inst, 10000, 11000);
    const size_t described = describedTypes(*inst);
    if (described != 11000) {
        std::fprintf(stderr, "the document holds %zu described types, not 11000\n", described);
        fs::remove_all(configDir);
        return 1;
    }
    const double transform = transformSeconds(*inst, configDir);
    // For comparison: 1,000 new types into an empty document, and the
    // transformation of the resulting 1,000-type document.
    ComPtr<CZEBIntInstallation> fresh = newInstallation(configDir);
    installThrough(*fresh, 1000, 20000);
    const double refreshSmall = refresh(*fresh, 20000, 21000);
    const double transformSmall = transformSeconds(*fresh, configDir);

    std::printf("installation: addTypeByClass (container add + classification node)\n");
    std::printf("  1,000 types           %8.2f us per type\n", perInstSmall);
    std::printf("  10,000 types          %8.2f us per type   ratio %.2f (target <= 1.5)\n",
                perInstLarge, perInstLarge / perInstSmall);
    std::printf("  container add alone   %8.2f us per type at 1,000, %8.2f us at 10,000 "
                "(ratio %.2f)\n",
                perContSmall, perContLarge, perContLarge / perContSmall);
    std::printf("  document's share      %8.2f us per type at 1,000, %8.2f us at 10,000\n",
                perInstSmall - perContSmall, perInstLarge - perContLarge);
    std::printf("refresh (describe new types, then arrange with %s)\n",
                CIsXmlTypeDescriber::kArrangeStylesheet);
    std::printf("  10,000 new into empty          %10.2f us per type   (%.3f s)\n",
                refreshFirst / 10000 * 1e6, refreshFirst);
    std::printf("  1,000 new into 10,000          %10.2f us per new type (%.3f s)\n",
                refreshMore / 1000 * 1e6, refreshMore);
    std::printf("  transformation alone, 11,000 types: %.3f s (%.2f us per new type, "
                "%.2f us per type in the document)\n",
                transform, transform / 1000 * 1e6, transform / 11000 * 1e6);
    std::printf("  refresh without the transformation: %.2f us per new type\n",
                (refreshMore - transform) / 1000 * 1e6);
    std::printf("  for comparison, 1,000 new into empty: %.2f us per new type; transformation "
                "alone %.3f s; without it %.2f us per new type\n",
                refreshSmall / 1000 * 1e6, transformSmall,
                (refreshSmall - transformSmall) / 1000 * 1e6);

    inst = nullptr;
    fresh = nullptr;
    fs::remove_all(configDir);
    return 0;
}
