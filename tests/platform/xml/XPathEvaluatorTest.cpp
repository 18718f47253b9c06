#include "platform/xml/XPathEvaluator.h"

#include "tests/platform/xml/XmlTestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zeb::test::loaded;
using zeb::test::u8;
using zeb::xml::DomDocument;
using zeb::xml::DomNode;
using zeb::xml::XPathError;
using zeb::xml::XPathEvaluator;

std::vector<std::string> texts(const std::vector<DomNode>& nodes) {
    std::vector<std::string> out;
    for (const DomNode& n : nodes)
        out.push_back(u8(n.text()));
    return out;
}

TEST(XPathEvaluator, EachLimitRefusesWithItsReason) {
    std::string many = "<r>";
    for (int i = 0; i < 2000; ++i)
        many += "<e/>";
    DomDocument doc = loaded((many + "</r>").c_str());
    const DomNode context = doc;
    std::vector<DomNode> nodes;
    XPathError why = XPathError::None;

    XPathEvaluator shortText({.maxLength = 8});
    EXPECT_EQ(shortText.select({&context, 1}, "/r/e[1]/..", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::TooLong);
    XPathEvaluator shallow({.maxNesting = 3});
    EXPECT_EQ(shallow.select({&context, 1}, "((/r)[1])", nodes, &why), S_OK);
    EXPECT_EQ(shallow.select({&context, 1}, "((((/r))))", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::TooDeep);
    // Brackets inside literals do not count.
    EXPECT_EQ(shallow.select({&context, 1}, "/r[@a='((((']", nodes, &why), S_OK);
    XPathEvaluator cheap({.maxOperations = 1000});
    EXPECT_EQ(cheap.select({&context, 1}, "//e", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::TooManyOperations);
    EXPECT_EQ(cheap.select({&context, 1}, "/r", nodes, &why), S_OK);
    XPathEvaluator few({.maxNodes = 2000});
    EXPECT_EQ(few.select({&context, 1}, "//e", nodes, &why), S_OK);
    EXPECT_EQ(nodes.size(), 2000u);
    EXPECT_EQ(few.select({&context, 1}, "//*", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::TooManyNodes);
    EXPECT_TRUE(nodes.empty());
    EXPECT_EQ(few.select({&context, 1}, "//e[", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::Invalid);
    EXPECT_EQ(few.select({&context, 1}, "count(//e)", nodes, &why), E_FAIL);
    EXPECT_EQ(why, XPathError::Invalid);
}

TEST(XPathEvaluator, SeveralContextsGiveOneSetInDocumentOrder) {
    DomDocument doc = loaded("<r><a n='1'><b x='1'/></a><c n='2'><b x='2'/></c></r>");
    const std::vector<DomNode> contexts = {doc.selectSingleNode(u"/r/c"),
                                           doc.selectSingleNode(u"/r/a")};
    XPathEvaluator eval;
    std::vector<DomNode> nodes;
    ASSERT_EQ(eval.select(contexts, "./b/@x", nodes), S_OK);
    EXPECT_EQ(texts(nodes), (std::vector<std::string>{"1", "2"}));
    ASSERT_EQ(eval.select(contexts, "./..", nodes), S_OK);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_TRUE(nodes[0] == doc.documentElement());
    // Attributes of an element come before its children.
    ASSERT_EQ(eval.select(contexts, "./../descendant-or-self::*/@*", nodes), S_OK);
    EXPECT_EQ(texts(nodes), (std::vector<std::string>{"1", "1", "2", "2"}));
}

TEST(XPathEvaluator, DomSelectionsOfDeeplyNestedTextAnswerEFail) {
    DomDocument doc = loaded("<r/>");
    std::u16string deep(1000, u'(');
    deep += u"/r";
    deep += std::u16string(1000, u')');
    ComPtr<IXMLDOMNodeList> list;
    EXPECT_EQ(doc.get()->selectNodes(zeb::Bstr(deep), &list), E_FAIL);
    EXPECT_EQ(doc.get()->selectNodes(zeb::Bstr(u"((/r))"), &list), S_OK);
}

} // namespace
