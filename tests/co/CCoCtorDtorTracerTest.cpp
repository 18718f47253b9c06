// The constructor/destructor tracer.
#include "co/CCoCtorDtorTracer.h"
#include "co/CCoTraceContext.h"
#include "tests/co/TraceLog.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

using zeb::test::runTraced;

namespace {

ZEB_CHILD_SCENARIO(ctorDtorTracer) {
    const std::string name(400, 'N');
    { CCoCtorDtorTracer longName(name.c_str()); }
    CCoCtorDtorTracer tracer("CZEBInstallation");
    char address[32];
    std::snprintf(address, sizeof address, "0x%0*" PRIXPTR, int(2 * sizeof(void*)),
                  reinterpret_cast<uintptr_t>(&tracer));
    return std::string(tracer.isTracing() ? "tracing " : "quiet ") + address;
}

} // namespace

TEST(CtorDtorTracer, LevelSevenReleasedWritesCtorAndDtorThroughTheModule) {
    auto run = runTraced("ctorDtorTracer", "7");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.output.rfind("tracing ", 0), 0u) << run.output;
    std::string address = run.output.substr(8);
    ASSERT_EQ(run.lines.size(), 4u) << run.text;
    // The text is cut at 255 characters.
    EXPECT_EQ(run.lines[0].substr(run.lines[0].find("L7: ") + 4), "CTOR " + std::string(250, 'N'));
    EXPECT_EQ(run.lines[2].rfind("tuTraceCTORDTOR [k4bt09ax, thread: 0x", 0), 0u);
    EXPECT_NE(run.lines[2].find("] L7: CTOR CZEBInstallation (" + address + ")"), std::string::npos)
        << run.lines[2];
    EXPECT_NE(run.lines[3].find("] L7: DTOR CZEBInstallation (" + address + ")"), std::string::npos)
        << run.lines[3];
}

TEST(CtorDtorTracer, LevelSevenNotReleasedTracesNothing) {
    auto run = runTraced("ctorDtorTracer", "1,4");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.rfind("quiet ", 0), 0u);
    EXPECT_TRUE(run.lines.empty()) << run.text;

    CCoTraceContext missing(1, 23, "k4nosuchtrace.dll");
    EXPECT_FALSE(CCoCtorDtorTracer("CZEBInstallation", &missing).isTracing());
    EXPECT_FALSE(CCoCtorDtorTracer(nullptr, nullptr).isTracing());
}
