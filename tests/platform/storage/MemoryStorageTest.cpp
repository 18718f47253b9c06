// Memory lock-bytes and streams, and compound files held in them.
#include "StorageTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace zeb::test;

namespace {

TEST(MemoryLockBytes, ACompoundFileInMemoryReopensFromTheSameBlock) {
    ComPtr<ILockBytes> lb;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &lb), S_OK);
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfileOnILockBytes(lb, kNew, 0, &root), S_OK);
        ASSERT_EQ(putStream(root, u"Data", std::string(10000, 'q')), S_OK);
        ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    }
    EXPECT_EQ(StgIsStorageILockBytes(lb), S_OK);
    STATSTG st{};
    ASSERT_EQ(lb->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.type, STGTY_LOCKBYTES);
    EXPECT_EQ(st.cbSize.QuadPart % 512, 0u);
    HGLOBAL h = nullptr;
    ASSERT_EQ(GetHGlobalFromILockBytes(lb, &h), S_OK);
    EXPECT_GE(GlobalSize(h), st.cbSize.QuadPart);
    ComPtr<IStorage> root;
    ASSERT_EQ(StgOpenStorageOnILockBytes(lb, nullptr, kRead, nullptr, 0, &root), S_OK);
    EXPECT_EQ(getStream(root, u"Data"), std::string(10000, 'q'));
}

TEST(MemoryLockBytes, ReadsPastTheEndAreShortAndWritesPastItFillWithZeros) {
    ComPtr<ILockBytes> lb;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &lb), S_OK);
    ULARGE_INTEGER off;
    off.QuadPart = 4;
    ULONG n = 0;
    ASSERT_EQ(lb->WriteAt(off, "ab", 2, &n), S_OK);
    char buf[10];
    off.QuadPart = 0;
    ASSERT_EQ(lb->ReadAt(off, buf, 10, &n), S_OK);
    ASSERT_EQ(n, 6u);
    EXPECT_EQ(std::string(buf, 6), std::string("\0\0\0\0ab", 6));
    EXPECT_EQ(lb->ReadAt(off, nullptr, 1, &n), STG_E_INVALIDPOINTER);
    EXPECT_EQ(StgIsStorageILockBytes(lb), S_FALSE);
    ComPtr<IStorage> root;
    EXPECT_EQ(StgOpenStorageOnILockBytes(lb, nullptr, kRead, nullptr, 0, &root),
              STG_E_INVALIDHEADER);
}

TEST(MemoryStream, StartsWithTheBlockItIsGivenAndClonesShareTheBytes) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 3);
    std::memcpy(GlobalLock(h), "xyz", 3);
    GlobalUnlock(h);
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(h, TRUE, &s), S_OK);
    ComPtr<ISequentialStream> seq;
    EXPECT_EQ(s.QueryInterface(&seq), S_OK);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 3u);
    ComPtr<IStream> c;
    ASSERT_EQ(s->Clone(&c), S_OK);
    LARGE_INTEGER end;
    end.QuadPart = 0;
    ASSERT_EQ(s->Seek(end, STREAM_SEEK_END, nullptr), S_OK);
    ASSERT_EQ(s->Write("!", 1, nullptr), S_OK);
    char buf[8]{};
    ULONG got = 0;
    ASSERT_EQ(c->Read(buf, 8, &got), S_OK);
    EXPECT_EQ(std::string(buf, got), "xyz!");
    HGLOBAL back = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(c, &back), S_OK);
    EXPECT_EQ(back, h);
    ComPtr<ILockBytes> notOurs;
    EXPECT_EQ(GetHGlobalFromStream(nullptr, &back), E_INVALIDARG);
}

TEST(MemoryStream, CopyToMovesTheBytesFromThePosition) {
    ComPtr<IStream> a, b;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &a), S_OK);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &b), S_OK);
    ASSERT_EQ(a->Write("0123456789", 10, nullptr), S_OK);
    LARGE_INTEGER to;
    to.QuadPart = 4;
    ASSERT_EQ(a->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
    ULARGE_INTEGER cb, read, written;
    cb.QuadPart = 100;
    ASSERT_EQ(a->CopyTo(b, cb, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 6u);
    EXPECT_EQ(written.QuadPart, 6u);
    to.QuadPart = 0;
    b->Seek(to, STREAM_SEEK_SET, nullptr);
    char buf[8]{};
    ULONG got = 0;
    b->Read(buf, 8, &got);
    EXPECT_EQ(std::string(buf, got), "456789");
}

} // namespace
