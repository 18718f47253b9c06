// The command-line tools as a user runs them: their output, exit status and
// usage handling, on files made here.
#include "platform/com/ComPtr.h"
#include "platform/storage/Storage.h"
#include "platform/win/TextConvert.h"
#include "tests/acx/AcxBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace zeb::test::acx;
using zeb::test::readFile;
using zeb::test::TempDir;
using zeb::test::writeFile;

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// The tools are built beside the test program.
std::string toolPath(const char* name) {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
    return dir.substr(0, dir.rfind('/') + 1) + name;
}

// Runs a tool with the given (shell-safe) arguments from inside `dir`.
ToolRun run(const TempDir& dir, const char* tool, const std::string& args) {
    const std::string cmd = "cd '" + dir.path() + "' && '" + toolPath(tool) + "' " + args +
                            " > .out 2> .err";
    ToolRun r;
    const int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = readFile(dir.file(".out"));
    r.err = readFile(dir.file(".err"));
    return r;
}

std::string samplePd() {
    return document(compound(
        2144, u8(2088, 1) + u8(2089, 2) + str(150, "Drive") + str(67, "Axis drive") +
                  compound(2145, u16(2129, 3) + str(2121, "0123456789ABCDEF0123456789ABCDEF") +
                                     u8(2122, 2) + u8(2123, 1))));
}

// The lines of `text` from the first one starting with `from` on.
std::string from(const std::string& text, const std::string& start) {
    const size_t at = text.find(start);
    return at == std::string::npos ? std::string() : text.substr(at);
}

} // namespace

TEST(Acxdump, PrintsTreeAndHeaderAlikeForPlainAndGzipFilesAndChangesNothing) {
    TempDir dir;
    writePlain(dir.file("a.pd"), samplePd());
    writeGzip(dir.file("b.pd"), samplePd());
    const std::string packed = readFile(dir.file("b.pd"));

    ToolRun plain = run(dir, "acxdump", "a.pd");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out.find("2144 compound"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("150 string len=5 = \"Drive\""), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("tag 150              \"Drive\""), std::string::npos);
    EXPECT_NE(plain.out.find("{01234567-89AB-CDEF-0123-456789ABCDEF} 2.1"), std::string::npos);

    ToolRun gzip = run(dir, "acxdump", "b.pd");
    ASSERT_EQ(gzip.status, 0) << gzip.err;
    EXPECT_EQ(from(gzip.out, "0 compound"), from(plain.out, "0 compound"));
    EXPECT_EQ(readFile(dir.file("b.pd")), packed);

    // Options count wherever they stand; --no-tree keeps the header only.
    ToolRun headers = run(dir, "acxdump", "a.pd b.pd --no-tree");
    ASSERT_EQ(headers.status, 0);
    EXPECT_EQ(headers.out.find("compound"), std::string::npos) << headers.out;
    EXPECT_NE(headers.out.find("== b.pd\nPD-file header:"), std::string::npos) << headers.out;
}

TEST(Acxdump, UnpackRewritesAGzipFileAsThePlainFile) {
    TempDir dir;
    writeGzip(dir.file("b.pd"), samplePd());
    ToolRun r = run(dir, "acxdump", "--unpack --no-tree b.pd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("b.pd")), samplePd());
}

TEST(Acxdump, DamagedOrMissingFilesAreReportedWithExitOne) {
    TempDir dir;
    const std::string whole = samplePd();
    writePlain(dir.file("cut.pd"), whole.substr(0, whole.size() - 5));
    for (const char* args : {"cut.pd", "--no-tree cut.pd", "missing.pd"}) {
        ToolRun r = run(dir, "acxdump", args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.out.find("! fatal"), std::string::npos) << args << "\n" << r.out;
    }
    // One bad file among good ones still fails the run, after all are shown.
    writePlain(dir.file("a.pd"), whole);
    ToolRun mixed = run(dir, "acxdump", "--no-tree cut.pd a.pd");
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.out.find("== a.pd"), std::string::npos);
}

TEST(Acxdump, UsageErrorsExitTwoAndHelpExplains) {
    TempDir dir;
    ToolRun none = run(dir, "acxdump", "");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("usage: acxdump"), std::string::npos);
    ToolRun unknown = run(dir, "acxdump", "--tree x.pd");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown option '--tree'"), std::string::npos) << unknown.err;
    ToolRun help = run(dir, "acxdump", "x.pd --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--no-tree"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

TEST(Zebstg, ListsAndCopiesOutTheStreamsOfACompoundFile) {
    TempDir dir;
    const std::string bytes("a\0b\xff\n", 5);
    {
        constexpr DWORD kNew = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        ComPtr<IStorage> root, sub;
        ASSERT_EQ(StgCreateDocfile(zeb::toWide(dir.file("f.dat")).c_str(), kNew, 0, &root), S_OK);
        ASSERT_EQ(root->CreateStorage(u"Sub", kNew, 0, 0, &sub), S_OK);
        ComPtr<IStream> s;
        ASSERT_EQ(sub->CreateStream(u"data", kNew, 0, 0, &s), S_OK);
        ASSERT_EQ(s->Write(bytes.data(), ULONG(bytes.size()), nullptr), S_OK);
        s = nullptr;
        sub = nullptr;
        ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    }
    ToolRun list = run(dir, "zebstg", "list f.dat");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Sub/data"), std::string::npos) << list.out;

    ToolRun cat = run(dir, "zebstg", "cat f.dat Sub/data");
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, bytes);

    ToolRun missing = run(dir, "zebstg", "cat f.dat Sub/other");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no stream Sub/other"), std::string::npos);
}

TEST(Zebstg, RefusesOtherFilesAndBadUsageAndHelpExplains) {
    TempDir dir;
    writeFile(dir.file("plain.txt"), std::string(1024, 'x'));
    ToolRun notCompound = run(dir, "zebstg", "list plain.txt");
    EXPECT_EQ(notCompound.status, 2);
    EXPECT_NE(notCompound.err.find("cannot open plain.txt"), std::string::npos);
    for (const char* args : {"", "list", "cat f.dat", "values", "remove f.dat x"})
        EXPECT_EQ(run(dir, "zebstg", args).status, 1) << args;
    ToolRun help = run(dir, "zebstg", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("FORMAT"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}
