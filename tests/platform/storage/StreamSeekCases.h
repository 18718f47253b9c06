// Seek cases every IStream of ours must pass: the three origins, refused
// origins and negative results that keep the position, positions beyond the
// end up to the stream's last position, and moves so large that adding
// them would overflow.
//
// A test program instantiates them once for each stream it can make:
//
//   INSTANTIATE_TEST_SUITE_P(MemoryStream, StreamSeekRule,
//                            ::testing::Values(SeekSubject{"HGlobal", makeHGlobal, 0xFFFFFFFF}),
//                            seekSubjectName);
//
// Include this header from one source file per test program only.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/storage/Storage.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace zeb::test {

struct SeekSubject {
    const char* name;
    // A new stream holding no bytes yet; `owner` keeps whatever the stream
    // needs alive (its storage), files go under `dir`.
    HRESULT (*make)(const TempDir& dir, ComPtr<IStream>& stream, ComPtr<IUnknown>& owner);
    // The last position the stream accepts.
    uint64_t lastPosition;
};

inline void PrintTo(const SeekSubject& subject, std::ostream* os) {
    *os << subject.name;
}

inline std::string seekSubjectName(const ::testing::TestParamInfo<SeekSubject>& info) {
    return info.param.name;
}

class StreamSeekRule : public ::testing::TestWithParam<SeekSubject> {
protected:
    static constexpr HRESULT kInvalidFunction = static_cast<HRESULT>(0x80030001);
    static constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    static constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

    void SetUp() override {
        ASSERT_EQ(GetParam().make(dir, stream, owner), S_OK);
        ULONG put = 0;
        ASSERT_EQ(stream->Write("0123456789", 10, &put), S_OK);
        ASSERT_EQ(put, 10u);
    }

    // The new position, or the error code when the seek fails.
    uint64_t seek(int64_t move, DWORD origin, HRESULT* result = nullptr) {
        LARGE_INTEGER m{};
        m.QuadPart = move;
        ULARGE_INTEGER to{};
        to.QuadPart = 0xDEADBEEF;
        HRESULT hr = stream->Seek(m, origin, &to);
        if (result) *result = hr;
        return to.QuadPart;
    }
    HRESULT seekResult(int64_t move, DWORD origin) {
        HRESULT hr = S_OK;
        seek(move, origin, &hr);
        return hr;
    }
    uint64_t position() { return seek(0, STREAM_SEEK_CUR); }

    TempDir dir;
    ComPtr<IUnknown> owner;
    ComPtr<IStream> stream;
};

TEST_P(StreamSeekRule, EachOriginMovesFromItsBase) {
    EXPECT_EQ(seek(3, STREAM_SEEK_SET), 3u);
    EXPECT_EQ(seek(2, STREAM_SEEK_CUR), 5u);
    EXPECT_EQ(seek(-1, STREAM_SEEK_CUR), 4u);
    EXPECT_EQ(seek(-2, STREAM_SEEK_END), 8u);
    EXPECT_EQ(seek(0, STREAM_SEEK_END), 10u);
    EXPECT_EQ(seek(-10, STREAM_SEEK_END), 0u);
    // The new position is optional.
    LARGE_INTEGER m{};
    m.QuadPart = 7;
    EXPECT_EQ(stream->Seek(m, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(position(), 7u);
    char c = 0;
    ULONG got = 0;
    ASSERT_EQ(stream->Read(&c, 1, &got), S_OK);
    EXPECT_EQ(c, '7');
}

TEST_P(StreamSeekRule, UnknownOriginsAndNegativeResultsKeepThePosition) {
    ASSERT_EQ(seek(4, STREAM_SEEK_SET), 4u);
    for (DWORD origin : {3u, 4u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(seekResult(0, origin), kInvalidFunction) << origin;
    EXPECT_EQ(seekResult(-1, STREAM_SEEK_SET), kInvalidFunction);
    EXPECT_EQ(seekResult(-5, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(-11, STREAM_SEEK_END), kInvalidFunction);
    EXPECT_EQ(seekResult(kMin, STREAM_SEEK_SET), kInvalidFunction);
    EXPECT_EQ(seekResult(kMin, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(kMin, STREAM_SEEK_END), kInvalidFunction);
    EXPECT_EQ(position(), 4u);
    EXPECT_EQ(seek(-4, STREAM_SEEK_CUR), 0u);
}

TEST_P(StreamSeekRule, PositionsBeyondTheEndStopAtTheLastPosition) {
    const uint64_t last = GetParam().lastPosition;
    EXPECT_EQ(seek(15, STREAM_SEEK_SET), 15u);
    EXPECT_EQ(seek(static_cast<int64_t>(last), STREAM_SEEK_SET), last);
    EXPECT_EQ(seek(0, STREAM_SEEK_CUR), last);
    EXPECT_EQ(seekResult(1, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(static_cast<int64_t>(last) + 1, STREAM_SEEK_SET), kInvalidFunction);
    EXPECT_EQ(seekResult(static_cast<int64_t>(last) - 9, STREAM_SEEK_END), kInvalidFunction);
    EXPECT_EQ(position(), last);
    EXPECT_EQ(seek(static_cast<int64_t>(last) - 10, STREAM_SEEK_END), last);
    EXPECT_EQ(seek(-static_cast<int64_t>(last), STREAM_SEEK_CUR), 0u);
}

TEST_P(StreamSeekRule, HugeMovesAreRefusedWithoutOverflow) {
    ASSERT_EQ(seek(4, STREAM_SEEK_SET), 4u);
    EXPECT_EQ(seekResult(kMax, STREAM_SEEK_SET), kInvalidFunction);
    EXPECT_EQ(seekResult(kMax, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(kMax, STREAM_SEEK_END), kInvalidFunction);
    EXPECT_EQ(seekResult(kMax - 3, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(0x100000000ll, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(0x7FFFFFFFFFFFFFF6ll, STREAM_SEEK_END), kInvalidFunction);
    EXPECT_EQ(position(), 4u);
    ASSERT_EQ(seek(static_cast<int64_t>(GetParam().lastPosition), STREAM_SEEK_SET),
              GetParam().lastPosition);
    EXPECT_EQ(seekResult(kMax, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(seekResult(kMin, STREAM_SEEK_CUR), kInvalidFunction);
    EXPECT_EQ(position(), GetParam().lastPosition);
}

TEST_P(StreamSeekRule, BeyondTheEndNothingIsReadOrCopiedAndAWriteExtends) {
    ASSERT_EQ(seek(5, STREAM_SEEK_END), 15u);
    char buf[4] = {};
    ULONG got = 9;
    EXPECT_EQ(stream->Read(buf, 4, &got), S_OK);
    EXPECT_EQ(got, 0u);
    ComPtr<IStream> sink;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &sink), S_OK);
    ULARGE_INTEGER cb{}, read{}, written{};
    cb.QuadPart = 100;
    read.QuadPart = written.QuadPart = 9;
    EXPECT_EQ(stream->CopyTo(sink, cb, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 0u);
    EXPECT_EQ(written.QuadPart, 0u);
    EXPECT_EQ(position(), 15u);
    ULONG put = 0;
    ASSERT_EQ(stream->Write("!", 1, &put), S_OK);
    STATSTG st{};
    ASSERT_EQ(stream->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 16u);
}

TEST_P(StreamSeekRule, AnEmptyStreamPositionedBeyondItsEndCopiesNothing) {
    // A stream that never held a byte may have no buffer at all.
    TempDir otherDir;
    ComPtr<IUnknown> otherOwner;
    ComPtr<IStream> empty;
    ASSERT_EQ(GetParam().make(otherDir, empty, otherOwner), S_OK);
    LARGE_INTEGER m{};
    m.QuadPart = 5;
    ASSERT_EQ(empty->Seek(m, STREAM_SEEK_SET, nullptr), S_OK);
    ComPtr<IStream> sink;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &sink), S_OK);
    ULARGE_INTEGER cb{}, read{}, written{};
    cb.QuadPart = 100;
    EXPECT_EQ(empty->CopyTo(sink, cb, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 0u);
    EXPECT_EQ(written.QuadPart, 0u);
    char c = 0;
    ULONG got = 9;
    EXPECT_EQ(empty->Read(&c, 1, &got), S_OK);
    EXPECT_EQ(got, 0u);
}

} // namespace zeb::test
