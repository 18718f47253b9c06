// The section manager over compound files: caching of open sections and
// directories, access-mode rules, lock/unlock and copies.
#include "base/fs/FsSectMan.h"
#include "platform/com/ComPtr.h"
#include "platform/win/TextConvert.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

ComPtr<IStorage> newFileStorage(const std::string& path) {
    ComPtr<IStorage> root;
    EXPECT_EQ(StgCreateDocfile(zeb::toWide(path).c_str(), kCreateMode, 0, &root), S_OK);
    return root;
}

std::string readAll(FsSecCl& sec) {
    sec.seek(0, 0);
    std::string text(sec.size(), '\0');
    sec.read(text.data(), DWORD(text.size()));
    return text;
}

// What a stream holds from its position on (at most 64 bytes).
std::string streamText(IStream* s) {
    char buf[64] = {};
    ULONG n = 0;
    s->Read(buf, sizeof buf, &n);
    return std::string(buf, n);
}

// The bytes of section `name` in a storage, "<none>" when it has none.
std::string sectionIn(IStorage* storage, const char* name) {
    FsSectMan man(storage);
    FsSecCl* s = man.GetSect(name, 0);
    return s ? readAll(*s) : "<none>";
}

class FsSectManTest : public ::testing::Test {
protected:
    zeb::test::TempDir dir;
    ComPtr<IStorage> root = newFileStorage(dir.file("a.dat"));
};

TEST_F(FsSectManTest, AnOpenSectionIsCachedPerAccessMode) {
    FsSectMan man(root);
    ASSERT_FALSE(man.isLocked());
    ASSERT_TRUE(man.isWritable());
    FsSecCl* a = nullptr;
    ASSERT_EQ(man.OpenSect("types", &a, FsSectMan::kCreate), 0u);
    *a << DWORD(42);
    FsSecCl* b = nullptr;
    EXPECT_EQ(man.OpenSect("types", &b, 0), 13u);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(man.OpenSect("types", &b, FsSectMan::kWrite), 0u);
    EXPECT_EQ(a, b);
    EXPECT_EQ(b->position(), 0u);
    EXPECT_EQ(man.OpenSect("types", &b, FsSectMan::kCreate), 2u);
    EXPECT_EQ(man.CloseSect(a), 0u);
    EXPECT_EQ(man.CloseSect(a), 10u);
    EXPECT_EQ(man.CloseSect("types"), 0u);
    EXPECT_EQ(man.CloseSect("nothere"), 8u);
    ASSERT_EQ(man.OpenSect("types", &b, 0), 0u);
    EXPECT_FALSE(b->isWritable());
    EXPECT_EQ(readAll(*b), "42");
}

TEST_F(FsSectManTest, GetSectCreatesOnlyForWriters) {
    FsSectMan man(root);
    EXPECT_EQ(man.GetSect("tools", 0), nullptr);
    FsSecCl* tools = man.GetSect("tools", FsSectMan::kWrite);
    ASSERT_NE(tools, nullptr);
    EXPECT_TRUE(tools->isWritable());
    EXPECT_NE(man.GetDir("sub", FsSectMan::kWrite), nullptr);
    EXPECT_EQ(man.GetDir("other", 0), nullptr);
}

TEST_F(FsSectManTest, GetSizeOfAClosedSectionLeavesItClosed) {
    {
        FsSectMan man(root);
        FsSecCl* s = man.GetSect("xmltypes", FsSectMan::kWrite);
        s->writeText("<doc/>");
    }
    FsSectMan man(root);
    EXPECT_EQ(man.GetSize("xmltypes"), 6u);
    EXPECT_EQ(man.sections().at("xmltypes").get(), nullptr);
    EXPECT_EQ(man.GetSize("missing"), 0u);
}

TEST_F(FsSectManTest, ReadOnlyManagerRefusesWritesAndCreation) {
    {
        FsSectMan man(root);
        man.GetSect("types", FsSectMan::kWrite);
    }
    root.Release();
    ASSERT_EQ(StgOpenStorage(zeb::toWide(dir.file("a.dat")).c_str(), nullptr,
                             STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root),
              S_OK);
    FsSectMan man(root);
    EXPECT_FALSE(man.isWritable());
    FsSecCl* s = nullptr;
    EXPECT_EQ(man.OpenSect("types", &s, FsSectMan::kWrite), 13u);
    EXPECT_EQ(man.OpenSect("new", &s, FsSectMan::kCreate), 13u);
    EXPECT_EQ(man.OpenSect("types", &s, 0), 0u);
    FsSectMan none;
    EXPECT_EQ(none.OpenSect("types", &s, 0), 9u);
    EXPECT_EQ(none.ListAll(), 9u);
}

TEST_F(FsSectManTest, LockRefusesEverythingAndUnlockListsAgain) {
    FsSectMan man(root);
    man.GetSect("types", FsSectMan::kWrite);
    ComPtr<IStorage> handed;
    ASSERT_TRUE(man.Lock(&handed));
    FsSecCl* s = nullptr;
    EXPECT_EQ(man.OpenSect("types", &s, 0), 13u);
    EXPECT_EQ(man.CloseSect("types"), 13u);
    EXPECT_EQ(man.GetSect("types", FsSectMan::kWrite), nullptr);
    ComPtr<IStream> added;
    ASSERT_EQ(handed->CreateStream(u"added", kCreateMode, 0, 0, &added), S_OK);
    added.Release();
    handed.Release();
    EXPECT_EQ(man.Unlock(), 0u);
    EXPECT_EQ(man.sections().count("added"), 1u);
    EXPECT_EQ(man.sections().count("types"), 1u);
}

TEST_F(FsSectManTest, DirectoriesNestAndCopiesHoldTheSameBytes) {
    FsSectMan man(root);
    FsSectMan* sub = nullptr;
    ASSERT_EQ(man.OpenDir("132B44C07FF711D385440050046A30", &sub, FsSectMan::kCreate), 0u);
    FsSecCl* data = sub->GetSect("data", FsSectMan::kWrite);
    ASSERT_NE(data, nullptr);
    *data << "payload";
    FsSectMan* same = nullptr;
    EXPECT_EQ(man.OpenDir("132B44C07FF711D385440050046A30", &same, 0), 13u);
    EXPECT_EQ(man.CloseDir(sub), 0u);

    ComPtr<IStorage> copy;
    copy.Attach(man.getCopyOfDir("132B44C07FF711D385440050046A30", nullptr));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(sectionIn(copy, "data"), "7 payload");
    EXPECT_EQ(man.directories().at("132B44C07FF711D385440050046A30").get(), nullptr);

    man.GetSect("top", FsSectMan::kWrite)->writeText("top bytes");
    EXPECT_EQ(man.getCopyOfSect("top", nullptr), nullptr); // open for writing
    ASSERT_EQ(man.CloseSect("top"), 0u);
    ComPtr<IStream> s;
    s.Attach(man.getCopyOfSect("top", nullptr));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(streamText(s), "top bytes");
    EXPECT_EQ(man.sections().at("top").get(), nullptr);
    EXPECT_EQ(man.getCopyOfSect("absent", nullptr), nullptr);
}

TEST_F(FsSectManTest, AHandedOutSectionStopsCloseAllAndCloseDirWithSix) {
    FsSectMan man(root);
    FsSectMan* sub = man.GetDir("sub", FsSectMan::kWrite);
    ASSERT_NE(sub, nullptr);
    FsSecCl* inner = sub->GetSect("data", FsSectMan::kWrite);
    ASSERT_NE(inner, nullptr);
    ComPtr<IStream> out;
    out.Attach(inner->getIStreamPtr());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(sub->CloseSect("data"), 13u);
    EXPECT_EQ(man.CloseDir("sub"), 6u);
    EXPECT_EQ(man.CloseAll(), 6u);
    ASSERT_EQ(man.directories().at("sub").get(), sub); // still open, as its section
    out.Release();
    EXPECT_EQ(inner->unlockStream(), 0u);
    EXPECT_EQ(man.CloseAll(), 0u);
}

// A copy closes only what it opened itself: a section or directory the
// caller holds stays open, at the caller's position, with its own sections.
TEST_F(FsSectManTest, CopyingAnOpenSectionLeavesItOpenWhereTheCallerWas) {
    FsSectMan man(root);
    man.GetSect("top", FsSectMan::kWrite)->writeText("10 20 30");
    ASSERT_EQ(man.CloseSect("top"), 0u);
    FsSecCl* held = man.GetSect("top", 0);
    ASSERT_NE(held, nullptr);
    DWORD value = 0;
    *held >> value;
    ASSERT_EQ(value, 10u);

    ComPtr<IStream> copy;
    copy.Attach(man.getCopyOfSect("top", nullptr));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(streamText(copy), "10 20 30");
    ASSERT_EQ(man.sections().at("top").get(), held);
    *held >> value;
    EXPECT_EQ(held->state(), 0u);
    EXPECT_EQ(value, 20u);

    // Handed out by the caller: no copy, and the hand-out stays the caller's.
    ComPtr<IStream> out;
    out.Attach(held->getIStreamPtr());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(man.getCopyOfSect("top", nullptr), nullptr);
    ASSERT_EQ(man.sections().at("top").get(), held);
    EXPECT_TRUE(held->isHandedOut());
    out.Release();
    EXPECT_EQ(held->unlockStream(), 0u);
    EXPECT_EQ(man.CloseSect(held), 0u);
}

TEST_F(FsSectManTest, CopyingAnOpenDirectoryLeavesItAndItsSectionsOpen) {
    FsSectMan man(root);
    FsSectMan* sub = man.GetDir("sub", FsSectMan::kWrite);
    ASSERT_NE(sub, nullptr);
    *sub->GetSect("data", FsSectMan::kWrite) << "payload";
    ASSERT_EQ(man.CloseDir(sub), 0u);

    FsSectMan* held = man.GetDir("sub", 0);
    ASSERT_NE(held, nullptr);
    FsSecCl* data = held->GetSect("data", 0);
    ASSERT_NE(data, nullptr);
    ComPtr<IStorage> copy;
    copy.Attach(man.getCopyOfDir("sub", nullptr));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(sectionIn(copy, "data"), "7 payload");
    ASSERT_EQ(man.directories().at("sub").get(), held);
    EXPECT_FALSE(held->isLocked());
    ASSERT_EQ(held->sections().at("data").get(), data);
    std::string text;
    *data >> text;
    EXPECT_EQ(data->state(), 0u);
    EXPECT_EQ(text, "payload");

    // Locked by the caller: no copy, and the lock stays the caller's.
    ComPtr<IStorage> handed;
    ASSERT_TRUE(held->Lock(&handed));
    EXPECT_EQ(man.getCopyOfDir("sub", nullptr), nullptr);
    ASSERT_EQ(man.directories().at("sub").get(), held);
    EXPECT_TRUE(held->isLocked());
    handed.Release();
    EXPECT_EQ(held->Unlock(), 0u);
    EXPECT_EQ(man.CloseDir(held), 0u);
}

} // namespace
