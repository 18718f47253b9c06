// Sections in memory for tests and fuzz targets: a value written with its
// section operator gives the stored bytes, and stored bytes read back into a
// value give the stream state the reader left.
//
//   DWORD state = 0;
//   EXPECT_EQ(zeb::test::sectionBytes(tools, state), "0 ");
//   EXPECT_EQ(zeb::test::readSection("2 ...", tools), 0u);
#pragma once

#include "base/fs/FsSecCl.h"
#include "base/fs/FsStream.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace zeb::test {

// A new memory stream holding `bytes`. Running out of memory here ends the
// process: no test or fuzz input can go on without it.
inline ComPtr<IStream> memoryStream(std::string_view bytes = {}) {
    ComPtr<IStream> s;
    if (FAILED(FsStream::create(&s))) std::abort();
    if (!bytes.empty()) s->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    return s;
}

// Every byte of the stream, whatever its position.
inline std::string streamBytes(IStream* s) {
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string bytes(size_t(st.cbSize.QuadPart), '\0');
    s->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    if (!bytes.empty()) s->Read(bytes.data(), ULONG(bytes.size()), nullptr);
    return bytes;
}

// `value` written with its section operator; `state` is the section's state
// after the write (0 when good).
template <class T> std::string sectionBytes(const T& value, DWORD& state) {
    ComPtr<IStream> s = memoryStream();
    {
        FsSecCl sec(s);
        sec << value;
        state = sec.state();
    }
    return streamBytes(s.get());
}

// `bytes` read as a section into `value`; the section's state afterwards.
template <class T> DWORD readSection(std::string_view bytes, T& value) {
    ComPtr<IStream> s = memoryStream(bytes);
    FsSecCl sec(s);
    sec >> value;
    return sec.state();
}

} // namespace zeb::test
