// Descriptions moving in and out of the classification document: the
// export of chosen types and their import elsewhere, the merge of a
// supplied description, and the files of a package.
#include "is/xml/CIsXmlTypeExchange.h"

#include "base/fs/FsSecCl.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/ClassificationCalls.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"
#include "tests/support/SectionBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

constexpr const char* kDriveEsid = "{5A3E1001-7B1C-4C2A-9E10-3D5F00000001}";

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        for (const char* name : {"a", "b"}) {
            const std::string config = dir.file(name);
            ::mkdir(config.c_str(), 0755);
            ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
            writeFile(config + "/Drive.pd", readFile(ZEB_SAMPLE_PDFILE_DIR "/Drive.pd"));
        }
        ASSERT_EQ(CZEBIntInstallation::createObject(&a, dir.file("a")), S_OK);
        ASSERT_EQ(CZEBIntInstallation::createObject(&b, dir.file("b")), S_OK);
    }
    static void add(CZEBIntInstallation& inst, const CLSID& clsid, LONG typeClass) {
        DWORD ret = 1;
        ASSERT_EQ(inst.addTypeByClass(clsid, typeClass, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    static void describe(CZEBIntInstallation& inst) { ASSERT_EQ(inst.refreshXMLTypeTree(), 0u); }
    static std::string xmlOf(CZEBIntInstallation& inst, const char16_t* xpath) {
        auto node = inst.classification().document().selectSingleNode(xpath);
        return node ? zeb::toNarrow(node.xml()) : std::string();
    }
    static size_t count(CZEBIntInstallation& inst, const char16_t* xpath) {
        return inst.classification().document().selectNodes(xpath).size();
    }
    // Export of `ids` from `from` as the section text (a narrow string).
    static DWORD exportText(CZEBIntInstallation& from, std::vector<GUID> ids, std::string& text) {
        ComPtr<IStream> stream = zeb::test::memoryStream();
        DWORD r;
        {
            FsSecCl section(stream);
            r = from.exportXmlTreeInfo(ids, section);
        }
        String read;
        zeb::test::readSection(zeb::test::streamBytes(stream.get()), read);
        text = std::string(read.view());
        return r;
    }
    static DWORD importText(CZEBIntInstallation& into, const std::string& text) {
        DWORD state = 0;
        const std::string bytes = zeb::test::sectionBytes(String(std::string_view(text)), state);
        ComPtr<IStream> stream = zeb::test::memoryStream(bytes);
        FsSecCl section(stream);
        return into.importXmlTreeInfo(section);
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> a, b;
};

TEST(XPathLiteral, AnyTextBecomesALiteralOfItself) {
    using zeb::classification::xpathLiteral;
    EXPECT_EQ(xpathLiteral(u"Drive.1.0"), u"\"Drive.1.0\"");
    EXPECT_EQ(xpathLiteral(u"say \"hi\""), u"'say \"hi\"'");
    EXPECT_EQ(xpathLiteral(u"a\"b'c"), u"concat(\"a\", '\"', \"b'c\")");
    EXPECT_EQ(xpathLiteral(u"\"'\""), u"concat('\"', \"'\", '\"')");
    // Each form selects exactly the element with that text.
    for (const char16_t* text : {u"plain", u"it's", u"say \"hi\"", u"a\"b'c", u"\"'\"", u""}) {
        auto doc = zeb::xml::DomDocument::create();
        ASSERT_TRUE(doc.loadXml(u"<r><e n=\"x\"/><e n=\"other\"/></r>"));
        auto e = doc.selectSingleNode(u"r/e[@n=\"x\"]").asElement();
        e.setAttribute(u"n", text);
        auto found = doc.selectNodes(u"r/e[@n=" + xpathLiteral(text) + u"]");
        ASSERT_EQ(found.size(), 1u) << zeb::toNarrow(text);
        EXPECT_EQ(found[0].asElement().getAttribute(u"n").value_or(u"?"), text);
    }
}

TEST_F(Exchange, AnExportCarriesTheTypesInOrderAndIsWholeOrNothing) {
    add(*a, CLSID_SampleDriveType, TC_Device);
    add(*a, CLSID_SamplePackageType, TC_Package);
    describe(*a);
    const std::string before = xmlOf(*a, u"Installation");
    std::string text;
    ASSERT_EQ(exportText(*a, {TYPEID_SamplePackage, TYPEID_SampleDrive}, text), 0u);
    auto doc = zeb::xml::DomDocument::create();
    ASSERT_TRUE(doc.loadXml(zeb::toWide(text))) << text;
    auto children = doc.selectNodes(u"Export/*");
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(zeb::toNarrow(children[0].nodeName()), "Package");
    EXPECT_EQ(zeb::toNarrow(children[1].nodeName()), "Device");
    EXPECT_TRUE(doc.selectSingleNode(u"Export/Device/SubObj[@Id='1']"));

    ASSERT_EQ(exportText(*a, {}, text), 0u);
    EXPECT_NE(text.find("<Export/>"), std::string::npos) << text;
    // One type missing: nothing is written.
    ComPtr<IStream> stream = zeb::test::memoryStream();
    {
        FsSecCl section(stream);
        EXPECT_EQ(a->exportXmlTreeInfo({TYPEID_SampleDrive, TYPEID_SampleCam}, section), 65535u);
    }
    EXPECT_EQ(zeb::test::streamBytes(stream.get()), "");
    // The export does not change the document.
    EXPECT_EQ(xmlOf(*a, u"Installation"), before);
}

// Exports one after another give the same text while nothing changes, and
// follow every change of the document and of the export stylesheet.
TEST_F(Exchange, RepeatedExportsFollowTheDocumentAndTheStylesheet) {
    add(*a, CLSID_SampleDriveType, TC_Device);
    describe(*a);
    std::string first, again;
    ASSERT_EQ(exportText(*a, {TYPEID_SampleDrive}, first), 0u);
    ASSERT_EQ(exportText(*a, {TYPEID_SampleDrive}, again), 0u);
    EXPECT_EQ(again, first);
    EXPECT_NE(first.find("SubObj"), std::string::npos) << first;
    ASSERT_EQ(exportText(*a, {TYPEID_SampleDrive, TYPEID_SampleDrive}, again), 0u);
    EXPECT_EQ(zeb::xml::DomDocument::create().loadXml(zeb::toWide(again)), true);

    // A type described after an export is found by the next one.
    EXPECT_EQ(exportText(*a, {TYPEID_SampleCam}, again), 65535u);
    add(*a, CLSID_SampleCamType, TC_TObject);
    describe(*a);
    ASSERT_EQ(exportText(*a, {TYPEID_SampleCam, TYPEID_SampleDrive}, again), 0u);
    EXPECT_NE(again.find("SampleCam"), std::string::npos) << again;

    // A site's own export stylesheet, put in place between two exports.
    writeFile(dir.file("a") + "/k4bi00tx_tfb.xsl",
              "<xsl:stylesheet version=\"1.0\" "
              "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
              "<xsl:template match=\"@*|node()\"><xsl:copy>"
              "<xsl:apply-templates select=\"@*|node()\"/></xsl:copy></xsl:template>"
              "<xsl:template match=\"ESType\"><xsl:copy><xsl:attribute name=\"Site\">1"
              "</xsl:attribute><xsl:apply-templates select=\"@*\"/></xsl:copy>"
              "</xsl:template></xsl:stylesheet>");
    ASSERT_EQ(exportText(*a, {TYPEID_SampleDrive}, again), 0u);
    EXPECT_NE(again.find("Site=\"1\""), std::string::npos) << again;
    // Gone: the export fails as it does without one.
    ASSERT_EQ(::unlink((dir.file("a") + "/k4bi00tx_tfb.xsl").c_str()), 0);
    EXPECT_EQ(exportText(*a, {TYPEID_SampleDrive}, again), 65535u);
}

TEST_F(Exchange, AnImportReplacesTheTypeOfTheSameNameWhereverItStands) {
    add(*a, CLSID_SampleDriveType, TC_Device);
    describe(*a);
    std::string text;
    ASSERT_EQ(exportText(*a, {TYPEID_SampleDrive}, text), 0u);

    // b has its own, undescribed Drive (in New) and a described Package.
    add(*b, CLSID_SamplePackageType, TC_Package);
    describe(*b);
    add(*b, CLSID_SampleDriveType, TC_Device);
    b->classification().clearDocumentChanged();
    ASSERT_EQ(importText(*b, text), 0u);
    EXPECT_EQ(count(*b, u".//*[ESType/@ESName='SampleDrive.1.0']"), 1u);
    // Imported with its description and arranged, not described again.
    EXPECT_EQ(xmlOf(*b, u"Installation/Classified/Device/SubObj[@Id='0']"),
              xmlOf(*a, u"Installation/Classified/Device/SubObj[@Id='0']"));
    EXPECT_EQ(count(*b, u"Installation/Classified/Package"), 1u);
    EXPECT_FALSE(b->classification().isRefreshNeeded());
    EXPECT_TRUE(b->classification().isDocumentChanged());

    EXPECT_EQ(importText(*b, "<Export><Device><ESType"), 65535u);
}

TEST_F(Exchange, AMergedDescriptionReplacesByIdAndAddsTheRest) {
    add(*a, CLSID_SampleDriveType, TC_Device);
    describe(*a);
    a->classification().clearDocumentChanged();
    auto supplied = zeb::xml::DomDocument::create();
    ASSERT_TRUE(supplied.loadXml(
        u"<Types><Device><ESType ESName=\"SampleDrive.1.0\"/>"
        u"<Attributes><Attribute Name=\"BI_MERGED\" Value=\"yes\"/></Attributes>"
        u"<SubObj Id=\"1\" Name=\"Pump\"/><SubObj Id=\"7\" Name=\"Valve\"/>"
        u"<Connectors><Connector Id=\"2\" Name=\"Resolver\"/><Connector Id=\"9\" Name=\"Spare\"/>"
        u"</Connectors><Notes>kept</Notes></Device></Types>"));
    DWORD ret = 1;
    ASSERT_EQ(a->addXMLTypeDescription(supplied.get(), &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    const char16_t* device = u"Installation/Classified/Device";
    auto drive = a->classification().document().selectSingleNode(device);
    EXPECT_EQ(drive.selectNodes(u"SubObj").size(), 3u);
    EXPECT_EQ(zeb::toNarrow(drive.selectSingleNode(u"SubObj[@Id='1']/@Name").text()), "Pump");
    EXPECT_EQ(zeb::toNarrow(drive.selectSingleNode(u"SubObj[@Id='0']/@Name").text()), "Brake");
    EXPECT_EQ(drive.selectNodes(u"Connectors/Connector").size(), 4u);
    EXPECT_EQ(zeb::toNarrow(drive.selectSingleNode(u"Connectors/Connector[@Id='2']/@Name").text()),
              "Resolver");
    EXPECT_EQ(drive.selectNodes(u"Connectors").size(), 1u);
    EXPECT_EQ(zeb::toNarrow(drive.selectSingleNode(u"Notes").text()), "kept");
    // Other elements accumulate: the merged Attributes element stands beside.
    EXPECT_TRUE(drive.selectSingleNode(u"Attributes/Attribute[@Name='BI_MERGED']"));
    BSTR value = nullptr;
    zeb::Bstr key("BI_MERGED");
    ASSERT_EQ(a->getAttributeByTypeID(TYPEID_SampleDrive, key, &value, &ret), S_OK);
    EXPECT_EQ(zeb::toNarrow(std::u16string(value, SysStringLen(value))), "yes");
    SysFreeString(value);
    // The merge is saved with the next save, and asks for no new description.
    EXPECT_TRUE(a->classification().isDocumentChanged());
    EXPECT_FALSE(a->classification().isRefreshNeeded());

    // A type of another class element, or of no installed name: 13.
    ASSERT_TRUE(supplied.loadXml(u"<Package><ESType ESName=\"SampleDrive.1.0\"/></Package>"));
    EXPECT_EQ(a->addXMLTypeDescription(supplied.get(), &ret), S_OK);
    EXPECT_EQ(ret, 13u);
    ASSERT_TRUE(supplied.loadXml(u"<Device><ESType ESName='x\"y&apos;z'/></Device>"));
    EXPECT_EQ(a->addXMLTypeDescription(supplied.get(), &ret), S_OK);
    EXPECT_EQ(ret, 13u);
    ASSERT_TRUE(supplied.loadXml(u"<Device><Other/></Device>"));
    EXPECT_EQ(a->addXMLTypeDescription(supplied.get(), &ret), S_OK);
    EXPECT_EQ(ret, 65535u);
    EXPECT_EQ(a->addXMLTypeDescription(nullptr, &ret), E_POINTER);
}

TEST_F(Exchange, PackageFilesAreAddedRemovedAndSaved) {
    add(*a, CLSID_SampleDriveType, TC_Device);
    add(*a, CLSID_SamplePackageType, TC_Package);
    describe(*a);
    DWORD ret = 0;
    ASSERT_EQ(a->saveChanges(&ret), S_OK);
    const std::string before = xmlOf(*a, u"Installation");
    zeb::Bstr file("drive.bin");
    // Unknown package, unknown device type, a name with quotes: refused,
    // and the document stays as it was.
    for (auto [package, device] :
         {std::pair{"NoPack.1.0", "SampleDrive.1.0"}, std::pair{"SamplePack.1.0", "NoDrive.1.0"},
          std::pair{"Sample\"Pack'", "SampleDrive.1.0"}}) {
        ret = 0;
        EXPECT_EQ(a->addPackageFile(package, device, file, &ret), S_OK);
        EXPECT_EQ(ret, 0xBE020003u);
    }
    EXPECT_EQ(xmlOf(*a, u"Installation"), before);
    EXPECT_FALSE(a->isChanged());

    ASSERT_EQ(a->addPackageFile("SamplePack.1.0", "sampledrive.1.0", file, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(xmlOf(*a, u"Installation/Classified/Package/Files"),
              std::string("<Files><File Name=\"drive.bin\" ESID=\"") + kDriveEsid + "\"/></Files>");
    // Saved although nothing else changed, and found again.
    ASSERT_EQ(a->saveChanges(&ret), S_OK);
    a.Release();
    ASSERT_EQ(CZEBIntInstallation::createObject(&a, dir.file("a")), S_OK);
    EXPECT_EQ(count(*a, u".//Package/Files/File"), 1u);

    ASSERT_EQ(a->removePackageFile("SamplePack.1.0", "SampleDrive.1.0", &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(count(*a, u".//Package/Files/File"), 0u);
    ret = 1;
    ASSERT_EQ(a->removePackageFile("SamplePack.1.0", "SampleDrive.1.0", &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    ASSERT_EQ(a->removePackageFile("SamplePack.1.0", "NoDrive.1.0", &ret), S_OK);
    EXPECT_EQ(ret, 0xBE020003u);
    EXPECT_EQ(a->removePackageFile(nullptr, "SampleDrive.1.0", &ret), E_POINTER);
}

} // namespace
