// The seek rule of the compound-file streams and the memory streams on a
// global block, and the position arithmetic they share.
#include "platform/storage/StreamSeek.h"
#include "tests/platform/storage/StorageTestUtil.h"
#include "tests/platform/storage/StreamSeekCases.h"

#include <gtest/gtest.h>

using namespace zeb;
using namespace zeb::test;

namespace {

HRESULT makeCompoundFileStream(const TempDir& dir, ComPtr<IStream>& stream,
                               ComPtr<IUnknown>& owner) {
    ComPtr<IStorage> root;
    std::u16string path = w(dir.file("seek.cfb"));
    HRESULT hr = StgCreateDocfile(path.c_str(), kNew, 0, &root);
    if (FAILED(hr)) return hr;
    hr = root->CreateStream(u"S", kNew, 0, 0, &stream);
    if (FAILED(hr)) return hr;
    return root.QueryInterface(&owner);
}

HRESULT makeGlobalMemoryStream(const TempDir&, ComPtr<IStream>& stream, ComPtr<IUnknown>&) {
    return CreateStreamOnHGlobal(nullptr, TRUE, &stream);
}

// Both stop at 4 GiB - 1: a compound-file stream cannot grow past it, nor
// can the global block under a memory stream.
INSTANTIATE_TEST_SUITE_P(
    PlatformStreams, StreamSeekRule,
    ::testing::Values(SeekSubject{"CompoundFile", makeCompoundFileStream, 0xFFFFFFFFull},
                      SeekSubject{"GlobalMemory", makeGlobalMemoryStream, 0xFFFFFFFFull}),
    seekSubjectName);

// Positions and sizes a test cannot reach through a stream cheaply: a
// stream already larger than its last position (a version 4 file's stream),
// and moves at the ends of the 64-bit range.
TEST(StreamSeekPosition, TheArithmeticHoldsAtTheEndsOfTheRange) {
    const HRESULT kInvalidFunction = static_cast<HRESULT>(0x80030001);
    const int64_t kMax = INT64_MAX;
    const int64_t kMin = INT64_MIN;
    uint64_t to = 77;
    EXPECT_EQ(computeSeekPosition(0, 0, kMax, STREAM_SEEK_SET, UINT64_MAX, &to), S_OK);
    EXPECT_EQ(to, 0x7FFFFFFFFFFFFFFFull);
    EXPECT_EQ(computeSeekPosition(UINT64_MAX - 1, 0, 1, STREAM_SEEK_CUR, UINT64_MAX, &to), S_OK);
    EXPECT_EQ(to, UINT64_MAX);
    EXPECT_EQ(computeSeekPosition(UINT64_MAX, 0, kMin, STREAM_SEEK_CUR, UINT64_MAX, &to), S_OK);
    EXPECT_EQ(to, 0x7FFFFFFFFFFFFFFFull);
    to = 77;
    EXPECT_EQ(computeSeekPosition(UINT64_MAX, 0, 1, STREAM_SEEK_CUR, UINT64_MAX, &to),
              kInvalidFunction);
    EXPECT_EQ(computeSeekPosition(0x7FFFFFFFFFFFFFFFull, 0, kMin, STREAM_SEEK_CUR, UINT64_MAX, &to),
              kInvalidFunction);
    EXPECT_EQ(to, 77u);
    // A size beyond the last position: moving back into range is allowed,
    // staying beyond it is not.
    const uint64_t big = 0x100000010ull;
    EXPECT_EQ(computeSeekPosition(0, big, 0, STREAM_SEEK_END, 0xFFFFFFFF, &to), kInvalidFunction);
    EXPECT_EQ(computeSeekPosition(0, big, -0x10, STREAM_SEEK_END, 0xFFFFFFFF, &to),
              kInvalidFunction);
    EXPECT_EQ(computeSeekPosition(0, big, -0x11, STREAM_SEEK_END, 0xFFFFFFFF, &to), S_OK);
    EXPECT_EQ(to, 0xFFFFFFFFu);
    EXPECT_EQ(computeSeekPosition(0, big, 0, STREAM_SEEK_END, big, &to), S_OK);
    EXPECT_EQ(to, big);
}

} // namespace
