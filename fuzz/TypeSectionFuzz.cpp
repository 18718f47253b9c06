// Feeds arbitrary bytes to the type-section reader. Reading must never
// crash, hang or allocate by an unchecked count. A section that reads with a
// good state is written back; that text must read to a container that
// writes the same text again. The same bytes also go through the import of
// the type-data exchange, into a container that holds the internal type.
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"
#include "is/CIsTypeCont.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

ComPtr<IStream> streamWith(const void* data, size_t size) {
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    if (size > 0) s->Write(data, ULONG(size), nullptr);
    return s;
}

std::string written(const CIsTypeCont& cont) {
    ComPtr<IStream> s = streamWith(nullptr, 0);
    {
        FsSecCl sec(s);
        sec << cont;
        if (sec.state() != 0) std::abort();
    }
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string bytes(size_t(st.cbSize.QuadPart), '\0');
    s->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    s->Read(bytes.data(), ULONG(bytes.size()), nullptr);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        ComPtr<IStream> s = streamWith(data, size);
        FsSecCl sec(s);
        CIsTypeCont cont;
        sec >> cont;
        if (sec.state() == 0) {
            const std::string first = written(cont);
            ComPtr<IStream> again = streamWith(first.data(), first.size());
            FsSecCl sec2(again);
            CIsTypeCont back;
            sec2 >> back;
            if (sec2.state() != 0 || back.size() != cont.size()) std::abort();
            if (written(back) != first) std::abort();
        }
    }
    {
        ComPtr<IStream> s = streamWith(data, size);
        FsSecCl sec(s);
        CIsTypeCont cont;
        cont.initTypeCont();
        const DWORD code = cont.importTypeData(sec);
        if (code != 0 && code != 27 && code != 0xFFFF) std::abort();
        if (code == 0 && sec.state() != 0) std::abort();
    }
    return 0;
}
