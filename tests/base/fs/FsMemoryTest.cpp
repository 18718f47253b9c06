// Memory lock-bytes and streams (block store of 1536-byte blocks) and the
// per-process choice of where memory storages live.
#include "base/fs/FsFileMan.h"
#include "base/fs/FsLockBytes.h"
#include "base/fs/FsSecClMem.h"
#include "base/fs/FsStream.h"
#include "co/CCoRegistrySwitches.h"
#include "platform/com/Marshal.h"
#include "platform/com/TaskAllocator.h"
#include "tests/co/ChildScenario.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ULARGE_INTEGER at(uint64_t v) {
    ULARGE_INTEGER u{};
    u.QuadPart = v;
    return u;
}

LARGE_INTEGER move(int64_t v) {
    LARGE_INTEGER l{};
    l.QuadPart = v;
    return l;
}

TEST(FsLockBytesBlocks, WritingOneByteAtThreeThousandAllocatesTwoBlocks) {
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(FsLockBytes::create(&bytes), S_OK);
    const char b = 'x';
    ULONG n = 0;
    ASSERT_EQ(bytes->WriteAt(at(3000), &b, 1, &n), S_OK);
    EXPECT_EQ(n, 1u);
    STATSTG st{};
    ASSERT_EQ(bytes->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 3001u);
    EXPECT_EQ(st.pwcsName, nullptr);
    EXPECT_EQ(st.type, STGTY_LOCKBYTES);
    EXPECT_EQ(st.grfMode, 18u);
    char buf[72];
    EXPECT_EQ(bytes->ReadAt(at(3000), buf, 72, &n), S_OK); // up to the end of block two
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(bytes->ReadAt(at(3000), buf, 73, &n), E_FAIL);
}

TEST(FsLockBytesBlocks, ReadsBeyondTheAllocatedBlocksFailAndSetSizeZeroFreesAll) {
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(FsLockBytes::create(&bytes), S_OK);
    std::string block(1536, 'b');
    ASSERT_EQ(bytes->WriteAt(at(0), block.data(), 1536, nullptr), S_OK);
    std::string got(1536, 0);
    ULONG n = 0;
    EXPECT_EQ(bytes->ReadAt(at(0), got.data(), 1536, &n), S_OK);
    EXPECT_EQ(got, block);
    EXPECT_EQ(bytes->ReadAt(at(1535), got.data(), 2, &n), E_FAIL);
    EXPECT_EQ(bytes->ReadAt(at(0xFFFFFFFF), got.data(), 2, &n), STG_E_READFAULT);
    EXPECT_EQ(bytes->WriteAt(at(0), nullptr, 2, &n), STG_E_INVALIDPOINTER);
    EXPECT_EQ(bytes->SetSize(at(0x100000000ull)), STG_E_MEDIUMFULL);
    EXPECT_EQ(bytes->LockRegion(at(0), at(1), LOCK_WRITE), STG_E_INVALIDFUNCTION);
    ASSERT_EQ(bytes->SetSize(at(0)), S_OK);
    EXPECT_EQ(bytes->ReadAt(at(0), got.data(), 1, &n), E_FAIL);
    ASSERT_EQ(bytes->WriteAt(at(10), "yz", 2, nullptr), S_OK);
    EXPECT_EQ(bytes->ReadAt(at(10), got.data(), 2, &n), S_OK);
    EXPECT_EQ(got.substr(0, 2), "yz");
}

TEST(FsStreamPositions, BeyondTheEndReadsNothingAndAWriteExtends) {
    ComPtr<IStream> s;
    ASSERT_EQ(FsStream::create(&s), S_OK);
    ULARGE_INTEGER pos{};
    ASSERT_EQ(s->Seek(move(5000), STREAM_SEEK_SET, &pos), S_OK);
    char buf[8];
    ULONG n = 9;
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(s->Write("end", 3, &n), S_OK);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 5003u);
    EXPECT_EQ(std::u16string_view(st.pwcsName), u"FsStreamImpl_Root");
    EXPECT_EQ(st.ctime.dwLowDateTime | st.ctime.dwHighDateTime, 0u);
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(s->Seek(move(-1), STREAM_SEEK_SET, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(move(0), 3, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(move(0x100000000ll), STREAM_SEEK_SET, &pos), STG_E_INVALIDFUNCTION);
    ASSERT_EQ(s->Seek(move(-3), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 5000u);
    IStream* clone = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(s->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    ComPtr<IMarshal> marshal;
    EXPECT_EQ(s.QueryInterface(&marshal), S_OK);
}

TEST(FsStreamPositions, CopyToCopiesFromThePositionAndAdvances) {
    ComPtr<IStream> from, to;
    ASSERT_EQ(FsStream::create(&from), S_OK);
    ASSERT_EQ(FsStream::create(&to), S_OK);
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char('a' + i % 26);
    from->Write(data.data(), ULONG(data.size()), nullptr);
    from->Seek(move(100), STREAM_SEEK_SET, nullptr);
    to->Write("xy", 2, nullptr);
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(from->CopyTo(to, at(~0ull), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 4900u);
    EXPECT_EQ(written.QuadPart, 4900u);
    std::string got(4902, 0);
    to->Seek(move(0), STREAM_SEEK_SET, nullptr);
    ULONG n = 0;
    to->Read(got.data(), ULONG(got.size()), &n);
    EXPECT_EQ(got, "xy" + data.substr(100));
    EXPECT_EQ(from->CopyTo(nullptr, at(1), nullptr, nullptr), STG_E_INVALIDPOINTER);
}

TEST(FsSecClMemStreams, CreateStreamRefusesNullAndMakesAWritableSection) {
    EXPECT_EQ(FsSecClMem::CreateStream(nullptr), E_POINTER);
    FsSecClMem sec;
    EXPECT_TRUE(sec.isWritable());
    sec << DWORD(7);
    sec.seek(0, 0);
    DWORD v = 0;
    sec >> v;
    EXPECT_EQ(v, 7u);
}

// Runs in a fresh process: reports the kind chosen for storages and streams
// and whether a memory storage holds a stream's bytes.
ZEB_CHILD_SCENARIO(memoryStorageKind) {
    ComPtr<IStorage> storage;
    if (!FsFileMan::createMemStorage(&storage)) return "no storage";
    ComPtr<IStream> s;
    if (FAILED(storage->CreateStream(u"data", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                     0, 0, &s)))
        return "no stream";
    s->Write("abc", 3, nullptr);
    s.Release();
    if (FAILED(storage->OpenStream(u"data", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &s)))
        return "no reopen";
    char buf[4] = {};
    s->Read(buf, 3, nullptr);
    ComPtr<IStream> mem;
    if (FAILED(FsSecClMem::CreateStream(&mem))) return "no memory stream";
    return std::to_string(int(CCoRegistrySwitches::storageModeForStorages())) + " " +
           std::to_string(int(CCoRegistrySwitches::storageModeForStreams())) + " " + buf;
}

TEST(FsMemoryStorage, StorageModeChoosesWhereMemoryStoragesLive) {
    zeb::test::TempDir dir;
    const std::pair<const char*, const char*> cases[] = {{nullptr, "3 3 abc"},
                                                         {"0", "1 1 abc"},
                                                         {"1", "2 1 abc"},
                                                         {"2", "3 3 abc"},
                                                         {"3", "2 1 abc"}};
    for (const auto& [value, expected] : cases) {
        const std::string reg = dir.file(std::string("r") + (value ? value : "none") + ".reg");
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis]\r\n";
        if (value) text += std::string("\"STORAGE_MODE\"=dword:0000000") + value + "\r\n";
        zeb::test::writeFile(reg, text);
        const auto r = zeb::test::runChildScenario("memoryStorageKind",
                                                   {{"ZEB_REGISTRY", reg}, {"TMP", dir.path()}});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.output, expected) << (value ? value : "absent");
    }
}

} // namespace
