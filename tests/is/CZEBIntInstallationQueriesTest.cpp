#include "is/CZEBIntInstallation.h"
#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/com/SafeArray.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"
#include "tests/co/TraceLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using zeb::Bstr;
using zeb::Variant;

constexpr GUID kDrive = makeGuid("0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9");
constexpr GUID kAxis = makeGuid("11111111-2222-4333-8444-555555555555");

// A described document: two types, each with a vendor, and entries whose
// names callers pass as parameters.
const char* kDocument = R"(<?xml version="1.0"?>
<Installation><New/><Unclassified/><Classified>
 <Device><ESType ESID="{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}" ESName="Drive.1" Vendor="Norvale"/>
  <Entry n="plain" i="2" v="plain-v"/>
  <Entry n="a&quot;b" v="dq-v"/>
  <Entry n="a'b" v="sq-v"/>
  <Entry n="a&quot;b'c" v="both-v"/>
  <Entry n="&quot;] | //*/@secret | x[&quot;" v="hostile-v"/>
  <Entry n="-1" v="true-v"/>
  <Entry n="5" v="five-v"/>
  <Secret secret="leaked"/>
 </Device>
 <TObject><ESType ESID="{11111111-2222-4333-8444-555555555555}" ESName="Axis.1" Vendor="Other"/></TObject>
</Classified></Installation>)";

// The texts of a query result: one for VT_BSTR, each element for an array.
std::vector<std::string> texts(const VARIANT& v) {
    std::vector<std::string> out;
    if (v.vt == VT_BSTR) {
        out.push_back(zeb::toNarrow(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal))));
    } else if (v.vt == (VT_ARRAY | VT_BSTR)) {
        LONG lower = -1, upper = -2;
        EXPECT_EQ(SafeArrayGetLBound(v.parray, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(v.parray, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        for (LONG i = lower; i <= upper; ++i) {
            BSTR s = nullptr;
            EXPECT_EQ(SafeArrayGetElement(v.parray, &i, &s), S_OK);
            out.push_back(zeb::toNarrow(std::u16string_view(s, SysStringLen(s))));
            SysFreeString(s);
        }
    }
    return out;
}

class Queries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst, dir.path()), S_OK);
        Bstr text(kDocument);
        ASSERT_TRUE(inst->classification().setXMLText(text));
    }
    DWORD reg(const char* id, const char* xpath) {
        DWORD ret = 12345;
        EXPECT_EQ(inst->registerXPathQuery(id, xpath, &ret), S_OK);
        return ret;
    }
    // getTypeDescrParam with string parameters; the texts or the code.
    DWORD param(const char* id, const std::vector<Variant>& params, std::vector<std::string>* out) {
        std::vector<VARIANT> raw(params.begin(), params.end());
        VARIANT dummy{};
        Variant result;
        DWORD ret = 12345;
        EXPECT_EQ(inst->getTypeDescrParam(LONG(raw.size()), raw.empty() ? &dummy : raw.data(),
                                          Bstr(id), &result, &ret),
                  S_OK);
        if (out) *out = texts(result);
        return ret;
    }
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> inst;
};

TEST_F(Queries, RegisteringTwiceKeepsTheFirstAndIdentifiersAreCaseSensitive) {
    EXPECT_EQ(reg("vendor", "//ESType/@Vendor"), 0u);
    EXPECT_EQ(reg("vendor", "//ESType/@ESName"), 4u);
    EXPECT_EQ(reg("Vendor", "//ESType/@ESName"), 0u);
    ASSERT_NE(inst->xpathMap().find(String("vendor")), nullptr);
    EXPECT_EQ(*inst->xpathMap().find(String("vendor")), String("//ESType/@Vendor"));

    DWORD ret = 12345;
    EXPECT_EQ(inst->unregisterXPathQuery("VENDOR", &ret), S_OK);
    EXPECT_EQ(ret, 5u);
    EXPECT_EQ(inst->unregisterXPathQuery("vendor", &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(inst->xpathMap().size(), 1u);
    EXPECT_EQ(inst->xpathMap().find(String("vendor")), nullptr);
}

TEST_F(Queries, NullPointersAnswerEPointer) {
    DWORD ret = 77;
    Variant result;
    VARIANT params[1]{};
    Bstr id("q");
    EXPECT_EQ(inst->registerXPathQuery(nullptr, "x", &ret), E_POINTER);
    EXPECT_EQ(inst->registerXPathQuery("q", nullptr, &ret), E_POINTER);
    EXPECT_EQ(inst->registerXPathQuery("q", "x", nullptr), E_POINTER);
    EXPECT_EQ(inst->unregisterXPathQuery(nullptr, &ret), E_POINTER);
    EXPECT_EQ(inst->unregisterXPathQuery("q", nullptr), E_POINTER);
    EXPECT_EQ(inst->getTypeDescr(id, nullptr, &ret), E_POINTER);
    EXPECT_EQ(inst->getTypeDescr(id, &result, nullptr), E_POINTER);
    EXPECT_EQ(inst->getTypeDescrAttr(kDrive, id, nullptr, &ret), E_POINTER);
    EXPECT_EQ(inst->getTypeDescrAttr(kDrive, id, &result, nullptr), E_POINTER);
    EXPECT_EQ(inst->getTypeDescrParam(0, nullptr, id, &result, &ret), E_POINTER);
    EXPECT_EQ(inst->getTypeDescrParam(1, params, id, nullptr, &ret), E_POINTER);
    EXPECT_EQ(inst->getTypeDescrParam(1, params, id, &result, nullptr), E_POINTER);
    EXPECT_EQ(ret, 77u);
    EXPECT_EQ(inst->xpathMap().size(), 0u);
}

TEST_F(Queries, ResultsAreAStringOrAnArrayInDocumentOrder) {
    reg("one", "//Device/ESType/@Vendor");
    reg("two", "//ESType/@ESName");
    reg("element", "//ESType");
    reg("none", "//Nothing/@x");
    Variant result;
    DWORD ret = 12345;
    EXPECT_EQ(inst->getTypeDescr(Bstr("one"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(texts(result), std::vector<std::string>{"Norvale"});
    result.Clear();
    EXPECT_EQ(inst->getTypeDescr(Bstr("two"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(result.vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(texts(result), (std::vector<std::string>{"Drive.1", "Axis.1"}));
    result.Clear();
    EXPECT_EQ(inst->getTypeDescr(Bstr("element"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 9u);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(inst->getTypeDescr(Bstr("none"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 44u);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(inst->getTypeDescr(Bstr("unknown"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 13u);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(Queries, TypeQueriesFillTheIdentifierAndNeedItsPlaceholder) {
    reg("vendor", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@Vendor");
    reg("fixed", "//ESType/@Vendor");
    Variant result;
    DWORD ret = 12345;
    EXPECT_EQ(inst->getTypeDescrAttr(kAxis, Bstr("vendor"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(texts(result), std::vector<std::string>{"Other"});
    result.Clear();
    EXPECT_EQ(inst->getTypeDescrAttr(kAxis, Bstr("fixed"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 29u);
    EXPECT_EQ(inst->getTypeDescrAttr(kAxis, Bstr("unknown"), &result, &ret), S_OK);
    EXPECT_EQ(ret, 13u);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(Queries, ParametersAreCheckedAndReplacedEverywhere) {
    reg("twice", "//Entry[@n=\"%param1%\" and @n=\"%param1%\"]/@v");
    reg("pair", "//Entry[@n=\"%param1%\" or @n=\"%param2%\"]/@v");
    std::vector<std::string> out;
    EXPECT_EQ(param("twice", {}, nullptr), 29u); // "Not all parameters replaced"
    EXPECT_EQ(param("twice", {Variant("plain")}, &out), 0u);
    EXPECT_EQ(out, std::vector<std::string>{"plain-v"});
    // Parameter 3 does not occur: the query is not run.
    EXPECT_EQ(param("pair", {Variant("plain"), Variant("5"), Variant("x")}, &out), 29u);
    EXPECT_TRUE(out.empty());
    // An integer and a boolean become their en-US texts: 5 and -1.
    EXPECT_EQ(param("pair", {Variant(INT(5)), Variant(true)}, &out), 0u);
    EXPECT_EQ(out, (std::vector<std::string>{"true-v", "five-v"}));
    EXPECT_EQ(param("unknown", {Variant("plain")}, &out), 13u);
}

// Parameters pasted between quotes are matched as text, whatever quotes
// they hold, in either kind of stored literal.
TEST_F(Queries, HostileParametersAreMatchedLiterally) {
    reg("dq", "//Entry[@n=\"%param1%\"]/@v");
    reg("sq", "//Entry[@n='%param1%']/@v");
    const std::pair<const char*, const char*> cases[] = {
        {"a\"b", "dq-v"},
        {"a'b", "sq-v"},
        {"a\"b'c", "both-v"},
        {"\"] | //*/@secret | x[\"", "hostile-v"},
        {"'] | //*/@secret | x['", ""},
        {"\" or \"1\"=\"1", ""},
        {"' or '1'='1", ""},
    };
    for (const char* query : {"dq", "sq"}) {
        for (const auto& [value, expected] : cases) {
            std::vector<std::string> out;
            const DWORD ret = param(query, {Variant(value)}, &out);
            if (*expected) {
                EXPECT_EQ(ret, 0u) << query << " " << value;
                EXPECT_EQ(out, std::vector<std::string>{expected}) << query << " " << value;
            } else {
                EXPECT_EQ(ret, 44u) << query << " " << value;
            }
        }
    }
}

TEST_F(Queries, OutsideALiteralOnlyNumbersAndNamesArePasted) {
    reg("index", "//Entry[@i=%param1%]/@v");
    reg("name", "//%param1%/ESType/@Vendor");
    std::vector<std::string> out;
    EXPECT_EQ(param("index", {Variant("2")}, &out), 0u);
    EXPECT_EQ(out, std::vector<std::string>{"plain-v"});
    EXPECT_EQ(param("index", {Variant(INT(2))}, &out), 0u);
    EXPECT_EQ(param("name", {Variant("TObject")}, &out), 0u);
    EXPECT_EQ(out, std::vector<std::string>{"Other"});
    EXPECT_EQ(param("index", {Variant("2 or 1=1")}, &out), 29u);
    EXPECT_EQ(param("index", {Variant("2]|//@secret|//x[1")}, &out), 29u);
    EXPECT_EQ(param("name", {Variant("*")}, &out), 29u);
    EXPECT_TRUE(out.empty());
}

TEST_F(Queries, InvalidXPathAnswersEFailAndLeavesPRet) {
    reg("bad", "//Entry[");
    reg("badType", ".//*[ESType/@ESID=\"%estypeid\"]/@@x");
    reg("badParam", "//Entry[@n=\"%param1%\"]]");
    Variant result;
    DWORD ret = 77;
    EXPECT_EQ(inst->getTypeDescr(Bstr("bad"), &result, &ret), E_FAIL);
    EXPECT_EQ(ret, 77u);
    EXPECT_EQ(inst->getTypeDescrAttr(kDrive, Bstr("badType"), &result, &ret), E_FAIL);
    EXPECT_EQ(ret, 0u); // set before the evaluation
    ret = 77;
    Variant p("x");
    EXPECT_EQ(inst->getTypeDescrParam(1, &p, Bstr("badParam"), &result, &ret), E_FAIL);
    EXPECT_EQ(ret, 77u);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(Queries, DeepAndHugeQueriesFailInBoundedTime) {
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += '(';
    deep += "//@v";
    for (int i = 0; i < 20000; ++i)
        deep += ')';
    reg("deep", deep.c_str());
    std::string unions = "//@v";
    for (int i = 0; i < 12000; ++i)
        unions += "|//@v";
    reg("unions", unions.c_str());
    // A million attributes to select.
    std::string big = "<Installation>";
    for (int i = 0; i < 1000000; ++i)
        big += "<a b=\"\"/>";
    big += "</Installation>";
    reg("million", "//@b");

    const auto start = std::chrono::steady_clock::now();
    Variant result;
    DWORD ret = 77;
    EXPECT_EQ(inst->getTypeDescr(Bstr("deep"), &result, &ret), E_FAIL);
    EXPECT_EQ(inst->getTypeDescr(Bstr("unions"), &result, &ret), E_FAIL);
    ASSERT_TRUE(inst->classification().setXMLText(Bstr(big.c_str())));
    EXPECT_EQ(inst->getTypeDescr(Bstr("million"), &result, &ret), E_FAIL);
    EXPECT_EQ(ret, 77u);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(Queries, EvaluationChangesNeitherDocumentNorMap) {
    reg("vendor", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@Vendor");
    reg("p", "//Entry[@n=\"%param1%\"]/@v");
    const uint64_t count = inst->classification().document().changeCount();
    const std::u16string before = inst->classification().document().xml();
    Variant result;
    DWORD ret = 0;
    inst->getTypeDescrAttr(kDrive, Bstr("vendor"), &result, &ret);
    result.Clear();
    inst->getTypeDescr(Bstr("p"), &result, &ret);
    param("p", {Variant("a\"b'c")}, nullptr);
    EXPECT_EQ(inst->classification().document().changeCount(), count);
    EXPECT_EQ(inst->classification().document().xml(), before);
    EXPECT_EQ(inst->xpathMap().size(), 2u);
}

TEST_F(Queries, RegisteredQueriesAreSavedAndReadBack) {
    reg("vendor", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@Vendor");
    DWORD ret = 12345;
    ASSERT_EQ(inst->saveChanges(&ret), S_OK);
    ASSERT_EQ(ret, 0u);
    inst = nullptr;
    ASSERT_EQ(CZEBIntInstallation::createObject(&inst, dir.path()), S_OK);
    ASSERT_NE(inst->xpathMap().find(String("vendor")), nullptr);
    EXPECT_EQ(reg("vendor", "x"), 4u);
}

ZEB_CHILD_SCENARIO(queryTraces) {
    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry("ZEB_REGISTRY", dir.file("registry.reg"));
    ComPtr<CZEBIntInstallation> inst;
    CZEBIntInstallation::createObject(&inst, dir.path());
    inst->classification().setXMLText(Bstr(kDocument));
    DWORD ret = 0;
    inst->registerXPathQuery("q", "//Entry[@n=\"%param1%\"]/@v", &ret);
    inst->registerXPathQuery("q", "//x", &ret);
    inst->registerXPathQuery("element", "//Entry", &ret);
    inst->registerXPathQuery("bad", "//Entry[", &ret);
    inst->unregisterXPathQuery("none", &ret);
    Variant result;
    inst->getTypeDescr(Bstr("none"), &result, &ret);
    inst->getTypeDescr(Bstr("q"), &result, &ret);
    inst->getTypeDescr(Bstr("element"), &result, &ret);
    Variant params[3] = {Variant("a"), Variant("b"), Variant("c")};
    inst->getTypeDescrParam(3, params, Bstr("q"), &result, &ret);
    inst->getTypeDescrParam(0, params, Bstr("q"), &result, &ret);
    const HRESULT hr = inst->getTypeDescr(Bstr("bad"), &result, &ret);
    return std::to_string(unsigned(hr));
}

TEST(QueryTraces, EachRefusalIsTracedWithItsText) {
    auto run = zeb::test::runTraced("queryTraces");
    EXPECT_EQ(run.output, std::to_string(0x80004005u));
    EXPECT_EQ(run.linesWith("XPath-Query-Id already exists").size(), 1u);
    EXPECT_EQ(run.linesWith("XPath-Query-Id does not exist").size(), 1u);
    EXPECT_EQ(run.linesWith("given XQuery-ID not found").size(), 1u);
    EXPECT_EQ(run.linesWith("Not all parameters replaced").size(), 1u);
    EXPECT_EQ(run.linesWith("Param %param2% not in Query!").size(), 1u);
    EXPECT_EQ(run.linesWith("only attributes supported").size(), 1u);
    EXPECT_EQ(run.linesWith("invalid XPath expression").size(), 1u);
    EXPECT_EQ(run.linesWith("caught any unhandled exception").size(), 1u);
}

} // namespace
