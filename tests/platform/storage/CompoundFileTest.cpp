// The compound-file storage through its API: create, write, reopen, and the
// rules on names, modes, sharing and open elements.
#include "StorageTestUtil.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

using namespace zeb::test;
using zeb::test::TempDir;

namespace {

constexpr CLSID kClass = makeGuid("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");

class CompoundFile : public ::testing::Test {
protected:
    std::u16string path(const std::string& name = "a.dat") { return w(dir.file(name)); }
    ComPtr<IStorage> create(const std::string& name = "a.dat") {
        ComPtr<IStorage> root;
        EXPECT_EQ(StgCreateDocfile(path(name).c_str(), kNew, 0, &root), S_OK);
        return root;
    }
    ComPtr<IStorage> open(DWORD mode = kRw, const std::string& name = "a.dat") {
        ComPtr<IStorage> root;
        EXPECT_EQ(StgOpenStorage(path(name).c_str(), nullptr, mode, nullptr, 0, &root), S_OK);
        return root;
    }
    TempDir dir;
};

TEST_F(CompoundFile, StreamsOfEverySizeClassSurviveAReopen) {
    std::map<std::string, std::string> expected;
    {
        auto root = create();
        ComPtr<IStorage> sub;
        ASSERT_EQ(root->CreateStorage(u"Sub", kNew, 0, 0, &sub), S_OK);
        for (size_t size : {0, 1, 63, 64, 4095, 4096, 4097, 70000}) {
            std::string bytes(size, '\0');
            for (size_t i = 0; i < size; ++i)
                bytes[i] = static_cast<char>(i * 7 + size);
            std::string name = "s" + std::to_string(size);
            ASSERT_EQ(putStream(root, w(name), bytes), S_OK);
            ASSERT_EQ(putStream(sub, w(name), bytes + "x"), S_OK);
            expected[name] = bytes;
            expected["Sub/" + name] = bytes + "x";
        }
        expected["Sub"] = "S";
        ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    }
    std::map<std::string, std::string> actual;
    listTree(open(kRead), "", actual);
    EXPECT_EQ(actual, expected);
}

TEST_F(CompoundFile, WritingIntoAStreamReadFromTheFileKeepsItsOtherBytes) {
    {
        auto root = create();
        ASSERT_EQ(putStream(root, u"Big", std::string(9000, 'a')), S_OK);
    }
    {
        auto root = open();
        ComPtr<IStream> s;
        ASSERT_EQ(root->OpenStream(u"Big", nullptr, kRw, 0, &s), S_OK);
        LARGE_INTEGER at;
        at.QuadPart = 8999;
        ASSERT_EQ(s->Seek(at, STREAM_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(s->Write("bc", 2, nullptr), S_OK);
    }
    EXPECT_EQ(getStream(open(kRead), u"Big"), std::string(8999, 'a') + "bc");
}

TEST_F(CompoundFile, ClassIdsStateBitsAndTimesAreKeptThroughARewrite) {
    FILETIME ct{0x11111111, 0x01D00000}, mt{0x22222222, 0x01D10000};
    {
        auto root = create();
        ComPtr<IStorage> sub;
        ASSERT_EQ(root->CreateStorage(u"Sub", kNew, 0, 0, &sub), S_OK);
        ASSERT_EQ(sub->SetClass(kClass), S_OK);
        ASSERT_EQ(sub->SetStateBits(0xA5, 0xFF), S_OK);
        ASSERT_EQ(root->SetClass(kClass), S_OK);
        sub.Release();
        ASSERT_EQ(root->SetElementTimes(u"Sub", &ct, nullptr, &mt), S_OK);
    }
    {
        // A rewrite that does not touch Sub keeps what it holds.
        auto root = open();
        ASSERT_EQ(putStream(root, u"Other", "x"), S_OK);
    }
    auto root = open(kRead);
    ComPtr<IStorage> sub;
    ASSERT_EQ(root->OpenStorage(u"sub", nullptr, kRead, nullptr, 0, &sub), S_OK);
    STATSTG st{};
    ASSERT_EQ(sub->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::u16string(st.pwcsName), u"Sub");
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(st.clsid, kClass);
    EXPECT_EQ(st.grfStateBits, 0xA5u);
    EXPECT_EQ(st.ctime.dwLowDateTime, ct.dwLowDateTime);
    EXPECT_EQ(st.mtime.dwHighDateTime, mt.dwHighDateTime);
    ASSERT_EQ(root->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.clsid, kClass);
}

TEST_F(CompoundFile, NamesAreCheckedAndMatchedWithoutRegardToCase) {
    auto root = create();
    EXPECT_EQ(putStream(root, u"", "x"), STG_E_INVALIDNAME);
    EXPECT_EQ(putStream(root, std::u16string(32, u'a'), "x"), STG_E_INVALIDNAME);
    for (const char16_t* bad : {u"a/b", u"a\\b", u"a:b", u"a!b"})
        EXPECT_EQ(putStream(root, bad, "x"), STG_E_INVALIDNAME);
    ASSERT_EQ(putStream(root, std::u16string(31, u'a'), "x"), S_OK);
    ASSERT_EQ(putStream(root, u"Straße\u00e9", "1"), S_OK);
    EXPECT_EQ(getStream(root, u"STRAßE\u00c9"), "1");
    ComPtr<IStream> s;
    EXPECT_EQ(root->CreateStream(u"strasse", kRw, 0, 0, &s), S_OK); // a different name
    s.Release();
    EXPECT_EQ(root->CreateStream(u"STRAßEé", kRw, 0, 0, &s), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->OpenStream(u"missing", nullptr, kRead, 0, &s), STG_E_FILENOTFOUND);
}

TEST_F(CompoundFile, AnElementIsOpenOnceAndChildrenNeedExclusiveSharing) {
    auto root = create();
    ComPtr<IStream> a, b;
    ASSERT_EQ(root->CreateStream(u"S", kNew, 0, 0, &a), S_OK);
    EXPECT_EQ(root->OpenStream(u"S", nullptr, kRead, 0, &b), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"S", kNew, 0, 0, &b), STG_E_ACCESSDENIED);
    a.Release();
    EXPECT_EQ(root->OpenStream(u"S", nullptr, STGM_READ | STGM_SHARE_DENY_NONE, 0, &b),
              STG_E_INVALIDFLAG);
    EXPECT_EQ(root->OpenStream(u"S", nullptr, kRead, 0, &b), S_OK);
    EXPECT_EQ(b->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
}

TEST_F(CompoundFile, AWriterExcludesOthersUntilItCloses) {
    auto root = create();
    ComPtr<IStorage> other;
    EXPECT_EQ(StgOpenStorage(path().c_str(), nullptr, kRead, nullptr, 0, &other),
              STG_E_SHAREVIOLATION);
    EXPECT_EQ(StgOpenStorage(path().c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                             &other),
              STG_E_SHAREVIOLATION);
    // A commit replaces the file; the new file is locked as the old one was.
    ASSERT_EQ(putStream(root, u"S", "x"), S_OK);
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    EXPECT_EQ(StgOpenStorage(path().c_str(), nullptr, kRead, nullptr, 0, &other),
              STG_E_SHAREVIOLATION);
    root.Release();
    ComPtr<IStorage> r1, r2;
    ASSERT_EQ(
        StgOpenStorage(path().c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &r1),
        S_OK);
    ASSERT_EQ(
        StgOpenStorage(path().c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &r2),
        S_OK);
    EXPECT_EQ(StgOpenStorage(path().c_str(), nullptr, kRw, nullptr, 0, &other),
              STG_E_SHAREVIOLATION);
    EXPECT_EQ(getStream(r2, u"S"), "x");
}

TEST_F(CompoundFile, CreateRefusesAnExistingFileUnlessAskedToReplaceIt) {
    create().Release();
    ComPtr<IStorage> root;
    EXPECT_EQ(StgCreateDocfile(path().c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root),
              STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(StgOpenStorage(path("none.dat").c_str(), nullptr, kRead, nullptr, 0, &root),
              STG_E_FILENOTFOUND);
    EXPECT_EQ(StgCreateDocfile(w(dir.file("no/such/dir.dat")).c_str(), kNew, 0, &root),
              STG_E_PATHNOTFOUND);
    EXPECT_EQ(StgCreateDocfile(path().c_str(), STGM_READWRITE | STGM_WRITE, 0, &root),
              STG_E_INVALIDFLAG);
}

TEST_F(CompoundFile, ANamelessDocfileIsATemporaryFileRemovedAtRelease) {
    zeb::test::ScopedEnv tmp("TMPDIR", dir.path());
    ComPtr<IStorage> root;
    ASSERT_EQ(StgCreateDocfile(nullptr, kNew | STGM_DELETEONRELEASE, 0, &root), S_OK);
    ASSERT_EQ(putStream(root, u"S", "x"), S_OK);
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    STATSTG st{};
    ASSERT_EQ(root->Stat(&st, STATFLAG_DEFAULT), S_OK);
    std::string file = zeb::toNarrow(st.pwcsName);
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(file.rfind(dir.path() + "/", 0), 0u);
    EXPECT_EQ(StgIsStorageFile(w(file).c_str()), S_OK);
    root.Release();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(CompoundFile, FilesThatAreNotCompoundFilesAreRecognisedAndRefused) {
    writeFile(dir.file("text.dat"), std::string(600, 'x'));
    EXPECT_EQ(StgIsStorageFile(path("text.dat").c_str()), S_FALSE);
    EXPECT_EQ(StgIsStorageFile(path("none.dat").c_str()), STG_E_FILENOTFOUND);
    create().Release();
    EXPECT_EQ(StgIsStorageFile(path().c_str()), S_OK);
    ComPtr<IStorage> root;
    EXPECT_EQ(StgOpenStorage(path("text.dat").c_str(), nullptr, kRead, nullptr, 0, &root),
              STG_E_INVALIDHEADER);
}

TEST_F(CompoundFile, CommitLeavesNoTemporaryFilesAndKeepsThePermissions) {
    auto root = create();
    ::chmod(dir.file("a.dat").c_str(), 0640);
    ASSERT_EQ(putStream(root, u"S", "x"), S_OK);
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    root.Release();
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("a.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        entries += e.path().filename() != "a.dat" ? 100 : 1;
    EXPECT_EQ(entries, 1);
}

TEST_F(CompoundFile, DestroyRenameAndOpenObjectsOnRemovedElements) {
    auto root = create();
    ComPtr<IStorage> sub;
    ASSERT_EQ(root->CreateStorage(u"Sub", kNew, 0, 0, &sub), S_OK);
    ComPtr<IStream> inner;
    ASSERT_EQ(sub->CreateStream(u"In", kNew, 0, 0, &inner), S_OK);
    ASSERT_EQ(putStream(root, u"A", "a"), S_OK);
    EXPECT_EQ(root->RenameElement(u"A", u"SUB"), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->RenameElement(u"Sub", u"B"), STG_E_ACCESSDENIED); // open
    EXPECT_EQ(root->RenameElement(u"A", u"a2"), S_OK);
    EXPECT_EQ(getStream(root, u"A2"), "a");
    EXPECT_EQ(root->DestroyElement(u"Sub"), S_OK);
    EXPECT_EQ(inner->Write("x", 1, nullptr), STG_E_REVERTED);
    EXPECT_EQ(sub->Commit(STGC_DEFAULT), STG_E_REVERTED);
    EXPECT_EQ(root->DestroyElement(u"Sub"), STG_E_FILENOTFOUND);
    root.Release();
    std::map<std::string, std::string> tree;
    listTree(open(kRead), "", tree);
    EXPECT_EQ(tree, (std::map<std::string, std::string>{{"a2", "a"}}));
}

TEST_F(CompoundFile, ReleasingTheRootSavesAndRevertsWhatIsStillOpen) {
    ComPtr<IStream> s;
    {
        auto root = create();
        ASSERT_EQ(root->CreateStream(u"S", kNew, 0, 0, &s), S_OK);
        ASSERT_EQ(s->Write("abc", 3, nullptr), S_OK);
    }
    EXPECT_EQ(s->Write("d", 1, nullptr), STG_E_REVERTED);
    EXPECT_EQ(getStream(open(kRead), u"S"), "abc");
}

TEST_F(CompoundFile, CopyToAndMoveElementToCarryWholeSubtrees) {
    auto src = create();
    ComPtr<IStorage> sub;
    ASSERT_EQ(src->CreateStorage(u"Sub", kNew, 0, 0, &sub), S_OK);
    ASSERT_EQ(sub->SetClass(kClass), S_OK);
    ASSERT_EQ(putStream(sub, u"Deep", std::string(5000, 'd')), S_OK);
    sub.Release();
    ASSERT_EQ(putStream(src, u"Skip", "s"), S_OK);
    auto dst = create("b.dat");
    OLECHAR skip[] = u"skip";
    OLECHAR* exclude[] = {skip, nullptr};
    ASSERT_EQ(src->CopyTo(0, nullptr, exclude, dst), S_OK);
    ASSERT_EQ(src->MoveElementTo(u"Skip", dst, u"Moved", STGMOVE_MOVE), S_OK);
    HRESULT hr = S_OK;
    getStream(src, u"Skip", &hr);
    EXPECT_EQ(hr, STG_E_FILENOTFOUND);
    // Copy into a child of itself: from a snapshot, so it ends.
    ComPtr<IStorage> again;
    ASSERT_EQ(dst->CreateStorage(u"Again", kNew, 0, 0, &again), S_OK);
    ASSERT_EQ(dst->CopyTo(0, nullptr, nullptr, again), S_OK);
    again.Release();
    std::map<std::string, std::string> tree;
    listTree(dst, "", tree);
    std::map<std::string, std::string> expected{
        {"Sub", "S"}, {"Sub/Deep", std::string(5000, 'd')}, {"Moved", "s"}};
    expected["Again"] = "S";
    expected["Again/Sub"] = "S";
    expected["Again/Sub/Deep"] = std::string(5000, 'd');
    expected["Again/Moved"] = "s";
    expected["Again/Again"] = "S";
    EXPECT_EQ(tree, expected);
}

TEST_F(CompoundFile, EnumerationSnapshotsTheChildrenInDirectoryOrder) {
    auto root = create();
    for (const char16_t* n : {u"bb", u"a", u"C", u"ccc"})
        ASSERT_EQ(putStream(root, n, "x"), S_OK);
    ComPtr<IEnumSTATSTG> e;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, &e), S_OK);
    ASSERT_EQ(putStream(root, u"later", "x"), S_OK);
    STATSTG st[8]{};
    ULONG got = 0;
    EXPECT_EQ(e->Skip(1), S_OK);
    EXPECT_EQ(e->Next(8, st, &got), S_FALSE);
    ASSERT_EQ(got, 3u);
    std::u16string names;
    for (ULONG i = 0; i < got; ++i) {
        names += st[i].pwcsName;
        names += u",";
        CoTaskMemFree(st[i].pwcsName);
    }
    EXPECT_EQ(names, u"C,bb,ccc,");
}

TEST_F(CompoundFile, StreamPositionsSizesAndClones) {
    auto root = create();
    ComPtr<IStream> s;
    ASSERT_EQ(root->CreateStream(u"S", kNew, 0, 0, &s), S_OK);
    LARGE_INTEGER move;
    move.QuadPart = 10;
    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(move, STREAM_SEEK_SET, &pos), S_OK);
    ASSERT_EQ(s->Write("z", 1, nullptr), S_OK);
    move.QuadPart = -12;
    EXPECT_EQ(s->Seek(move, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(move, 7, &pos), STG_E_INVALIDFUNCTION);
    move.QuadPart = -1;
    ASSERT_EQ(s->Seek(move, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 10u);
    ComPtr<IStream> c;
    ASSERT_EQ(s->Clone(&c), S_OK);
    char buf[16]{};
    ULONG got = 0;
    ASSERT_EQ(c->Read(buf, 16, &got), S_OK);
    EXPECT_EQ(got, 1u);
    ULARGE_INTEGER big;
    big.QuadPart = 0x100000000ull;
    EXPECT_EQ(s->SetSize(big), STG_E_MEDIUMFULL);
    s.Release();
    c.Release();
    EXPECT_EQ(getStream(root, u"S"), std::string(10, '\0') + "z");
}

} // namespace
