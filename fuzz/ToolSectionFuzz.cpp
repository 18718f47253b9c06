// Feeds arbitrary bytes to the tool-section reader. Reading must never
// crash, hang or allocate by an unchecked count or length. A section that
// reads with a good state must write back to bytes that read to a container
// writing the same bytes again (a difference aborts).
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"
#include "is/CIsToolCont.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

ComPtr<IStream> streamOf(const std::string& bytes) {
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    if (!bytes.empty()) s->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    return s;
}

std::string contentOf(IStream* s) {
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string bytes(size_t(st.cbSize.QuadPart), '\0');
    s->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    if (!bytes.empty()) s->Read(bytes.data(), ULONG(bytes.size()), nullptr);
    return bytes;
}

std::string writeTools(const CIsToolCont& tools) {
    ComPtr<IStream> s = streamOf({});
    {
        FsSecCl sec(s);
        sec << tools;
        if (sec.state() != 0) std::abort();
    }
    return contentOf(s);
}

// Reads bytes as a tool section; true when the state is good afterwards.
bool readTools(const std::string& bytes, CIsToolCont& tools) {
    ComPtr<IStream> s = streamOf(bytes);
    FsSecCl sec(s);
    sec >> tools;
    return sec.state() == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIsToolCont first;
    if (!readTools(std::string(reinterpret_cast<const char*>(data), size), first)) return 0;
    const std::string written = writeTools(first);
    CIsToolCont second;
    if (!readTools(written, second)) std::abort();
    if (second.size() != first.size()) std::abort();
    if (writeTools(second) != written) std::abort();
    return 0;
}
