#include "acx/CAcxZFileSystem.h"
#include "acx/CAcxReader.h"
#include "tests/acx/AcxBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

using namespace zeb::test::acx;
using zeb::test::readFile;
using zeb::test::TempDir;

namespace {

std::vector<std::string> entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string readAll(CAcxZFileSystem& fs, CAcxFileHandleBase* h) {
    std::string out;
    char buf[4096];
    while (size_t n = fs.read(buf, 1, sizeof buf, h))
        out.append(buf, n);
    return out;
}

const std::string kContent =
    document(compound(2144, u8(2088, 1) + str(150, std::string(5000, 'q'))));

} // namespace

TEST(AcxZFileSystem, CompressedAndPlainFilesReadAlike) {
    TempDir dir;
    writePlain(dir.file("plain.acx"), kContent);
    writeGzip(dir.file("packed.acx"), kContent);
    CAcxZFileSystem fs;
    for (const char* name : {"plain.acx", "packed.acx"}) {
        CAcxFileHandleBase* h = fs.open(dir.file(name).c_str(), "rb");
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(fs.compressed(h), std::string(name) == "packed.acx");
        EXPECT_EQ(fs.size(h), int64_t(kContent.size()));
        EXPECT_EQ(readAll(fs, h), kContent);
        EXPECT_EQ(fs.seek(h, 3, SEEK_SET), 0);
        EXPECT_EQ(fs.tell(h), 3);
        EXPECT_EQ(fs.close(h), 0);
    }
    EXPECT_EQ(fs.open(dir.file("absent").c_str(), "rb"), nullptr);
}

TEST(AcxZFileSystem, ReadCountsWholeItemsOnly) {
    TempDir dir;
    writePlain(dir.file("f"), "1234567");
    CAcxZFileSystem fs;
    CAcxFileHandleBase* h = fs.open(dir.file("f").c_str(), "rb");
    char buf[8];
    EXPECT_EQ(fs.read(buf, 2, 4, h), 3u);
    fs.close(h);
}

TEST(AcxZFileSystem, UnpackInPlaceRewritesTheFileUncompressedWithoutLeftovers) {
    TempDir dir;
    writeGzip(dir.file("t.pd"), kContent);
    ::chmod(dir.file("t.pd").c_str(), 0640);
    CAcxZFileSystem fs;
    fs.unpackInPlaceOn();
    CAcxFileHandleBase* h = fs.open(dir.file("t.pd").c_str(), "rb");
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(fs.compressed(h));
    EXPECT_EQ(readAll(fs, h), kContent);
    fs.close(h);
    EXPECT_EQ(readFile(dir.file("t.pd")), kContent);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"t.pd"});
    struct stat st {};
    ::stat(dir.file("t.pd").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AcxZFileSystem, FailedUnpackLeavesTheOriginalUntouched) {
    TempDir dir;
    writeGzip(dir.file("t.pd"), kContent);
    std::string packed = readFile(dir.file("t.pd"));
    CAcxZFileSystem fs;
    fs.unpackInPlaceOn();

    // Cut short, and a trailer whose length field lies.
    std::string cut = packed.substr(0, packed.size() / 2);
    std::string lying = packed;
    lying[lying.size() - 4] = char(lying[lying.size() - 4] + 1);
    for (const std::string& bad : {cut, lying}) {
        writePlain(dir.file("t.pd"), bad);
        EXPECT_EQ(fs.open(dir.file("t.pd").c_str(), "rb"), nullptr);
        EXPECT_EQ(readFile(dir.file("t.pd")), bad);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"t.pd"});
    }
}

TEST(AcxZFileSystem, GzipWhoseLengthFieldLiesReadsAsDamagedAndStaysUntouched) {
    TempDir dir;
    writeGzip(dir.file("t.pd"), kContent);
    std::string packed = readFile(dir.file("t.pd"));
    packed[packed.size() - 1] = char(0x7F); // claims about 2 GB
    writePlain(dir.file("t.pd"), packed);
    struct Fatal : CAcxErrorHandlerBase {
        int code = 0;
        void fatalError(int c) override { code = c; }
    } errors;
    CAcxZFileSystem fs;
    CAcxContentHandlerBase content;
    CAcxReader reader;
    reader.setFileSystem(&fs);
    reader.setErrorHandler(&errors);
    reader.setContentHandler(&content);
    EXPECT_TRUE(reader.parse(dir.file("t.pd").c_str()));
    EXPECT_EQ(errors.code, 2); // zlib refuses the stream at its trailer
    EXPECT_EQ(readFile(dir.file("t.pd")), packed);
}

TEST(AcxZFileSystem, UnpackThroughASymbolicLinkRewritesTheFileItNames) {
    TempDir dir;
    writeGzip(dir.file("real.pd"), kContent);
    ASSERT_EQ(::symlink("real.pd", dir.file("link.pd").c_str()), 0);
    CAcxZFileSystem fs;
    ASSERT_TRUE(fs.unpack(dir.file("link.pd").c_str()));
    EXPECT_EQ(readFile(dir.file("real.pd")), kContent);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link.pd").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}
