#include "is/isacx/CIsAcxReader.h"
#include "acx/CAcxReader.h"
#include "acx/CAcxZFileSystem.h"
#include "is/isacx/CIsAcxContentHandler.h"
#include "tests/acx/AcxBuilder.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace zeb::test::acx;
using zeb::test::readFile;
using zeb::test::TempDir;

namespace {

CIsAcxDscHeader readPd(const std::string& bytes, bool gzip = false) {
    TempDir dir;
    if (gzip)
        writeGzip(dir.file("t.pd"), bytes);
    else
        writePlain(dir.file("t.pd"), bytes);
    CIsAcxReader pd;
    EXPECT_EQ(pd.init(dir.file("t.pd").c_str()), 0);
    return pd.header();
}

GUID guidOf(const char* registryForm) {
    GUID g{};
    EXPECT_TRUE(zeb::guidFromString(registryForm, g));
    return g;
}

// Runs a PD-file in a child process with tracing on; returns the trace.
zeb::test::TracedRun tracedRun(const std::string& scenario) {
    return zeb::test::runTraced(scenario);
}

std::string tracedParse(const std::string& bytes) {
    TempDir dir;
    writePlain(dir.file("t.pd"), bytes);
    CIsAcxReader pd;
    pd.init(dir.file("t.pd").c_str());
    return std::to_string(pd.header().m_wViewId);
}

} // namespace

ZEB_CHILD_SCENARIO(pdNarrowViewId) {
    return tracedParse(document(compound(2144, compound(2145, u8(2129, 3)))));
}
ZEB_CHILD_SCENARIO(pdShortGuid) {
    return tracedParse(document(compound(2144, compound(2145, str(2121, "0123456789")))));
}
ZEB_CHILD_SCENARIO(pdOtherType) {
    return tracedParse(document(compound(2409, u8(2088, 1))));
}
ZEB_CHILD_SCENARIO(pdMissing) {
    return tracedParse("");
}

TEST(IsAcxReader, BaseAndViewDataFillTheRecord) {
    CIsAcxDscHeader h = readPd(pdFile(3, 1, 1, true));
    EXPECT_EQ(h.m_wViewId, 3);
    EXPECT_EQ(h.m_bDataSetHandling, 1);
    EXPECT_EQ(h.m_bParallelConnectable, 1);
    EXPECT_EQ(h.m_wTag2088, 0x21);
    EXPECT_EQ(h.m_wTag2089, 0x42);
    EXPECT_EQ(h.m_strTag150, "Drive");
    EXPECT_EQ(h.m_strTag67, "Axis drive");
    EXPECT_EQ(h.m_dwTag17, 0x1234u);
    EXPECT_TRUE(isInvalid(h.m_rtStamp));
    // The view data's stamp wins; the base data's is kept beside it.
    EXPECT_EQ(h.m_rtTypeStamp, (RTTypeID{guidOf("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"), 4, 1}));
    EXPECT_EQ(h.m_rtBaseStamp, (RTTypeID{guidOf("{01234567-89AB-CDEF-0123-456789ABCDEF}"), 3, 7}));
    EXPECT_EQ(h.m_strEsName, "ViewEs");
    EXPECT_EQ(h.m_guidEs, guidOf("{99999999-8888-7777-6666-555544443333}"));
}

TEST(IsAcxReader, WithoutViewDataStampAndEsDataComeFromTheBaseData) {
    CIsAcxDscHeader h = readPd(pdFile(5, 0, 1, false));
    EXPECT_EQ(h.m_wViewId, 5);
    EXPECT_EQ(h.m_bParallelConnectable, 0);
    EXPECT_EQ(h.m_rtTypeStamp, (RTTypeID{guidOf("{01234567-89AB-CDEF-0123-456789ABCDEF}"), 3, 7}));
    EXPECT_TRUE(isInvalid(h.m_rtBaseStamp));
    EXPECT_EQ(h.m_strEsName, "BaseEs");
    EXPECT_EQ(h.m_guidEs, guidOf("{11111111-2222-3333-4444-555555555555}"));
}

TEST(IsAcxReader, GzipPdFileIsRewrittenPlainAndReadsLikeThePlainFile) {
    TempDir dir;
    const std::string bytes = pdFile(3, 1, 1, true);
    writeGzip(dir.file("t.pd"), bytes);
    CIsAcxReader pd;
    EXPECT_EQ(pd.init(dir.file("t.pd").c_str()), 0);
    EXPECT_EQ(readFile(dir.file("t.pd")), bytes);
    EXPECT_EQ(pd.header().m_wViewId, 3);
    EXPECT_EQ(pd.header().m_strEsName, "ViewEs");
}

TEST(IsAcxReader, CompressedFileIsLeftAloneWhenUnpackingIsOff) {
    TempDir dir;
    writeGzip(dir.file("t.pd"), pdFile(3, 1, 1, true));
    const std::string packed = readFile(dir.file("t.pd"));
    CIsAcxReader pd;
    pd.setUnpackInPlace(false);
    EXPECT_EQ(pd.init(dir.file("t.pd").c_str()), 0);
    EXPECT_EQ(readFile(dir.file("t.pd")), packed);
    EXPECT_EQ(pd.header().m_bDataSetHandling, 1);
}

TEST(IsAcxReader, HeaderBytesAreFFFFWhenMissingAndZeroWithoutBaseSection) {
    CIsAcxDscHeader h = readPd(document(compound(2144, str(150, "x"))));
    EXPECT_EQ(h.m_wTag2088, 0xFFFF);
    EXPECT_EQ(h.m_wTag2089, 0xFFFF);
    EXPECT_EQ(h.m_strTag150, "x");
    h = readPd(document(compound(2409, u8(2088, 1))));
    EXPECT_EQ(h.m_wTag2088, 0);
    EXPECT_TRUE(isInvalid(h.m_rtTypeStamp));
}

TEST(IsAcxReader, BaseDataIsKeptWhenNoPlainValuePrecedesIt) {
    CIsAcxDscHeader h = readPd(document(compound(2144, compound(2145, u16(2129, 7)))));
    EXPECT_EQ(h.m_wViewId, 7);
}

TEST(IsAcxReader, SkippedAndUnknownCompoundsDoNotDisturbTheRecord) {
    std::string noise = compound(65, compound(2145, u16(2129, 99))) + compound(777, u16(2129, 98));
    CIsAcxDscHeader h = readPd(document(compound(2144, noise + compound(2145, u16(2129, 4)))));
    EXPECT_EQ(h.m_wViewId, 4);
}

TEST(IsAcxReader, MissingOrDamagedFilesReturnZeroWithAnUntouchedRecord) {
    TempDir dir;
    CIsAcxReader pd;
    EXPECT_EQ(pd.init(dir.file("absent.pd").c_str()), 0);
    EXPECT_EQ(pd.lastFatal(), 1);
    EXPECT_TRUE(isInvalid(pd.header().m_rtTypeStamp));
    std::string cut = pdFile(3, 1, 1, true);
    cut.resize(cut.size() - 40);
    writePlain(dir.file("cut.pd"), cut);
    EXPECT_EQ(pd.init(dir.file("cut.pd").c_str()), 0);
    EXPECT_EQ(pd.lastFatal(), 2);
}

TEST(IsAcxContentHandler, KeepsTheTagTreeOfTheLastParse) {
    TempDir dir;
    writePlain(dir.file("t.pd"), pdFile(3, 1, 1, true));
    CIsAcxDscHeader record;
    CAcxZFileSystem fs;
    CAcxErrorHandlerBase errors;
    CAcxReader reader;
    CIsAcxContentHandler content(reader, record);
    reader.setFileSystem(&fs);
    reader.setErrorHandler(&errors);
    reader.setContentHandler(&content);
    reader.parse(dir.file("t.pd").c_str());
    reader.parse(dir.file("t.pd").c_str());
    const CAcxCompoundTag* root = content.tree().root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->childCount(), 1u);
    auto* section = static_cast<CAcxCompoundTagBase*>(root->firstChild());
    EXPECT_EQ(section->tagId(), 2144u);
    auto* first = static_cast<CAcxDataTag*>(section->firstChild());
    EXPECT_EQ(first->tagId(), 2088u);
    EXPECT_EQ(first->value(), 0x21u);
    EXPECT_EQ(first->typeCode(), 5);
    // The skipped compound 65 is in the tree without its children.
    auto* last = static_cast<CAcxCompoundTagBase*>(section->lastChild());
    EXPECT_EQ(last->tagId(), 65u);
    EXPECT_EQ(last->childCount(), 0u);
}

TEST(IsAcxTrace, WrongDatatypeIsLoggedAndNotKept) {
    auto run = tracedRun("pdNarrowViewId");
    EXPECT_EQ(run.output, "0");
    EXPECT_EQ(run.linesWith("ACX: invalid datatype").size(), 1u);
}

TEST(IsAcxTrace, GuidOfAnotherLengthIsASyntaxError) {
    auto run = tracedRun("pdShortGuid");
    EXPECT_EQ(run.linesWith("ACX: Syntax").size(), 1u);
}

TEST(IsAcxTrace, FilesOfOtherTypesLogUnknownFiletype) {
    auto run = tracedRun("pdOtherType");
    EXPECT_FALSE(run.linesWith("unknown filetype").empty());
}

TEST(IsAcxTrace, UnreadableFileLogsTheFatalError) {
    auto run = tracedRun("pdMissing");
    EXPECT_EQ(run.linesWith("ACX fatalError 2").size(), 1u);
}
