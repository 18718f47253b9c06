// Guarded calls: results, the failure and exception traces, the second
// result word, and the catch-all of methods and destructors. Each scenario
// runs in a child whose traces are all released into a file.
#include "co/CCoGuardedCall.h"
#include "tests/co/TraceLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

using zeb::test::runTraced;

namespace {

HRESULT answer(HRESULT hr) {
    return hr;
}
HRESULT answerRet(HRESULT hr, DWORD ret, DWORD* pRet) {
    *pRet = ret;
    return hr;
}
HRESULT fail() {
    throw std::runtime_error("outside component failed");
}

std::string results(std::initializer_list<DWORD> values) {
    std::string out;
    for (DWORD v : values) {
        char text[16];
        std::snprintf(text, sizeof text, "%s%X", out.empty() ? "" : " ", v);
        out += text;
    }
    return out;
}

ZEB_CHILD_SCENARIO(callsWithResult) {
    CCoTraceRecord rec("is_data", "CIsTypeCont::addType");
    HRESULT ok = ZEB_GUARDED_CALL(rec, answer(S_FALSE));
    HRESULT failed = ZEB_GUARDED_CALL(rec, answer(E_NOINTERFACE));
    const int line = __LINE__ - 1;
    HRESULT thrown = ZEB_GUARDED_CALL(rec, fail());
    HRESULT spelled = guardedCall(
        rec, "spIIntHdl->getProjectHdlHolder(&spIHolder)", [] { return fail(); },
        CatchText::Exception);
    return results({DWORD(ok), DWORD(failed), DWORD(thrown), DWORD(spelled)}) + " line " +
           std::to_string(line);
}

ZEB_CHILD_SCENARIO(callsWithResultWord) {
    CCoTraceRecord rec("is_data", "CIsBaseInstallEntry::addExtType");
    std::string out;
    const std::pair<HRESULT, DWORD> calls[] = {{S_OK, 0}, {S_OK, 5}, {E_FAIL, 0}, {E_POINTER, 7}};
    for (auto [hr, ret] : calls) {
        DWORD dwRet = 0;
        HRESULT got = ZEB_GUARDED_CALL_RET(rec, dwRet, answerRet(hr, ret, &dwRet));
        out += results({DWORD(got), dwRet}) + ", ";
    }
    DWORD dwRet = 0;
    HRESULT got = guardedCallRet(rec, "fail()", dwRet, [] { return fail(); });
    return out + results({DWORD(got), dwRet});
}

struct Container {
    ~Container() {
        CCoTraceRecord rec("is_data", "CIsTypeCont::~CIsTypeCont");
        guardedDestructor(rec, [] { throw std::logic_error("bad entry"); });
    }
};

ZEB_CHILD_SCENARIO(catchAll) {
    CCoTraceRecord rec("is_inst", "CZEBInstallation::save");
    HRESULT method = guardedMethod(rec, []() -> HRESULT { throw std::bad_alloc(); });
    HRESULT fine = guardedMethod(rec, [] { return S_FALSE; });
    bool body = guardedBody(rec, false, []() -> bool { throw 1; });
    int value = 0;
    HRESULT quiet = ZEB_GUARDED_VOID_CALL(rec, value = 5);
    HRESULT thrown = ZEB_GUARDED_VOID_CALL(rec, throw 2);
    { Container c; }
    return results(
        {DWORD(method), DWORD(fine), DWORD(body), DWORD(quiet), DWORD(thrown), DWORD(value)});
}

} // namespace

TEST(GuardedCall, FailuresAndExceptionsAreTracedWithTheCallTextResultAndLine) {
    auto run = runTraced("callsWithResult");
    ASSERT_EQ(run.exitCode, 0);
    std::string line = run.output.substr(run.output.rfind(' ') + 1);
    EXPECT_EQ(run.output, "1 80004002 80004005 80004005 line " + line);
    auto errors = run.linesWith("error calling");
    ASSERT_EQ(errors.size(), 3u) << run.text; // the succeeding call traced nothing
    EXPECT_EQ(errors[0].rfind("CIsTypeCont::addType [is_data (" + line + "), module: co_tests", 0),
              0u)
        << errors[0];
    EXPECT_NE(errors[0].find("] L4: error calling answer(E_NOINTERFACE) hr = 0x80004002 (No such "
                             "interface supported)"),
              std::string::npos)
        << errors[0];
    // An exception counts as E_FAIL, after the diagnostics report and its own trace.
    EXPECT_NE(errors[1].find("L4: error calling fail() hr = 0x80004005 (Unspecified error)"),
              std::string::npos);
    auto caught = run.linesWith("L4: caught ");
    ASSERT_EQ(caught.size(), 2u) << run.text;
    EXPECT_NE(caught[0].find("caught exeption calling fail()"), std::string::npos);
    EXPECT_NE(caught[1].find("caught exception calling spIIntHdl->getProjectHdlHolder(&spIHolder)"),
              std::string::npos);
    // The report comes first: a backtrace through the trace sink, naming the hook.
    auto report = run.linesWith("Do_DiagnosticsReport [k4bt03ax");
    ASSERT_GE(report.size(), 3u) << run.text;
    EXPECT_LT(run.text.find("Do_DiagnosticsReport"), run.text.find("caught exeption"));
    EXPECT_NE(run.text.find("(diagnosticsReport()+0x"), std::string::npos) << run.text;
}

TEST(GuardedCall, SecondResultWordFailsTheCallAndNeverStaysZeroOnFailure) {
    auto run = runTraced("callsWithResultWord");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "0 0, 0 5, 80004005 FFFF, 80004003 7, 80004005 FFFF");
    auto errors = run.linesWith("error calling");
    ASSERT_EQ(errors.size(), 4u) << run.text;
    EXPECT_NE(errors[0].find("error calling answerRet(hr, ret, &dwRet) hr = 0x0 (S_OK), ret=0x5"),
              std::string::npos)
        << errors[0];
    // The word is traced as the call left it, before it becomes 0xFFFF.
    EXPECT_NE(errors[1].find("hr = 0x80004005 (Unspecified error), ret=0x0"), std::string::npos);
    EXPECT_NE(errors[2].find("hr = 0x80004003 (Invalid pointer), ret=0x7"), std::string::npos);
}

TEST(GuardedCall, CatchAllGivesTheFailureValueAndTracesUnderTheOperation) {
    auto run = runTraced("catchAll");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "80004005 1 0 0 80004005 5");
    auto caught = run.linesWith("L4: caught any unhandled exception");
    ASSERT_EQ(caught.size(), 3u) << run.text;
    EXPECT_EQ(caught[0].rfind("CZEBInstallation::save [is_inst (", 0), 0u);
    EXPECT_EQ(caught[2].rfind("CIsTypeCont::~CIsTypeCont [is_data (", 0), 0u);
    // A call without a result traces its exception only.
    EXPECT_EQ(run.linesWith("L4: caught exeption calling throw 2").size(), 1u) << run.text;
    EXPECT_TRUE(run.linesWith("error calling").empty());
}
