// The trace sink "k4wtrcax" through its entry points (linked here; the
// tracing resolves the same entry points at run time).
#include "ext/k4wtrcax/k4wtrcax.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using zeb::test::ScopedEnv;

namespace {

class TraceSink : public ::testing::Test {
protected:
    // Opens a handle releasing `levels` into this test's trace file.
    DWORD open(const char* levels) {
        ScopedEnv l("ZEB_TRACE", levels), f("ZEB_TRACE_FILE", m_dir.file("trace.txt"));
        DWORD handle = 0;
        EXPECT_TRUE(traceapi_Init2(0, 0, &handle, 0));
        return handle;
    }
    static void write(DWORD handle, DWORD level, const char* header, const char* format, ...) {
        va_list args;
        va_start(args, format);
        VTraceMsg2(handle, 1, 15, level, header, format, args);
        va_end(args);
    }
    std::string text() const { return zeb::test::readFile(m_dir.file("trace.txt")); }

    static constexpr auto released = IsTraceReleased2;
    static constexpr auto deinit = traceapi_DeInit2;
    static constexpr auto init = traceapi_Init2;
    static constexpr auto silent = TraceMsgSilent;

private:
    zeb::test::TempDir m_dir;
};

} // namespace

TEST_F(TraceSink, ReleasedLevelsAndOutputComeFromTheEnvironmentAtInit) {
    DWORD some = open("1, 3,4"), all = open("ALL"), none = open(""), junk = open("x,99,-1,4a,,2");
    EXPECT_TRUE(released(some, 1, 15, 1) && released(some, 1, 15, 3) && released(some, 1, 15, 4));
    EXPECT_FALSE(released(some, 1, 15, 2));
    EXPECT_TRUE(released(all, 1, 15, 7) && released(all, 1, 15, 1000));
    EXPECT_FALSE(released(none, 1, 15, 4));
    EXPECT_TRUE(released(junk, 1, 15, 2));
    EXPECT_FALSE(released(junk, 1, 15, 4) || released(junk, 1, 15, 99));
    EXPECT_FALSE(released(0, 1, 15, 4) || released(12345, 1, 15, 4));
    for (DWORD h : {some, all, none, junk})
        EXPECT_TRUE(deinit(&h));

    DWORD handle = 0; // bad arguments or an unopenable file make init fail
    EXPECT_FALSE(init(0, 0, nullptr, 0) || deinit(nullptr));
    ScopedEnv file("ZEB_TRACE_FILE", "/nonexistent-zeb-dir/trace.txt");
    EXPECT_FALSE(init(0, 0, &handle, 0));
    EXPECT_EQ(handle, 0u);
}

TEST_F(TraceSink, OneLinePerMessageWithHeaderLevelAndFormattedText) {
    DWORD handle = open("4");
    write(handle, 4, "Op::run [src (3), module: m, thread: 0x1]", "value %d of %s\n", 7, "x");
    write(handle, 3, "hidden", "not released");
    write(handle, 4, "", "first\nsecond\r\nthird");
    write(handle, 4, "h", "%s", std::string(10000, 'z').c_str());
    DWORD closed = handle;
    EXPECT_TRUE(deinit(&handle));
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(deinit(&closed));
    write(closed, 4, "closed", "after close"); // nothing
    std::string expected = "Op::run [src (3), module: m, thread: 0x1] L4: value 7 of x\n"
                           "L4: first second  third\n"
                           "h L4: " +
                           std::string(4095 - 6, 'z') + "\n"; // cut to 4096 bytes with the '\n'
    EXPECT_EQ(text(), expected);
}

TEST_F(TraceSink, SilentRecordIsWrittenUnformattedWithinItsBounds) {
    DWORD handle = open("");
    TRACE_SILENT_RECORD record{3, 42, {}, "CIsTypeCont::getAttr", "attribute \"%s\" not exist"};
    std::memset(record.file, 'f', sizeof record.file); // full: no terminator
    silent(&record);
    silent(nullptr);
    deinit(&handle);
    silent(&record); // no handle open: dropped
    EXPECT_EQ(text(), "SILENT L3: CIsTypeCont::getAttr [" + std::string(100, 'f') +
                          " (42)] attribute \"%s\" not exist\n");
}

TEST_F(TraceSink, LinesFromManyThreadsNeverInterleave) {
    DWORD handle = open("1");
    constexpr int kThreads = 8, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::string payload(100 + 37 * t, char('a' + t));
            for (int i = 0; i < kLines; ++i)
                write(handle, 1, "worker", "%d %d %s", t, i, payload.c_str());
        });
    for (auto& thread : threads)
        thread.join();
    deinit(&handle);

    std::istringstream in(text());
    const std::regex form(R"(worker L1: (\d) (\d+) ([a-h]+))");
    std::set<std::string> seen;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, form)) << line.substr(0, 80);
        EXPECT_EQ(m[3].str(), std::string(100 + 37 * std::stoi(m[1]), char('a' + std::stoi(m[1]))));
        seen.insert(m[1].str() + " " + m[2].str());
    }
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
}
