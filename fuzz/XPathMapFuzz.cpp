// Feeds arbitrary bytes to the reader of the XPath map's section. Reading
// must never crash, hang or allocate by an unchecked length; a map that
// read cleanly must write a section that reads back to the same map and
// writes the same bytes again.
#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"
#include "is/CIsXPathMap.h"

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

std::string bytesOf(const CIsXPathMap& map) {
    ComPtr<IStream> s = streamOf({});
    {
        FsSecCl sec(s);
        sec << map;
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
    CIsXPathMap map;
    {
        FsSecCl sec(streamOf(std::string(reinterpret_cast<const char*>(data), size)));
        sec.seek(0, 0);
        sec >> map;
        if (sec.state() != 0) return 0;
    }
    const std::string first = bytesOf(map);
    CIsXPathMap back;
    FsSecCl sec(streamOf(first));
    sec.seek(0, 0);
    sec >> back;
    if (sec.state() != 0 || back.entries() != map.entries() || bytesOf(back) != first) std::abort();
    return 0;
}
