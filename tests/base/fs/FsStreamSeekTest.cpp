// The seek rule of the sectioned storage's memory stream: the same cases as
// every other stream of ours, with its 32-bit position.
#include "base/fs/FsStream.h"
#include "tests/platform/storage/StreamSeekCases.h"

#include <gtest/gtest.h>

namespace {

using zeb::test::SeekSubject;
using zeb::test::StreamSeekRule;
using zeb::test::TempDir;

HRESULT makeFsStream(const TempDir&, ComPtr<IStream>& stream, ComPtr<IUnknown>&) {
    return FsStream::create(&stream);
}

// Its position is 32 bits wide: the last position is 4 GiB - 1.
INSTANTIATE_TEST_SUITE_P(SectionedStorage, StreamSeekRule,
                         ::testing::Values(SeekSubject{"FsStream", makeFsStream, 0xFFFFFFFFull}),
                         zeb::test::seekSubjectName);

} // namespace
