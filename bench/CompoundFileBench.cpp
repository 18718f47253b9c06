// Compound-file speed: our engine against libgsf on the same file, and
// against reading the file's bytes alone. The file: 2,000 storages with one
// 10 KB stream each (about 20 MB). Ratios are printed at the end, from
// timings of this run.
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/storage/Storage.h"
#include "platform/win/TextConvert.h"

#include <benchmark/benchmark.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStorages = 2000;
constexpr size_t kStreamSize = 10 * 1024;
constexpr DWORD kNew = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::string workDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/zeb-cfb-bench-XXXXXX";
        const char* d = mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    return dir;
}

std::string payload() {
    return std::string(kStreamSize, 'p');
}
std::string storageName(int i) {
    return "Type" + std::to_string(i);
}

void writeOurs(const std::string& file) {
    ComPtr<IStorage> root;
    if (FAILED(StgCreateDocfile(zeb::toWide(file).c_str(), kNew, 0, &root))) std::abort();
    std::string data = payload();
    for (int i = 0; i < kStorages; ++i) {
        ComPtr<IStorage> sub;
        ComPtr<IStream> s;
        if (FAILED(root->CreateStorage(zeb::toWide(storageName(i)).c_str(), kNew, 0, 0, &sub)) ||
            FAILED(sub->CreateStream(u"Data", kNew, 0, 0, &s)) ||
            FAILED(s->Write(data.data(), static_cast<ULONG>(data.size()), nullptr)))
            std::abort();
    }
    if (FAILED(root->Commit(STGC_DEFAULT))) std::abort();
}

void writeGsf(const std::string& file) {
    GsfOutput* sink = gsf_output_stdio_new(file.c_str(), nullptr);
    if (!sink) std::abort();
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    std::string data = payload();
    for (int i = 0; i < kStorages; ++i) {
        GsfOutput* dir = gsf_outfile_new_child(ole, storageName(i).c_str(), TRUE);
        GsfOutput* s = gsf_outfile_new_child(GSF_OUTFILE(dir), "Data", FALSE);
        gsf_output_write(s, data.size(), reinterpret_cast<const guint8*>(data.data()));
        gsf_output_close(s);
        g_object_unref(s);
        gsf_output_close(dir);
        g_object_unref(dir);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
}

const std::string& sampleFile() {
    static std::string file = [] {
        std::string f = workDir() + "/sample.cfb";
        writeOurs(f);
        return f;
    }();
    return file;
}

void BM_ReadFileBytes(benchmark::State& state) {
    std::vector<char> buf;
    for (auto _ : state) {
        int fd = ::open(sampleFile().c_str(), O_RDONLY);
        off_t size = lseek(fd, 0, SEEK_END);
        buf.resize(static_cast<size_t>(size));
        if (pread(fd, buf.data(), buf.size(), 0) != size) std::abort();
        ::close(fd);
        benchmark::DoNotOptimize(buf.data());
    }
}

void BM_ReadOurs(benchmark::State& state) {
    std::vector<char> buf(kStreamSize);
    for (auto _ : state) {
        ComPtr<IStorage> root;
        if (FAILED(StgOpenStorage(zeb::toWide(sampleFile()).c_str(), nullptr, kRead, nullptr, 0,
                                  &root)))
            std::abort();
        ComPtr<IEnumSTATSTG> e;
        root->EnumElements(0, nullptr, 0, &e);
        STATSTG st{};
        size_t total = 0;
        while (e->Next(1, &st, nullptr) == S_OK) {
            ComPtr<IStorage> sub;
            ComPtr<IStream> s;
            root->OpenStorage(st.pwcsName, nullptr, kRead, nullptr, 0, &sub);
            CoTaskMemFree(st.pwcsName);
            sub->OpenStream(u"Data", nullptr, kRead, 0, &s);
            ULONG got = 0;
            s->Read(buf.data(), static_cast<ULONG>(buf.size()), &got);
            total += got;
        }
        if (total != kStorages * kStreamSize) std::abort();
    }
}

void BM_ReadGsf(benchmark::State& state) {
    std::vector<guint8> buf(kStreamSize);
    for (auto _ : state) {
        GsfInput* input = gsf_input_stdio_new(sampleFile().c_str(), nullptr);
        GsfInfile* ole = gsf_infile_msole_new(input, nullptr);
        g_object_unref(input);
        if (!ole) std::abort();
        size_t total = 0;
        int n = gsf_infile_num_children(ole);
        for (int i = 0; i < n; ++i) {
            GsfInput* dir = gsf_infile_child_by_index(ole, i);
            GsfInput* s = gsf_infile_child_by_index(GSF_INFILE(dir), 0);
            gsf_off_t size = gsf_input_size(s);
            if (gsf_input_read(s, static_cast<size_t>(size), buf.data()))
                total += static_cast<size_t>(size);
            g_object_unref(s);
            g_object_unref(dir);
        }
        g_object_unref(ole);
        if (total != kStorages * kStreamSize) std::abort();
    }
}

void BM_WriteOurs(benchmark::State& state) {
    for (auto _ : state)
        writeOurs(workDir() + "/ours.cfb");
}

void BM_WriteGsf(benchmark::State& state) {
    for (auto _ : state)
        writeGsf(workDir() + "/gsf.cfb");
}

BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadGsf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteGsf)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    sampleFile();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    auto ratio = [&](const char* a, const char* b) {
        return t.count(a) && t.count(b) && t[b] > 0 ? t[a] / t[b] : 0.0;
    };
    std::printf("\nread:  libgsf / ours  = %.2f (goal >= 2)\n", ratio("BM_ReadGsf", "BM_ReadOurs"));
    std::printf("read:  ours / bytes   = %.2f (goal <= 8)\n",
                ratio("BM_ReadOurs", "BM_ReadFileBytes"));
    std::printf("write: libgsf / ours  = %.2f (goal > 1)\n", ratio("BM_WriteGsf", "BM_WriteOurs"));
    std::string cleanup = "rm -rf '" + workDir() + "'";
    if (std::system(cleanup.c_str()) != 0) return 1;
    return 0;
}
