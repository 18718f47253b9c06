// Trace contexts made in the test process on their own environment: the
// library lookup, released and unreleased levels, the header, silent records.
#include "co/CCoTraceContext.h"
#include "platform/win/Registry.h"
#include "platform/win/Threading.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using zeb::test::ScopedEnv;
using zeb::test::TempDir;

namespace {

// Levels, trace file and registry (with the silent switch) in a TempDir.
class TraceSetup {
public:
    explicit TraceSetup(const char* levels, std::optional<DWORD> silent = std::nullopt)
        : m_levels("ZEB_TRACE", levels), m_file("ZEB_TRACE_FILE", m_dir.file("trace.txt")),
          m_registry("ZEB_REGISTRY", m_dir.file("registry.reg")) {
        if (silent)
            zeb::RegistryStore::writeDword("HKEY_CURRENT_USER\\SOFTWARE\\Norvale\\ZEB\\4.1\\Trace",
                                           "silent-trace", *silent);
    }
    std::string trace() const { return zeb::test::readFile(m_dir.file("trace.txt")); }

private:
    TempDir m_dir;
    ScopedEnv m_levels, m_file, m_registry;
};

void emit(CCoTraceContext& context, CCoTraceRecord& record, DWORD level, const char* format, ...) {
    record.level = level;
    record.line = 120;
    va_list args;
    va_start(args, format);
    context.trace(record, format, args);
    va_end(args);
}

} // namespace

TEST(TraceContext, WithoutAWorkingTraceLibraryNothingIsReleasedOrWritten) {
    TraceSetup setup("all");
    CCoTraceContext missing(1, 15, "k4nosuchtrace.dll");
    CCoTraceRecord record("is_data", "CIsTypeCont::addType");
    emit(missing, record, 4, "value %d", 42);
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_STREQ(record.text, "");
    EXPECT_EQ(setup.trace(), "");

    ScopedEnv unopenable("ZEB_TRACE_FILE", "/nonexistent-zeb-dir/trace.txt"); // sink refuses
    CCoTraceContext refused(1, 15);
    EXPECT_FALSE(refused.isLoaded());
    EXPECT_FALSE(refused.isReleased(4));
}

TEST(TraceContext, ReleasedLevelWritesTheHeaderAndTheFormattedMessage) {
    TraceSetup setup("1,4");
    CCoTraceContext context(1, 15);
    ASSERT_TRUE(context.isLoaded());
    CCoTraceRecord record("is_data", "CIsTypeCont::addType");
    emit(context, record, 4, "internal type inserted: %s (%d)", "PmGlobCommon.1.1", 7);

    char header[512];
    std::snprintf(header, sizeof header,
                  "CIsTypeCont::addType [is_data (120), module: co_tests, thread: 0x%X]",
                  GetCurrentThreadId());
    EXPECT_STREQ(record.text, header);

    std::string longName(600, 'f'); // the header is cut at 511 characters
    CCoTraceRecord longRecord("is_data", longName.c_str());
    emit(context, longRecord, 4, "x");
    EXPECT_EQ(std::string(longRecord.text), longName.substr(0, 511));
    EXPECT_EQ(setup.trace().substr(0, setup.trace().find('\n') + 1),
              std::string(header) + " L4: internal type inserted: PmGlobCommon.1.1 (7)\n");
}

TEST(TraceContext, UnreleasedLevelIsNeitherFormattedNorWritten) {
    TraceSetup setup("4", 0);
    CCoTraceContext context(1, 15);
    EXPECT_FALSE(context.isSilent());
    EXPECT_FALSE(context.isReleased(3));
    CCoTraceRecord record("is_data", "CIsTypeCont::addType");
    emit(context, record, 3, "attribute \"%s\" not exist", "BI_X");
    emit(context, record, 4, nullptr); // no format: nothing
    EXPECT_STREQ(record.text, "");
    EXPECT_EQ(setup.trace(), "");
}

TEST(TraceContext, SilentSwitchHandsUnreleasedTracesOverUnformatted) {
    TraceSetup setup("4", 1);
    CCoTraceContext context(1, 15);
    ASSERT_TRUE(context.isSilent());
    EXPECT_FALSE(CCoTraceContext(1, 15, "k4wtrcax.dll", "k4nosuchtool.dll").isSilent());

    CCoTraceRecord record("is_data", "CIsTypeCont::getAttr");
    emit(context, record, 3, "attribute \"%s\" not exist (%d)", "BI_X", 5);
    // File, function and format are cut at 100, 50 and 100 characters.
    std::string file(150, 'f'), function(60, 'n'), format(120, 'x');
    CCoTraceRecord longRecord(file.c_str(), function.c_str());
    emit(context, longRecord, 1, format.c_str());
    EXPECT_EQ(setup.trace(),
              "SILENT L3: CIsTypeCont::getAttr [is_data (120)] attribute \"%s\" not exist (%d)\n"
              "SILENT L1: " +
                  function.substr(0, 50) + " [" + file.substr(0, 100) + " (120)] " +
                  format.substr(0, 100) + "\n");
}
