#include "acx/CAcxReader.h"
#include "acx/CAcxZFileSystem.h"
#include "tests/acx/AcxBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace zeb::test::acx;
using zeb::test::TempDir;

namespace {

struct Errors : CAcxErrorHandlerBase {
    std::vector<std::string> seen;
    void warning(int c) override { seen.push_back("w" + std::to_string(c)); }
    void error(int c) override { seen.push_back("e" + std::to_string(c)); }
    void fatalError(int c) override { seen.push_back("f" + std::to_string(c)); }
};

// Records the calls as short text: "<id" start, ">id" end, "d<code>=<value>",
// "s<text>", "[" document start, "]" document end.
struct Recorder : CAcxContentHandlerBase {
    CAcxReader* reader = nullptr;
    std::string log;
    uint32_t capacity = 1024;
    char buffer[1025];
    uint32_t skipId = ~0u, leaveAfterEndOf = ~0u;

    void startDocument(bool) override { log += "["; }
    void startTag(const CAcxTagRecord& t) override {
        log += "<" + std::to_string(t.tagId);
        if (t.tagId == skipId) reader->skipTag();
    }
    void handleData(int code, const void* v) override {
        uint64_t x;
        std::memcpy(&x, v, 8);
        log += " d" + std::to_string(code) + "=" + std::to_string(x);
    }
    void startStringTag(const CAcxTagRecord& t, char** b, uint32_t* c) override {
        log += "<" + std::to_string(t.tagId);
        *b = buffer;
        *c = capacity;
    }
    void handleStringData(const char* text, uint32_t n) override {
        log += " s" + std::string(text) + "/" + std::to_string(n);
    }
    void endTag(const CAcxTagRecord& t) override {
        log += " >" + std::to_string(t.tagId) + " ";
        if (t.tagId == leaveAfterEndOf) reader->leaveCompound();
    }
    void endDocument() override { log += "]"; }
};

class AcxReaderTest : public ::testing::Test {
protected:
    TempDir dir;
    CAcxZFileSystem fs;
    Errors errors;
    Recorder content;
    CAcxReader reader;

    void SetUp() override {
        content.reader = &reader;
        reader.setFileSystem(&fs);
        reader.setErrorHandler(&errors);
        reader.setContentHandler(&content);
    }
    std::string parseBytes(const std::string& bytes) {
        writePlain(dir.file("f.acx"), bytes);
        EXPECT_TRUE(reader.parse(dir.file("f.acx").c_str()));
        EXPECT_EQ(reader.state(), CAcxReader::StateIdle);
        return content.log;
    }
    std::string codes() const {
        std::string s;
        for (auto& c : errors.seen)
            s += c + " ";
        return s;
    }
};

} // namespace

TEST_F(AcxReaderTest, ShortOrForeignFilesEndInFatalErrorsButStillEndTheDocument) {
    parseBytes(std::string("AcX\0\0\2", 6));
    EXPECT_EQ(codes(), "f2 ");
    EXPECT_EQ(content.log, "]");
    errors.seen.clear();
    content.log.clear();
    parseBytes("XYZ" + fileHeader().substr(3) + compound(0, ""));
    EXPECT_EQ(codes(), "f11 ");
    EXPECT_EQ(content.log, "]");
}

TEST_F(AcxReaderTest, OtherMajorVersionIsAnErrorAndTagsAreStillDelivered) {
    std::string log = parseBytes(document(u8(5, 7), 0x0105));
    EXPECT_EQ(codes(), "e46 ");
    EXPECT_EQ(log, "[<0<5 d5=7 >5  >0 ]");
}

TEST_F(AcxReaderTest, ShortHeaderDecodesKindIdAndLength) {
    std::string bytes = fileHeader() + header(0, 0, 7) + std::string("\x04\x2A\x20", 3) + le(99, 4);
    EXPECT_EQ(parseBytes(bytes), "[<0<42 d7=99 >42  >0 ]");
    EXPECT_EQ(codes(), "");
}

TEST_F(AcxReaderTest, ExtendedHeaderCarriesLongLengthsLargeIdsAndWideKinds) {
    std::string longText(300, 'x');
    std::string log = parseBytes(document(str(0x12345, longText) + tag(9, 0x105, "")));
    EXPECT_EQ(log, "[<0<74565 s" + longText + "/300 >74565 <9 >9  >0 ]");
    EXPECT_EQ(codes(), "e30 ");
}

TEST_F(AcxReaderTest, DataTypeCodesFollowKindAndWidth) {
    std::string log = parseBytes(document(
        tag(1, 2, le(1, 1)) + tag(1, 2, le(2, 2)) + tag(1, 2, le(3, 4)) + tag(1, 2, le(4, 8)) +
        tag(1, 1, le(0xFFFFFFFFFFull, 8)) + tag(1, 4, le(0, 4)) + tag(1, 4, le(0, 8))));
    EXPECT_EQ(log, "[<0<1 d1=1 >1 <1 d2=2 >1 <1 d3=3 >1 <1 d4=4 >1 <1 d8=1099511627775 >1 "
                   "<1 d9=0 >1 <1 d10=0 >1  >0 ]");
}

TEST_F(AcxReaderTest, MalformedLeavesAreReportedAndSkippedWithTheirEndTag) {
    std::string log = parseBytes(document(tag(1, 1, "abc") + tag(2, 2, "abcde") + tag(3, 4, "ab") +
                                          tag(4, 5, "x") + tag(5, 6, "zz") + u8(6, 1)));
    EXPECT_EQ(codes(), "e41 e42 e43 e45 e30 ");
    EXPECT_EQ(log, "[<0<1 >1 <2 >2 <3 >3 <4 >4 <5 >5 <6 d5=1 >6  >0 ]");
}

TEST_F(AcxReaderTest, StringLongerThanTheCapacityIsCutAndTheNextTagReadsCorrectly) {
    content.capacity = 4;
    std::string log = parseBytes(document(str(7, "0123456789") + u8(8, 5)));
    EXPECT_EQ(log, "[<0<7 s0123/4 >7 <8 d5=5 >8  >0 ]");
}

TEST_F(AcxReaderTest, StringAcceptedWithoutBufferIsErrorFortyAndSkipped) {
    struct NoBuffer : Recorder {
        void startStringTag(const CAcxTagRecord&, char** b, uint32_t* c) override {
            *b = nullptr;
            *c = 5;
        }
    } handler;
    reader.setContentHandler(&handler);
    parseBytes(document(str(7, "abc") + u8(8, 1)));
    EXPECT_EQ(codes(), "e40 ");
    EXPECT_EQ(handler.log, "[<0 >7 <8 d5=1 >8  >0 ]");
}

TEST_F(AcxReaderTest, LeavingACompoundSkipsTheRestAndContinuesWithItsSibling) {
    content.leaveAfterEndOf = 11;
    std::string log = parseBytes(
        document(compound(10, u8(11, 1) + u8(12, 2) + compound(13, u8(14, 3))) + u8(20, 4)));
    EXPECT_EQ(log, "[<0<10<11 d5=1 >11  >10 <20 d5=4 >20  >0 ]");
    EXPECT_EQ(codes(), "");
}

TEST_F(AcxReaderTest, SkippedCompoundDeliversItsEndTagButNoContent) {
    content.skipId = 10;
    std::string log = parseBytes(document(compound(10, u8(11, 1)) + u8(20, 4)));
    EXPECT_EQ(log, "[<0<10 >10 <20 d5=4 >20  >0 ]");
}

TEST_F(AcxReaderTest, TagsOutsideTheDocumentAreErrorFortyFourAndBytesAfterItAreNotRead) {
    std::string bytes = fileHeader() + u8(3, 1) + compound(0, u8(4, 2)) + "garbage";
    std::string log = parseBytes(bytes);
    EXPECT_EQ(codes(), "e44 ");
    EXPECT_EQ(log, "[<3 d5=1 >3 <0<4 d5=2 >4  >0 ]");
}

TEST_F(AcxReaderTest, NestedDocumentTagIsReportedAndCannotWidenItsParent) {
    // The inner id-0 tag claims more than its parent holds.
    std::string inner = header(0, 0, 50) + u8(1, 1);
    std::string bytes = fileHeader() + compound(0, compound(10, inner)) + std::string(60, '\0');
    parseBytes(bytes);
    EXPECT_EQ(codes(), "e44 f2 ");
}

TEST_F(AcxReaderTest, LengthsThatRunPastTheirParentOrTheFileAreFatal) {
    std::string overParent =
        fileHeader() + header(0, 0, 4) + header(5, 3, 40) + std::string(40, 'a');
    parseBytes(overParent);
    EXPECT_EQ(codes(), "f2 ");
    EXPECT_EQ(content.log, "[<0]");

    errors.seen.clear();
    content.log.clear();
    parseBytes(fileHeader() + header(0, 0, 100000) + str(5, "abc"));
    EXPECT_EQ(codes(), "f2 ");

    errors.seen.clear();
    content.log.clear();
    parseBytes(fileHeader() + header(0, 0, 8) + std::string("\x85", 1)); // header cut short
    EXPECT_EQ(codes(), "f2 ");
    EXPECT_EQ(content.log, "[]");
}

TEST_F(AcxReaderTest, NestingBeyondTheLimitIsFatalInsteadOfExhaustingTheStack) {
    std::string inner = u8(1, 1);
    for (int i = 0; i < 5000; ++i)
        inner = compound(10, inner);
    parseBytes(document(inner));
    EXPECT_EQ(codes(), "f5 ");
    EXPECT_EQ(content.log.back(), ']');
}

TEST_F(AcxReaderTest, MissingCollaboratorsAndReentryAreReported) {
    CAcxReader bare;
    EXPECT_FALSE(bare.parse("x"));
    bare.setErrorHandler(&errors);
    EXPECT_TRUE(bare.parse("x"));
    bare.setFileSystem(&fs);
    EXPECT_TRUE(bare.parse("x"));
    EXPECT_EQ(codes(), "f4 f10 ");

    struct Reentrant : Recorder {
        void startDocument(bool) override { reader->parse("other"); }
    } handler;
    handler.reader = &reader;
    reader.setContentHandler(&handler);
    errors.seen.clear();
    parseBytes(document(u8(1, 1)));
    EXPECT_EQ(codes(), "f3 ");
    EXPECT_EQ(handler.log, "<0<1 d5=1 >1  >0 ]");
}

TEST_F(AcxReaderTest, MissingFileIsFatalOneAndTheReaderIsReusable) {
    EXPECT_TRUE(reader.parse(dir.file("absent.acx").c_str()));
    EXPECT_EQ(codes(), "f1 ");
    EXPECT_EQ(content.log, "]");
    content.log.clear();
    EXPECT_EQ(parseBytes(document(u8(1, 2))), "[<0<1 d5=2 >1  >0 ]");
}
