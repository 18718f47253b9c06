// The memory-check scope against a test double of the context object.
#include "co/CSmartFreeMemChecker.h"
#include "tests/co/TraceLog.h"

#include <gtest/gtest.h>

#include <stdexcept>

using zeb::test::runTraced;

namespace {

// A context object on the stack: counts references and calls, answers as
// told; with `checking` false it lacks the memory-check interface.
class MemoryCheckContext : public IMC_MemoryCheck {
public:
    bool checking = true;
    HRESULT checkHr = S_OK, endHr = S_OK;
    DWORD checkRet = 0;
    bool throwOnCheck = false;
    int checks = 0, ends = 0;
    ULONG refs = 1;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && (!checking || riid != uuidof<IMC_MemoryCheck>()))
            return E_NOINTERFACE;
        *ppv = static_cast<IMC_MemoryCheck*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT checkMemory(DWORD* dwRet) override {
        ++checks;
        if (throwOnCheck) throw std::runtime_error("check failed");
        *dwRet = checkRet;
        return checkHr;
    }
    HRESULT endCheckingFrame() override {
        ++ends;
        return endHr;
    }
};

HRESULT methodUnderCheck(CContextHolder& holder, const MemoryCheckContext& context, int& checks) {
    CSmartFreeMemChecker check(&holder);
    checks = context.checks;
    return S_FALSE;
}

ZEB_CHILD_SCENARIO(memoryCheckFailures) {
    MemoryCheckContext context;
    CContextHolder holder;
    holder.setContext(&context);
    context.checkRet = 3;
    context.endHr = E_FAIL;
    { CSmartFreeMemChecker check(&holder); }
    context.checkRet = 0;
    context.endHr = S_OK;
    context.throwOnCheck = true;
    { CSmartFreeMemChecker check(&holder); }
    holder.setContext(nullptr);
    return std::to_string(context.checks) + " " + std::to_string(context.ends);
}

} // namespace

TEST(MemoryCheckScope, ChecksAtTheStartAndClosesTheFrameAtTheEndWhateverTheyAnswer) {
    MemoryCheckContext context;
    context.checkHr = E_OUTOFMEMORY;
    context.checkRet = 99;
    context.endHr = E_UNEXPECTED;
    CContextHolder holder;
    holder.setContext(&context);
    int checksInside = 0;
    EXPECT_EQ(methodUnderCheck(holder, context, checksInside), S_FALSE); // result untouched
    EXPECT_EQ(checksInside, 1);
    EXPECT_EQ(context.ends, 1);
    EXPECT_EQ(context.refs, 2u); // the scope gave back what it took
    holder.setContext(nullptr);
    EXPECT_EQ(context.refs, 1u);
}

TEST(MemoryCheckScope, WithoutHolderOrInterfaceDoesNothing) {
    CSmartFreeMemChecker noHolder(nullptr);
    MemoryCheckContext plain;
    plain.checking = false;
    CContextHolder holder;
    holder.setContext(&plain);
    { CSmartFreeMemChecker check(&holder); }
    holder.setContext(nullptr);
    EXPECT_EQ(plain.checks + plain.ends, 0);
    EXPECT_EQ(plain.refs, 1u);
}

TEST(MemoryCheckScope, FailuresAndExceptionsAreTracedUnderTheScope) {
    auto run = runTraced("memoryCheckFailures");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "2 2"); // a throwing check still gets its frame closed
    auto check = run.linesWith("error calling checkMemory");
    ASSERT_EQ(check.size(), 2u) << run.text;
    EXPECT_EQ(check[0].rfind("CSmartFreeMemChecker::CSmartFreeMemChecker [co_mem_checker (", 0),
              0u);
    EXPECT_NE(check[0].find("L4: error calling checkMemory hr = 0x0 (S_OK), ret=0x3"),
              std::string::npos)
        << check[0];
    EXPECT_EQ(run.linesWith("L4: caught exeption calling checkMemory").size(), 1u);
    auto end = run.linesWith("error calling endCheckingFrame");
    ASSERT_EQ(end.size(), 1u) << run.text;
    EXPECT_EQ(end[0].rfind("CSmartFreeMemChecker::~CSmartFreeMemChecker [co_mem_checker (", 0), 0u);
    EXPECT_NE(end[0].find("L4: error calling endCheckingFrame hr = 0x80004005 (Unspecified error)"),
              std::string::npos);
}
