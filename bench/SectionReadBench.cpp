// Reading a type section of 10,000 entries (the installation file's "types"
// layout: GUIDs, numbers, narrow and wide strings) through FsSecCl, from a
// memory stream. Prints the throughput and its ratio to copying the same
// bytes out of the stream raw, measured in the same run. Goal: >= 150 MB/s.
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEntries = 10000;

GUID guidOf(DWORD i, DWORD salt) {
    GUID g{i * 2654435761u ^ salt, WORD(i), WORD(salt), {}};
    for (int k = 0; k < 8; ++k)
        g.Data4[k] = BYTE((i >> k) ^ (salt * 31 + k));
    return g;
}

ComPtr<IStream> makeTypeSection() {
    ComPtr<IStream> stream;
    FsStream::create(&stream);
    FsSecCl sec(stream);
    sec << kEntries;
    sec.put(' ');
    for (DWORD i = 0; i < kEntries; ++i) {
        sec << guidOf(i, 1);
        sec.put(' ');
        sec << DWORD(i % 9);
        sec.put(' ');
        sec << ("PmType" + std::to_string(i) + ".1.0");
        sec.put(' ');
        sec << guidOf(i, 2);
        sec.put(' ');
        sec << USHORT(1);
        sec.put(' ');
        sec << USHORT(i % 100);
        sec.put(' ');
        sec.put(' ');
        sec << guidOf(i, 3);
        sec.put(' ');
        sec << guidOf(i, 4);
        sec.put(' ');
        sec << DWORD(2);
        sec.put(' ');
        sec << guidOf(i, 5);
        sec.put(' ');
        sec << guidOf(i, 6);
        sec.put(' ');
        sec.put(' ');
        sec << DWORD(1);
        sec.put(' ');
        sec << guidOf(i, 7);
        sec.put(' ');
        sec << "PmExtension";
        sec.put(' ');
        sec << guidOf(i, 8);
        sec.put(' ');
        sec.put(' ');
        sec << DWORD(2);
        sec.put(' ');
        sec << std::u16string_view(u"BI_PROXY_TYPE_ID");
        sec.put(' ');
        sec << std::u16string_view(u"{00000000-0000-0000-0000-000000000000}");
        sec.put(' ');
        sec << std::u16string_view(u"BI_VERSION");
        sec.put(' ');
        sec << std::u16string_view(u"4.1.0.0");
        sec.put(' ');
    }
    return stream;
}

// Reads the section as the type container's reader does; false on any error.
bool readTypeSection(IStream* stream) {
    FsSecCl sec(stream);
    DWORD count = 0;
    sec >> count;
    for (DWORD i = 0; i < count && sec.state() == 0; ++i) {
        GUID id, version, clsid, snapIn, ext, extClsid;
        DWORD typeClass = 0, n = 0;
        USHORT major = 0, minor = 0;
        String name, extName;
        sec >> id >> typeClass >> name >> version >> major >> minor >> clsid >> snapIn;
        sec >> n;
        for (DWORD k = 0; k < n && sec.state() == 0; ++k)
            sec >> snapIn;
        sec >> n;
        for (DWORD k = 0; k < n && sec.state() == 0; ++k)
            sec >> ext >> extName >> extClsid;
        sec >> n;
        for (DWORD k = 0; k < n && sec.state() == 0; ++k) {
            zeb::Bstr key, value;
            sec >> key >> value;
        }
    }
    if (sec.state() != 0)
        std::fprintf(stderr, "state %u at %u\n", sec.state(), sec.errorPosition());
    return sec.state() == 0;
}

DWORD sizeOf(IStream* s) {
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    return DWORD(st.cbSize.QuadPart);
}

void rawRead(IStream* s, std::vector<char>& buf) {
    s->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ULONG n = 0;
    while (SUCCEEDED(s->Read(buf.data(), 16384, &n)) && n > 0) {
    }
}

void BM_ReadTypeSection(benchmark::State& state) {
    ComPtr<IStream> stream = makeTypeSection();
    const DWORD bytes = sizeOf(stream);
    for (auto _ : state)
        if (!readTypeSection(stream)) state.SkipWithError("read error");
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}
BENCHMARK(BM_ReadTypeSection)->Unit(benchmark::kMillisecond);

void BM_RawStreamRead(benchmark::State& state) {
    ComPtr<IStream> stream = makeTypeSection();
    const DWORD bytes = sizeOf(stream);
    std::vector<char> buf(16384);
    for (auto _ : state)
        rawRead(stream, buf);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}
BENCHMARK(BM_RawStreamRead)->Unit(benchmark::kMillisecond);

// Best of several runs, in seconds.
template <class F> double bestOf(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    ComPtr<IStream> stream = makeTypeSection();
    const double mb = sizeOf(stream) / 1e6;
    std::vector<char> buf(16384);
    bool ok = true;
    const double sec = bestOf(15, [&] { ok = readTypeSection(stream) && ok; });
    const double raw = bestOf(15, [&] { rawRead(stream, buf); });
    std::printf("type section: %u entries, %.2f MB\n", kEntries, mb);
    std::printf("FsSecCl read: %.1f MB/s (goal >= 150) %s\n", mb / sec, ok ? "" : "READ ERROR");
    std::printf("raw stream read: %.1f MB/s; FsSecCl takes %.1f x the raw read time\n", mb / raw,
                sec / raw);
    return ok && mb / sec >= 150 ? 0 : 1;
}
