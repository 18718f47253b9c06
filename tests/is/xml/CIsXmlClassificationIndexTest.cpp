// The identifier index of the classification document against the plain
// XPath lookup: after every own add and remove and every change a caller
// makes to the live document, each identifier must give the element that
// .//*[ESType/@ESID="..."] selects first.
#include "is/xml/CIsXmlClassification.h"

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zeb::xml::DomDocument;
using zeb::xml::DomElement;
using zeb::xml::DomNode;

std::u16string registryForm(const GUID& id) {
    OLECHAR text[40] = {};
    StringFromGUID2(id, text, 40);
    return text;
}

std::u16string lowerCase(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'F') c = char16_t(c - u'A' + u'a');
    return s;
}

DomDocument liveDocument(CIsXmlClassification& doc) {
    IUnknown* unk = nullptr;
    DWORD ret = 1;
    EXPECT_EQ(doc.getInstallationDocument(&unk, &ret), S_OK);
    ComPtr<IXMLDOMDocument2> live;
    unk->QueryInterface(uuidof<IXMLDOMDocument2>(), reinterpret_cast<void**>(&live));
    unk->Release();
    return DomDocument(live);
}

DomNode byXPath(const DomDocument& doc, const std::u16string& idText) {
    return doc.selectSingleNode(u".//*[ESType/@ESID=\"" + idText + u"\"]");
}

class IndexAgainstXPath : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t i = 0; i < 10; ++i) {
            GUID id = makeGuid("5E1F0000-0C1A-4B7D-9E0F-00000000A000");
            id.Data1 += i;
            ids.push_back(id);
        }
        live = liveDocument(doc);
    }

    template <class T> const T& pick(const std::vector<T>& v) {
        return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
    }
    int roll(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // Every element of the document below the document element.
    std::vector<DomNode> inner() { return live.selectNodes(u"/*//*"); }
    std::vector<DomNode> allElements() { return live.selectNodes(u"//*"); }

    // Elements that are neither `node` nor inside it.
    std::vector<DomNode> targetsOutside(const DomNode& node) {
        std::vector<DomNode> out;
        std::vector<DomNode> inside = node.selectNodes(u"descendant-or-self::*");
        for (DomNode& e : allElements()) {
            bool in = false;
            for (const DomNode& i : inside)
                if (i == e) in = true;
            if (!in) out.push_back(e);
        }
        return out;
    }

    void outsideEdit() {
        std::vector<DomNode> elements = inner();
        switch (roll(7)) {
        case 0: // move an element elsewhere
            if (!elements.empty()) {
                DomNode node = pick(elements);
                std::vector<DomNode> targets = targetsOutside(node);
                if (!targets.empty()) DomNode(pick(targets)).appendChild(node);
            }
            break;
        case 1: // delete an element
            if (!elements.empty()) {
                DomNode node = pick(elements);
                node.parentNode().removeChild(node);
            }
            break;
        case 2: { // copy an ESType into another element
            std::vector<DomNode> types = live.selectNodes(u"//ESType");
            if (!types.empty())
                DomNode(pick(allElements())).appendChild(pick(types).cloneNode(true));
            break;
        }
        case 3: { // copy a whole class element (a second match of its identifiers)
            std::vector<DomNode> classes = live.selectNodes(u"//*[ESType]");
            if (!classes.empty())
                DomNode(pick(allElements())).appendChild(pick(classes).cloneNode(true));
            break;
        }
        case 4: { // rewrite an ESID, in registry form or in lower case, or drop it
            std::vector<DomNode> types = live.selectNodes(u"//ESType");
            if (types.empty()) break;
            DomElement type = pick(types).asElement();
            int how = roll(3);
            if (how == 0) type.setAttribute(u"ESID", registryForm(pick(ids)));
            if (how == 1) type.setAttribute(u"ESID", lowerCase(registryForm(pick(ids))));
            if (how == 2) type.removeAttribute(u"ESID");
            break;
        }
        case 5: { // replace the whole text, through the class or through the document
            BSTR text = nullptr;
            ASSERT_TRUE(doc.getXMLText(&text));
            if (roll(2) == 0) {
                EXPECT_TRUE(doc.setXMLText(text));
            } else {
                EXPECT_TRUE(live.loadXml(std::u16string_view(text, SysStringLen(text))));
            }
            SysFreeString(text);
            break;
        }
        case 6: // an element of its own with a matching ESType at the front
            if (!elements.empty()) {
                DomElement holder = live.createElement(u"Holder");
                DomElement type = live.createElement(u"ESType");
                type.setAttribute(u"ESID", registryForm(pick(ids)));
                holder.appendChild(type);
                DomNode(pick(allElements())).appendChild(holder);
            }
            break;
        }
    }

    void checkAll(int step) {
        for (const GUID& id : ids) {
            DomNode expected = byXPath(live, registryForm(id));
            DomElement actual = doc.findTypeElement(id);
            ASSERT_EQ(bool(expected), bool(actual)) << "step " << step;
            if (expected) {
                ASSERT_TRUE(expected == actual) << "step " << step;
            }
        }
    }

    CIsXmlClassification doc;
    DomDocument live;
    std::vector<GUID> ids;
    std::mt19937 rng{20261206};
};

} // namespace

TEST_F(IndexAgainstXPath, RandomAddsRemovesAndOutsideEditsAgreeWithTheXPath) {
    for (int step = 0; step < 3000; ++step) {
        const int what = roll(10);
        if (what < 4) {
            const GUID& id = pick(ids);
            ASSERT_EQ(doc.addXMLType(id, String("T"), roll(9)), 0u) << "step " << step;
        } else if (what < 7) {
            const GUID& id = pick(ids);
            const bool present = bool(byXPath(live, registryForm(id)));
            ASSERT_EQ(doc.removeXMLType(id), present ? 0u : 13u) << "step " << step;
        } else if (what < 9) {
            outsideEdit();
        } else if (roll(20) == 0) {
            zeb::Bstr broken("<Installation><New>");
            EXPECT_FALSE(doc.setXMLText(broken));
        }
        if (live.selectNodes(u"//*").size() > 150) {
            // Keep the document small: drop the part below New.
            for (DomNode& e : live.selectNodes(u"/*/*"))
                e.parentNode().removeChild(e);
        }
        checkAll(step);
        if (HasFatalFailure()) return;
    }
}

TEST_F(IndexAgainstXPath, ADuplicateMovedInFrontBecomesTheFirstMatch) {
    const GUID& id = ids[0];
    ASSERT_EQ(doc.addXMLType(id, String("A"), 0), 0u);
    // The caller copies the class element into an element that comes before New.
    DomElement front = live.createElement(u"Classified");
    DomElement root = live.documentElement();
    DomNode inbox = root.selectSingleNode(u"New");
    root.removeChild(inbox);
    root.appendChild(front);
    root.appendChild(inbox);
    DomNode copy = front.appendChild(doc.findTypeElement(id).cloneNode(true));
    EXPECT_TRUE(doc.findTypeElement(id) == copy);
    // Removing gives the first one; the original in New is found next.
    EXPECT_EQ(doc.removeXMLType(id), 0u);
    DomElement left = doc.findTypeElement(id);
    ASSERT_TRUE(left);
    EXPECT_EQ(zeb::toNarrow(left.parentNode().nodeName()), "New");
}

TEST_F(IndexAgainstXPath, RemovingAnElementTakesTheTypesNestedInItOutOfTheIndex) {
    zeb::Bstr text("<Installation><New><Package><ESType ESID=\"{5E1F0000-0C1A-4B7D-9E0F-"
                   "00000000A000}\"/><SubObj><ESType ESID=\"{5E1F0001-0C1A-4B7D-9E0F-"
                   "00000000A000}\"/></SubObj></Package><Device><ESType ESID=\"{5E1F0001-"
                   "0C1A-4B7D-9E0F-00000000A000}\"/></Device></New></Installation>");
    ASSERT_TRUE(doc.setXMLText(text));
    EXPECT_EQ(zeb::toNarrow(doc.findTypeElement(ids[1]).tagName()), "SubObj");
    EXPECT_EQ(doc.removeXMLType(ids[0]), 0u);
    ASSERT_TRUE(doc.findTypeElement(ids[1]));
    EXPECT_EQ(zeb::toNarrow(doc.findTypeElement(ids[1]).tagName()), "Device");
}
