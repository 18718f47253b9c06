// The classification document's operations: the nodes they make and remove,
// their codes and flags, the text form and the document handed to callers.
#include "is/xml/CIsXmlClassification.h"

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"
#include "tests/co/TraceLog.h"

#include <gtest/gtest.h>

#include <string>

using zeb::Bstr;

namespace {

constexpr GUID kDrive = makeGuid("0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F");
constexpr GUID kAxis = makeGuid("11111111-2222-4333-8444-555555555555");
constexpr GUID kNeverAdded = makeGuid("99999999-8888-4777-8666-555555555555");

std::string textOf(CIsXmlClassification& doc) {
    BSTR text = nullptr;
    EXPECT_TRUE(doc.getXMLText(&text));
    std::string out = zeb::toNarrow(std::u16string_view(text, SysStringLen(text)));
    SysFreeString(text);
    return out;
}

bool load(CIsXmlClassification& doc, const char* text) {
    Bstr s(text);
    return doc.setXMLText(s);
}

size_t count(CIsXmlClassification& doc, const char16_t* xpath) {
    return doc.document().selectNodes(xpath).size();
}

} // namespace

TEST(ClassificationAdd, ADeviceIsWrittenUnderInstallationNewWithItsIdentifierAndName) {
    CIsXmlClassification doc;
    EXPECT_FALSE(doc.isDocumentChanged());
    EXPECT_FALSE(doc.isRefreshNeeded());
    EXPECT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    EXPECT_EQ(textOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<Installation><New><Device><ESType "
                           "ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" ESName=\"Drive.1\"/>"
                           "</Device></New></Installation>\n");
    EXPECT_TRUE(doc.isDocumentChanged());
    EXPECT_TRUE(doc.isRefreshNeeded());
    doc.clearDocumentChanged();
    doc.clearRefreshNeeded();
    EXPECT_FALSE(doc.isDocumentChanged());
    EXPECT_FALSE(doc.isRefreshNeeded());
}

TEST(ClassificationAdd, EachClassHasItsElementName) {
    CIsXmlClassification doc;
    const char* names[] = {"Device", "TObject",       "Package", "ProcessingUnit", "Program",
                           "SubObj", "ProjectGlobal", "Library", "GenericObject"};
    for (int c = 0; c <= 8; ++c) {
        GUID id = kAxis;
        id.Data1 = uint32_t(c);
        ASSERT_EQ(doc.addXMLType(id, String("T"), c), 0u) << c;
        zeb::xml::DomElement e = doc.findTypeElement(id);
        ASSERT_TRUE(e) << c;
        EXPECT_EQ(zeb::toNarrow(e.tagName()), names[c]);
        EXPECT_EQ(zeb::toNarrow(e.parentNode().nodeName()), "New");
    }
}

TEST(ClassificationAdd, AddingTwiceKeepsOneElementAndItsNameButMarksTheRefresh) {
    CIsXmlClassification doc;
    ASSERT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    doc.clearDocumentChanged();
    doc.clearRefreshNeeded();
    EXPECT_EQ(doc.addXMLType(kDrive, String("Other.2"), 4), 0u);
    EXPECT_EQ(count(doc, u"//ESType"), 1u);
    EXPECT_EQ(count(doc, u"/Installation/New/Device/ESType[@ESName=\"Drive.1\"]"), 1u);
    EXPECT_TRUE(doc.isDocumentChanged());
    EXPECT_TRUE(doc.isRefreshNeeded());
}

TEST(ClassificationAdd, TheNotInstalledClassIsRefusedAfterTheSkeletonIsMade) {
    CIsXmlClassification doc;
    EXPECT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 32767), 12u);
    EXPECT_EQ(textOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<Installation><New/></Installation>\n");
    EXPECT_FALSE(doc.isDocumentChanged());
    EXPECT_FALSE(doc.isRefreshNeeded());
    EXPECT_FALSE(doc.findTypeElement(kDrive));
}

TEST(ClassificationAdd, AnExistingSkeletonIsReusedAndMissingPartsAreAdded) {
    CIsXmlClassification doc;
    ASSERT_TRUE(load(doc, "<Installation><Classified/></Installation>"));
    EXPECT_EQ(doc.addXMLType(kAxis, String("Axis"), 1), 0u);
    EXPECT_EQ(textOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<Installation><Classified/><New><TObject><ESType "
                           "ESID=\"{11111111-2222-4333-8444-555555555555}\" ESName=\"Axis\"/>"
                           "</TObject></New></Installation>\n");
}

TEST(ClassificationRemove, ANeverAddedTypeIsNotFoundAndLeavesTheFlags) {
    CIsXmlClassification doc;
    EXPECT_EQ(doc.removeXMLType(kNeverAdded), 13u);
    ASSERT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    doc.clearDocumentChanged();
    doc.clearRefreshNeeded();
    EXPECT_EQ(doc.removeXMLType(kNeverAdded), 13u);
    EXPECT_FALSE(doc.isDocumentChanged());
    EXPECT_FALSE(doc.isRefreshNeeded());
}

TEST(ClassificationRemove, AClassifiedTypeIsRemovedFromWhereverItStands) {
    CIsXmlClassification doc;
    ASSERT_TRUE(load(doc, "<Installation><New/><Classified><Drives>"
                          "<Device><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" "
                          "ESName=\"Drive.1\"/></Device></Drives></Classified></Installation>"));
    EXPECT_EQ(doc.removeXMLType(kDrive), 0u);
    EXPECT_EQ(textOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<Installation><New/><Classified><Drives/></Classified>"
                           "</Installation>\n");
    EXPECT_TRUE(doc.isDocumentChanged());
    EXPECT_TRUE(doc.isRefreshNeeded());
    EXPECT_EQ(doc.removeXMLType(kDrive), 13u);
}

TEST(ClassificationRemove, OnlyTheFirstMatchInDocumentOrderGoes) {
    CIsXmlClassification doc;
    ASSERT_TRUE(load(doc, "<Installation>"
                          "<Unclassified><Program><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-"
                          "9A8B7C6D5E4F}\" ESName=\"first\"/></Program></Unclassified>"
                          "<New><Device><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" "
                          "ESName=\"second\"/></Device></New></Installation>"));
    EXPECT_EQ(zeb::toNarrow(doc.findTypeElement(kDrive).tagName()), "Program");
    EXPECT_EQ(doc.removeXMLType(kDrive), 0u);
    EXPECT_EQ(zeb::toNarrow(doc.findTypeElement(kDrive).tagName()), "Device");
    EXPECT_EQ(doc.removeXMLType(kDrive), 0u);
    EXPECT_FALSE(doc.findTypeElement(kDrive));
    EXPECT_EQ(doc.removeXMLType(kDrive), 13u);
}

TEST(ClassificationLookup, OnlyTheUpperCaseRegistryFormIsFound) {
    CIsXmlClassification doc;
    ASSERT_TRUE(load(doc, "<Installation><New><Device><ESType "
                          "ESID=\"{0a1b2c3d-4e5f-4061-8273-9a8b7c6d5e4f}\" ESName=\"lower\"/>"
                          "</Device></New></Installation>"));
    EXPECT_FALSE(doc.findTypeElement(kDrive));
    EXPECT_EQ(doc.removeXMLType(kDrive), 13u);
    // Added again in registry form, the type gets its own element.
    EXPECT_EQ(doc.addXMLType(kDrive, String("upper"), 0), 0u);
    EXPECT_EQ(count(doc, u"//Device"), 2u);
}

TEST(ClassificationLookup, TheClassElementIsFoundNotItsTypeElement) {
    CIsXmlClassification doc;
    ASSERT_TRUE(load(doc, "<Installation><New><Library><Extra/><ESType ESID=\"{11111111-2222-"
                          "4333-8444-555555555555}\"/></Library></New></Installation>"));
    zeb::xml::DomElement e = doc.findTypeElement(kAxis);
    ASSERT_TRUE(e);
    EXPECT_EQ(zeb::toNarrow(e.tagName()), "Library");
}

TEST(ClassificationText, MalformedTextIsRefusedAndEmptiesTheDocument) {
    CIsXmlClassification doc;
    ASSERT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    EXPECT_FALSE(load(doc, "<Installation><New>"));
    EXPECT_FALSE(doc.document().documentElement());
    EXPECT_FALSE(doc.findTypeElement(kDrive));
    // The next add rebuilds the skeleton.
    EXPECT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    EXPECT_EQ(count(doc, u"/Installation/New/Device"), 1u);
}

TEST(ClassificationText, TheSavedTextLoadsBackIntoTheSameDocument) {
    CIsXmlClassification first;
    ASSERT_EQ(first.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    ASSERT_EQ(first.addXMLType(kAxis, String("Axis \"A\" & <B>"), 1), 0u);
    const std::string saved = textOf(first);
    CIsXmlClassification second;
    ASSERT_TRUE(load(second, saved.c_str()));
    EXPECT_EQ(textOf(second), saved);
    ASSERT_TRUE(second.findTypeElement(kAxis));
    EXPECT_EQ(
        zeb::toNarrow(
            *second.findTypeElement(kAxis).selectSingleNode(u"ESType").asElement().getAttribute(
                u"ESName")),
        "Axis \"A\" & <B>");
}

TEST(ClassificationDocument, NullPointersAreRefusedWithoutTouchingTheOther) {
    CIsXmlClassification doc;
    DWORD ret = 77;
    EXPECT_EQ(doc.getInstallationDocument(nullptr, &ret), HRESULT(0x80004003));
    EXPECT_EQ(ret, 77u);
    IUnknown* sentinel = reinterpret_cast<IUnknown*>(uintptr_t(0x1234));
    IUnknown* unk = sentinel;
    EXPECT_EQ(doc.getInstallationDocument(&unk, nullptr), HRESULT(0x80004003));
    EXPECT_EQ(unk, sentinel);
}

TEST(ClassificationDocument, CallersGetTheLiveDocumentAndTheirChangesAreSeen) {
    CIsXmlClassification doc;
    ASSERT_EQ(doc.addXMLType(kDrive, String("Drive.1"), 0), 0u);
    IUnknown* unk = nullptr;
    DWORD ret = 5;
    ASSERT_EQ(doc.getInstallationDocument(&unk, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    ComPtr<IXMLDOMDocument2> live;
    ASSERT_EQ(unk->QueryInterface(uuidof<IXMLDOMDocument2>(), reinterpret_cast<void**>(&live)),
              S_OK);
    unk->Release();
    zeb::xml::DomDocument outside(live);
    // The caller moves the type into a classified place and renames its ESID.
    zeb::xml::DomNode device = outside.selectSingleNode(u"//Device");
    zeb::xml::DomElement classified = outside.createElement(u"Classified");
    outside.documentElement().appendChild(classified);
    classified.appendChild(device);
    EXPECT_EQ(zeb::toNarrow(doc.findTypeElement(kDrive).parentNode().nodeName()), "Classified");
    device.selectSingleNode(u"ESType").asElement().setAttribute(
        u"ESID", u"{11111111-2222-4333-8444-555555555555}");
    EXPECT_FALSE(doc.findTypeElement(kDrive));
    EXPECT_TRUE(doc.findTypeElement(kAxis) == device);
    EXPECT_EQ(doc.removeXMLType(kAxis), 0u);
    EXPECT_EQ(count(doc, u"//Device"), 0u);
}

ZEB_CHILD_SCENARIO(classificationRefusals) {
    CIsXmlClassification doc;
    DWORD ret = 0;
    std::string out = std::to_string(doc.addXMLType(kDrive, String("Drive.1"), 32767));
    out += " " + std::to_string(load(doc, "<Installation>"));
    out += " " + std::to_string(uint32_t(doc.getInstallationDocument(nullptr, &ret)));
    return out;
}

TEST(ClassificationTraces, RefusalsLeaveTheirTraces) {
    zeb::test::TracedRun run = zeb::test::runTraced("classificationRefusals");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "12 0 2147500035");
    EXPECT_EQ(run.linesWith("invalid type class").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("error loading XML").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("error: NULL pointer argument").size(), 1u) << run.text;
    // Creating the document traced nothing.
    EXPECT_TRUE(run.linesWith("error calling").empty()) << run.text;
}
