// Feeds arbitrary bytes to the section-stream readers. The first bytes (up
// to the first '|', at most 32) choose the run of values to read; the rest
// is the section. Reading must never crash, hang or allocate by an unchecked
// length, and every variant it accepts must write back to a text that reads
// to a variant writing the same text again. The same bytes also describe a
// run of values that are written behind a filler of chosen length (so that
// values fall across the 16 KiB window boundary) and must read back equal.
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string writeVariant(const VARIANT& v) {
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    {
        FsSecCl sec(s);
        sec << v;
    }
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string bytes(size_t(st.cbSize.QuadPart), '\0');
    s->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    s->Read(bytes.data(), ULONG(bytes.size()), nullptr);
    return bytes;
}

void checkVariantRoundTrip(const VARIANT& v) {
    const std::string first = writeVariant(v);
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    s->Write(first.data(), ULONG(first.size()), nullptr);
    FsSecCl sec(s);
    zeb::Variant back;
    sec >> back;
    // A non-finite double is written with state 7, and reading it fails:
    // only values that wrote cleanly must read back.
    if (sec.state() != 0) return;
    if (writeVariant(back) != first) std::abort();
}

struct Item {
    int kind = 0;
    DWORD u = 0;
    INT i = 0;
    float f = 0;
    double d = 0;
    std::string s;
    std::u16string w;
    GUID g{};
};

// Takes n bytes from the input (zeros past its end).
void take(const uint8_t*& p, const uint8_t* end, void* out, size_t n) {
    auto* o = static_cast<uint8_t*>(out);
    for (size_t k = 0; k < n; ++k)
        o[k] = p < end ? *p++ : 0;
}

void checkWriteReadAgreement(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const DWORD filler = DWORD((data[0] | data[1] << 8) % 40000);
    std::vector<Item> items;
    const uint8_t* p = data + 2;
    const uint8_t* end = data + size;
    while (p < end && items.size() < 200) {
        Item it;
        it.kind = *p++ % 7;
        switch (it.kind) {
        case 0:
            take(p, end, &it.u, 4);
            break;
        case 1:
            take(p, end, &it.i, 4);
            break;
        case 2:
            take(p, end, &it.f, 4);
            if (!std::isfinite(it.f)) it.f = 0;
            break;
        case 3:
            take(p, end, &it.d, 8);
            if (!std::isfinite(it.d)) it.d = 0;
            break;
        case 4: {
            uint8_t n = 0;
            take(p, end, &n, 1);
            it.s.resize(n % 64);
            take(p, end, it.s.data(), it.s.size());
            break;
        }
        case 5: {
            uint8_t n = 0;
            take(p, end, &n, 1);
            it.w.resize(n % 32);
            take(p, end, it.w.data(), 2 * it.w.size());
            break;
        }
        case 6:
            take(p, end, &it.g, sizeof it.g);
            break;
        }
        items.push_back(std::move(it));
    }
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    {
        FsSecCl out(s);
        const std::string pad(filler, 'x');
        out.write(pad.data(), DWORD(pad.size()));
        out.put(' ');
        for (const Item& it : items) {
            switch (it.kind) {
            case 0:
                out << it.u;
                break;
            case 1:
                out << it.i;
                break;
            case 2:
                out << it.f;
                break;
            case 3:
                out << it.d;
                break;
            case 4:
                out << it.s;
                break;
            case 5:
                out << std::u16string_view(it.w);
                break;
            case 6:
                out << it.g;
                break;
            }
            out.put(' ');
        }
        if (out.state() != 0) std::abort();
    }
    FsSecCl in(s);
    in.seek(LONG(filler), 0);
    for (const Item& it : items) {
        Item got;
        switch (it.kind) {
        case 0:
            in >> got.u;
            if (got.u != it.u) std::abort();
            break;
        case 1:
            in >> got.i;
            if (got.i != it.i) std::abort();
            break;
        case 2:
            in >> got.f;
            if (got.f != it.f) std::abort();
            break;
        case 3:
            in >> got.d;
            if (got.d != it.d) std::abort();
            break;
        case 4:
            in >> got.s;
            if (got.s != it.s) std::abort();
            break;
        case 5:
            in >> got.w;
            if (got.w != it.w) std::abort();
            break;
        case 6:
            in >> got.g;
            if (!(got.g == it.g)) std::abort();
            break;
        }
        if (in.state() != 0) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t programLength = 0;
    while (programLength < size && programLength < 32 && data[programLength] != '|')
        ++programLength;
    const uint8_t* program = data;
    const size_t bodyStart = programLength < size ? programLength + 1 : size;
    ComPtr<IStream> stream;
    if (FAILED(FsStream::create(&stream))) return 0;
    if (size > bodyStart) stream->Write(data + bodyStart, ULONG(size - bodyStart), nullptr);

    checkWriteReadAgreement(data, size);
    FsSecCl sec(stream);
    if (programLength == 0) return 0;
    for (int round = 0; round < 64; ++round) {
        const uint8_t op = program[round % programLength];
        switch (op % 14) {
        case 0: {
            DWORD v;
            sec >> v;
            break;
        }
        case 1: {
            INT v;
            sec >> v;
            break;
        }
        case 2: {
            USHORT v;
            sec >> v;
            break;
        }
        case 3: {
            SHORT v;
            sec >> v;
            break;
        }
        case 4: {
            BYTE v;
            sec >> v;
            break;
        }
        case 5: {
            float v;
            sec >> v;
            break;
        }
        case 6: {
            double v;
            sec >> v;
            break;
        }
        case 7: {
            std::string v;
            sec >> v;
            break;
        }
        case 8: {
            String v;
            sec >> v;
            break;
        }
        case 9: {
            std::u16string v;
            sec >> v;
            break;
        }
        case 10: {
            GUID v;
            sec >> v;
            break;
        }
        case 11: {
            zeb::Variant v;
            sec >> v;
            if (sec.state() == 0) checkVariantRoundTrip(v);
            break;
        }
        case 12:
            sec.seek(LONG(int8_t(op)) * 97, op & 3);
            break;
        case 13:
            sec.clear();
            break;
        }
    }
    return 0;
}
