// The whole installation at 1,000 and 10,000 types, phase by phase, each
// phase next to the baseline an earlier benchmark compared it with, measured
// in the same run.
//
// Run from a release build, alone:
//   bin/system_bench [--types 1000,10000] [--rounds 3] [--quick] [--exchange 100]
// For each size the sequence runs in a temporary directory (removed at the
// end):
//   create     install N numbered types, each with one snap-in, one
//              extension type (made through a sample project handler) and
//              three attributes, one of them its PD-file (Drive.pd, written
//              into the configuration directory);
//              baseline: the type container's add alone (refresh_bench);
//   describe   the refresh that describes the N new types and arranges the
//              document (the first save would run it);
//              baseline: the stylesheet transformation alone (refresh_bench);
//   save       the first save;
//              baseline: serialise the document, write and fsync the file's
//              bytes (installation_file_bench);
// then, in a new process (this program run again with --child), which
// prints its figures for this one to read:
//   reopen     making the installation object on the saved file;
//              baseline: libxml2 parsing the document text
//              (installation_file_bench);
//   refresh    the refresh of the reopened installation (nothing new: the
//              arrangement), as refreshXMLTypeOnDemand runs it;
//              baseline: the stylesheet transformation alone;
//   queries    100,000 registered queries (getTypeDescrAttr);
//              baseline: plain libxml2 evaluating the same XPath texts on the
//              parsed document text (query_bench; a few hundred, scaled up);
//   export     exportTypeData of 100 types (--exchange K: K types);
//   import     importTypeData of those storages into a second
//              installation (a copy of the saved file, so it holds as many
//              types and the imports replace theirs);
//   remove     removeType of every second type;
//   save2      the save after the removal;
//              baseline: serialise + write + fsync, as for save.
// Each phase: wall-clock time and peak memory. The peak is VmHWM of
// /proc/self/status, reset before each phase by writing "5" to
// /proc/self/clear_refs; where the kernel does not reset it, the figure is
// the peak of the process so far (said so in the output). The sequence
// runs --rounds times (one with --quick); each phase takes its best round.
// The last column is the ratio of the largest size to the smallest: a phase
// that grows at most linearly stays at or below 1.2 times the size ratio
// (12 for 10,000 against 1,000); a phase above that is flagged.
#include "bench/BenchSupport.h"
#include "is/CIsTypeCont.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/CIsXmlTypeDescriber.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/com/Bstr.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/RegisteredNumberedTypes.h"
#include "samples/SampleIds.h"
#include "samples/tour/SamplePdFiles.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using zeb::bench::documentText;
using zeb::bench::now;
using zeb::bench::readAll;
using zeb::bench::writeAndSync;

namespace fs = std::filesystem;

constexpr uint32_t kQueries = 100000;
constexpr uint32_t kPlainQueries = 200;
uint32_t g_exchanged = 100; // --exchange
const char* const kQueryXPath = ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@RTID";

// The temporary directory of the run (the parent's; empty in the child).
std::string g_root;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "system_bench: %s\n", what.c_str());
    if (!g_root.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(g_root, ec);
    }
    std::exit(1);
}

// Processor time of the process (all its threads): on a loaded machine it
// leaves out the time spent waiting for a processor.
double cpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// VmHWM of this process in kB.
long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Resets the peak to the present resident size; false when the kernel does
// not allow it here.
bool resetPeak() {
    int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return written;
}

// A phase measured: time and peak, and the baselines printed beside it.
struct Figure {
    double seconds = 1e9; // wall clock
    double cpu = 1e9;     // processor time of the process
    long kb = -1;
};

// Everything measured for one size, phase name -> best figure; baselines
// under "base:<phase>".
using Figures = std::map<std::string, Figure>;

void keepBest(Figures& figures, const std::string& name, double seconds, double cpu, long kb) {
    Figure& f = figures[name];
    if (seconds < f.seconds) f.seconds = seconds;
    if (cpu < f.cpu) f.cpu = cpu;
    if (kb >= 0 && (f.kb < 0 || kb < f.kb)) f.kb = kb;
}

// Times `run` as one phase: peak reset before, read after.
template <class F> void phase(Figures& figures, const std::string& name, F&& run) {
    resetPeak();
    const double t0 = now(), c0 = cpuNow();
    run();
    const double seconds = now() - t0, cpu = cpuNow() - c0;
    keepBest(figures, name, seconds, cpu, peakKb());
}

template <class F> void baseline(Figures& figures, const std::string& name, F&& run) {
    const double t0 = now(), c0 = cpuNow();
    run();
    keepBest(figures, "base:" + name, now() - t0, cpuNow() - c0, -1);
}

// The class objects of numbered types [0, n), registered while this lives.
// A project handler for the installation's extension types, attached while
// this lives.
class AttachedHandler {
public:
    explicit AttachedHandler(CZEBIntInstallation& inst) : m_inst(inst) {
        if (FAILED(CSampleProjectHdl::createObject(&m_hdl))) fail("no project handler");
        ComPtr<IMC_PrjHdlHolder> holder;
        m_hdl->getProjectHdlHolder(&holder);
        m_inst.setPrjHdlHolder(holder);
    }
    ~AttachedHandler() { m_inst.setPrjHdlHolder(nullptr); }
    AttachedHandler(const AttachedHandler&) = delete;
    AttachedHandler& operator=(const AttachedHandler&) = delete;

private:
    CZEBIntInstallation& m_inst;
    ComPtr<CSampleProjectHdl> m_hdl;
};

ComPtr<CZEBIntInstallation> openInstallation(const std::string& dir) {
    ComPtr<CZEBIntInstallation> inst;
    if (FAILED(CZEBIntInstallation::createObject(&inst, dir)) || !inst->isFileOpen())
        fail("cannot open the installation in " + dir);
    return inst;
}

// The save's baseline: the document serialised, the file's bytes written to
// a new file and synced.
void writeBaseline(Figures& figures, const std::string& name, CZEBIntInstallation& inst,
                   const std::string& dir) {
    const std::string bytes = readAll(dir + "/" + CZEBIntInstallation::kFileName);
    baseline(figures, name, [&] {
        if (documentText(inst).empty()) fail("no document text");
        if (!writeAndSync(dir + "/baseline.dat", bytes)) fail("cannot write the baseline file");
    });
    fs::remove(dir + "/baseline.dat");
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

void transformBaseline(Figures& figures, const std::string& name, CZEBIntInstallation& inst,
                       const std::string& dir) {
    DirectoryOnly source(dir);
    CIsXmlTypeDescriber describer(inst.classification(), source);
    zeb::xml::DomDocument out;
    baseline(figures, name, [&] {
        if (describer.transformXMLTypeTree(CIsXmlTypeDescriber::kArrangeStylesheet, out) != 0)
            fail("the transformation alone failed");
    });
}

GUID snapInOf(uint32_t i) {
    GUID g = makeGuid("00000000-5A3E-4001-8000-00000000BE0C");
    g.Data1 = i;
    return g;
}

// A spread of the types, so neighbouring queries differ early.
uint32_t spread(uint32_t k, uint32_t n) {
    return uint32_t((uint64_t(k) * 7919u) % n);
}

std::string idText(const GUID& id) {
    OLECHAR text[40] = {};
    StringFromGUID2(id, text, 40);
    return zeb::toNarrow(text);
}

// The parent's phases: create, describe, save. Leaves the saved
// installation in `dir` and a copy of its configuration in `dir`/../target.
void parentPhases(Figures& figures, const std::string& dir, uint32_t n) {
    fs::create_directories(dir);
    std::string error;
    if (!zeb::classification::installDefaultStylesheets(dir, &error))
        fail("no stylesheets: " + error);
    if (!zeb::samples::installSamplePdFiles(dir, &error)) fail("no PD-files: " + error);
    zeb::samples::RegisteredNumberedTypes classes(n);
    ComPtr<CZEBIntInstallation> inst = openInstallation(dir);
    {
        AttachedHandler handler(*inst);
        const zeb::Bstr pdKey(kSamplePdFileAttribute), pdFile(kSampleDrivePdFile);
        const zeb::Bstr orderKey("BI_ORDER"), noteKey("PBI_NOTE"), note("system bench");
        phase(figures, "create", [&] {
            for (uint32_t i = 0; i < n; ++i) {
                const GUID id = zeb::samples::numberedTypeId(i);
                DWORD ret = 0;
                inst->addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret);
                if (ret != 0) fail("install of type " + std::to_string(i));
                inst->addSnapInByTypeID(id, snapInOf(i), &ret);
                if (ret != 0) fail("snap-in of type " + std::to_string(i));
                inst->addExtensionTypeByTypeID(id, kSampleExtensionName, CLSID_SampleExtension,
                                               &ret);
                if (ret != 0) fail("extension of type " + std::to_string(i));
                inst->setAttributeByTypeID(id, orderKey, zeb::Bstr(std::to_string(i).c_str()),
                                           &ret);
                inst->setAttributeByTypeID(id, noteKey, note, &ret);
                inst->setAttributeByTypeID(id, pdKey, pdFile, &ret);
                if (ret != 0) fail("attributes of type " + std::to_string(i));
            }
        });
    }
    baseline(figures, "create", [&] {
        CIsTypeCont cont;
        for (uint32_t i = 0; i < n; ++i) {
            GUID id{};
            if (cont.addType(TC_Device, zeb::samples::numberedTypeClsid(i), id) != 0)
                fail("container add of type " + std::to_string(i));
        }
    });
    phase(figures, "describe", [&] {
        if (inst->refreshXMLTypeTree() != 0) fail("describing the types");
    });
    transformBaseline(figures, "describe", *inst, dir);
    phase(figures, "save", [&] {
        if (!inst->save(true)) fail("the first save");
    });
    writeBaseline(figures, "save", *inst, dir);
    inst = nullptr;

    // The import target: the same configuration, so the same types.
    const std::string target = dir + "/../target";
    fs::create_directories(target);
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), target / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
}

// The child's phases, printed as "phase <name> <seconds> <cpu> <kB>" lines
// (baselines as "base:<name>" with kB -1).
int childPhases(const std::string& dir, uint32_t n) {
    Figures figures;
    if (!zeb::samples::registerServer()) fail("cannot register the samples");
    zeb::samples::RegisteredNumberedTypes classes(n);
    ComPtr<CZEBIntInstallation> inst;
    phase(figures, "reopen", [&] { inst = openInstallation(dir); });
    if (inst->typeCont().size() != n + 1) fail("the reopened installation lacks types");
    const std::string text = documentText(*inst);
    if (text.empty()) fail("no document text");
    baseline(figures, "reopen", [&] {
        xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, "UTF-8",
                                      XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        if (!doc) fail("libxml2 refused the document text");
        xmlFreeDoc(doc);
    });
    auto handler = std::make_unique<AttachedHandler>(*inst);

    phase(figures, "refresh", [&] {
        if (inst->refreshXMLTypeTree() != 0) fail("the refresh of the reopened installation");
    });
    transformBaseline(figures, "refresh", *inst, dir);

    DWORD ret = 0;
    inst->registerXPathQuery("rtid", kQueryXPath, &ret);
    if (ret != 0) fail("cannot register the query");
    const zeb::Bstr queryId("rtid");
    uint32_t answered = 0;
    phase(figures, "queries", [&] {
        for (uint32_t k = 0; k < kQueries; ++k) {
            zeb::Variant result;
            DWORD r = 0;
            if (inst->getTypeDescrAttr(zeb::samples::numberedTypeId(spread(k, n)), queryId, &result,
                                       &r) == S_OK &&
                r == 0)
                ++answered;
        }
    });
    if (answered != kQueries)
        fail(std::to_string(answered) + " of " + std::to_string(kQueries) + " queries answered");
    {
        xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0);
        if (!doc) fail("libxml2 refused the document text");
        xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
        uint32_t found = 0;
        const double t0 = now(), c0 = cpuNow();
        for (uint32_t k = 0; k < kPlainQueries; ++k) {
            std::string xpath = kQueryXPath;
            xpath.replace(xpath.find("%estypeid"), 9,
                          idText(zeb::samples::numberedTypeId(spread(k, n))));
            ctx->node = reinterpret_cast<xmlNodePtr>(doc);
            xmlXPathObjectPtr r =
                xmlXPathEval(reinterpret_cast<const xmlChar*>(xpath.c_str()), ctx);
            if (r && r->nodesetval && r->nodesetval->nodeNr > 0) ++found;
            xmlXPathFreeObject(r);
        }
        const double scale = double(kQueries) / kPlainQueries;
        const double plain = (now() - t0) * scale, plainCpu = (cpuNow() - c0) * scale;
        xmlXPathFreeContext(ctx);
        xmlFreeDoc(doc);
        if (found != kPlainQueries) fail("plain libxml2 missed queries");
        keepBest(figures, "base:queries", plain, plainCpu, -1);
    }

    const uint32_t exchanged = std::min(g_exchanged, n);
    std::vector<ComPtr<IStorage>> storages(exchanged);
    phase(figures, "export", [&] {
        for (uint32_t k = 0; k < exchanged; ++k) {
            DWORD r = 1;
            inst->exportTypeData(zeb::samples::numberedTypeId(spread(k, n)), &storages[k], &r);
            if (r != 0 || !storages[k]) fail("export failed with " + std::to_string(r));
        }
    });
    {
        ComPtr<CZEBIntInstallation> target = openInstallation(dir + "/../target");
        phase(figures, "import", [&] {
            for (uint32_t k = 0; k < exchanged; ++k) {
                DWORD r = 1;
                target->importTypeData(storages[k].get(), &r);
                if (r != 0) fail("import failed with " + std::to_string(r));
            }
        });
    }
    storages.clear();

    phase(figures, "remove", [&] {
        for (uint32_t i = 0; i < n; i += 2) {
            DWORD r = 0;
            inst->removeType(zeb::samples::numberedTypeId(i), &r);
            if (r != 0) fail("removal of type " + std::to_string(i) + ": " + std::to_string(r));
        }
    });
    phase(figures, "save2", [&] {
        if (!inst->save(true)) fail("the save after the removal");
    });
    writeBaseline(figures, "save2", *inst, dir);
    handler.reset(); // before the installation it detaches from
    inst = nullptr;

    for (const auto& [name, f] : figures)
        std::printf("phase %s %.9f %.9f %ld\n", name.c_str(), f.seconds, f.cpu, f.kb);
    return 0;
}

// Runs this program again with --child on `dir` and reads its figures.
void runChild(Figures& figures, const std::string& dir, uint32_t n) {
    int out[2];
    if (::pipe(out) != 0) fail("no pipe");
    const std::string count = std::to_string(n), exchanged = std::to_string(g_exchanged);
    // The program's own path (not /proc/self/exe), so the child carries its
    // name and profilers find its symbols.
    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    if (ec) fail("cannot find this program");
    const pid_t pid = ::fork();
    if (pid < 0) fail("cannot fork");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const char* argv[] = {"system_bench", "--child",         dir.c_str(),
                              count.c_str(),  exchanged.c_str(), nullptr};
        ::execv(self.c_str(), const_cast<char* const*>(argv));
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(got));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the child process failed");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word, name;
        double seconds = 0, cpu = 0;
        long kb = 0;
        if (words >> word >> name >> seconds >> cpu >> kb && word == "phase")
            keepBest(figures, name, seconds, cpu, kb);
    }
}

struct Row {
    const char* phase;
    const char* what;
    const char* baseline; // null: none
};
const Row kRows[] = {
    {"create", "create: types + snap-in + extension + 3 attributes", "type container add alone"},
    {"describe", "describe the new types (refresh)", "stylesheet transformation alone"},
    {"save", "save", "serialise + write + fsync the bytes"},
    {"reopen", "reopen in a new process", "libxml2 parsing the document text"},
    {"refresh", "refresh of the reopened installation", "stylesheet transformation alone"},
    {"queries", "100,000 registered queries", "plain libxml2 XPath (scaled from 200)"},
    {"export", "export 100 types", nullptr},
    {"import", "import 100 types into a second installation", nullptr},
    {"remove", "remove half the types", nullptr},
    {"save2", "save after the removal", "serialise + write + fsync the bytes"},
};

std::vector<uint32_t> parseSizes(const std::string& list) {
    std::vector<uint32_t> sizes;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) sizes.push_back(uint32_t(std::stoul(item)));
    if (sizes.empty()) fail("no sizes in --types");
    return sizes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        g_exchanged = uint32_t(std::stoul(argv[4]));
        return childPhases(argv[2], uint32_t(std::stoul(argv[3])));
    }

    std::vector<uint32_t> sizes = {1000, 10000};
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--types" && i + 1 < argc)
            sizes = parseSizes(argv[++i]);
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--exchange" && i + 1 < argc)
            g_exchanged = uint32_t(std::max(1, std::atoi(argv[++i])));
        else if (arg == "--quick")
            rounds = 1;
        else {
            std::fprintf(stderr, "usage: system_bench [--types 1000,10000] [--rounds N] [--quick] "
                                 "[--exchange K]\n");
            return 2;
        }
    }

    char pattern[] = "/tmp/zeb-system-bench-XXXXXX";
    if (!mkdtemp(pattern)) fail("no temporary directory");
    const std::string root = pattern;
    g_root = root;
    setenv("ZEB_REGISTRY", (root + "/registry.reg").c_str(), 1);
    if (!zeb::samples::registerServer()) fail("cannot register the samples");

    // Does the kernel reset the peak here?
    const bool peakResets = [] {
        std::vector<char> block(64 << 20, 1);
        const long before = peakKb();
        block.clear();
        block.shrink_to_fit();
        return resetPeak() && peakKb() < before;
    }();

    std::vector<Figures> results(sizes.size());
    for (int round = 0; round < rounds; ++round)
        for (size_t s = 0; s < sizes.size(); ++s) {
            const std::string dir =
                root + "/" + std::to_string(sizes[s]) + "-" + std::to_string(round);
            parentPhases(results[s], dir + "/config", sizes[s]);
            runChild(results[s], dir + "/config", sizes[s]);
            std::error_code ec;
            fs::remove_all(dir, ec);
        }

    std::printf("system_bench: best of %d round%s per phase. wall = wall-clock ms, cpu = processor "
                "ms of the process, peak = VmHWM in MB %s\n",
                rounds, rounds == 1 ? "" : "s",
                peakResets ? "of the phase (reset before it through /proc/self/clear_refs)"
                           : "of the process so far (the peak could not be reset here)");
    const double sizeRatio = double(sizes.back()) / double(sizes.front());
    const double limit = 1.2 * sizeRatio;
    std::printf("%-50s", "phase (baseline below it)");
    for (uint32_t n : sizes)
        std::printf(" |%6u: %8s %8s %6s", n, "wall", "cpu", "peak");
    if (sizes.size() > 1) std::printf(" | ratio: wall   cpu  peak");
    std::printf("\n");
    int over = 0;
    for (const Row& row : kRows) {
        std::string what = row.what;
        if (what.rfind("export 100", 0) == 0 || what.rfind("import 100", 0) == 0)
            what.replace(7, 3, std::to_string(g_exchanged));
        std::printf("%-50s", what.c_str());
        for (const Figures& f : results) {
            const Figure& p = f.at(row.phase);
            std::printf(" |        %8.1f %8.1f %6.1f", p.seconds * 1e3, p.cpu * 1e3,
                        double(p.kb) / 1024);
        }
        if (sizes.size() > 1) {
            const Figure& a = results.front().at(row.phase);
            const Figure& b = results.back().at(row.phase);
            const double wall = b.seconds / a.seconds, cpu = b.cpu / a.cpu;
            std::printf(" |      %5.1f %5.1f %5.1f", wall, cpu, double(b.kb) / double(a.kb));
            if (wall > limit || cpu > limit) {
                std::printf("  OVER %.0f (%s)", limit,
                            wall > limit && cpu > limit ? "wall, cpu"
                            : wall > limit              ? "wall"
                                                        : "cpu");
                ++over;
            }
        }
        std::printf("\n");
        if (!row.baseline) continue;
        std::printf("  %-48s", row.baseline);
        const std::string key = std::string("base:") + row.phase;
        for (const Figures& f : results)
            std::printf(" |        %8.1f %8.1f %6s", f.at(key).seconds * 1e3, f.at(key).cpu * 1e3,
                        "");
        if (sizes.size() > 1)
            std::printf(" |      %5.1f %5.1f",
                        results.back().at(key).seconds / results.front().at(key).seconds,
                        results.back().at(key).cpu / results.front().at(key).cpu);
        std::printf("\n");
    }
    if (sizes.size() > 1)
        std::printf("%d phase%s over %.0f (%u against %u types)\n", over, over == 1 ? "" : "s",
                    limit, sizes.back(), sizes.front());

    std::error_code ec;
    fs::remove_all(root, ec);
    return over ? 3 : 0;
}
