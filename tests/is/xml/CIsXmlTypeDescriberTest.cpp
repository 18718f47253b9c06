// Describing installed types: what the refresh writes from the sample type
// objects and their PD-files, how it ends when a type object fails, and the
// arrangement with the stylesheet of the configuration directory.
#include "is/xml/CIsXmlTypeDescriber.h"

#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"
#include "tests/co/TraceLog.h"
#include "tests/is/xml/DescribedType.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using zeb::test::DescribedClass;
using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

constexpr RTTypeID kDescribedRt{makeGuid("0F0F0F0F-0000-0000-0000-000000000001"), 1, 0};

class Describer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zeb::samples::registerServer());
        ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
        for (const char* name : {"Drive.pd", "Cam.pd"})
            writeFile(dir.file("config/") + name,
                      readFile(std::string(ZEB_SAMPLE_PDFILE_DIR "/") + name));
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst), S_OK);
        inst->setConfigurationDirectory(config);
    }

    std::string makeConfig() {
        std::string path = dir.file("config");
        ::mkdir(path.c_str(), 0755);
        return path;
    }

    void add(const CLSID& clsid, LONG typeClass) {
        DWORD ret = 1;
        ASSERT_EQ(inst->addTypeByClass(clsid, typeClass, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    void setAttribute(const GUID& typeId, const char* key, const char* value) {
        zeb::Bstr k(key), v(value);
        DWORD ret = 1;
        ASSERT_EQ(inst->setAttributeByTypeID(typeId, k, v, &ret), S_OK);
        ASSERT_EQ(ret, 0u);
    }
    // The class element of a type as text ("" when the document has none).
    std::string element(const GUID& typeId) {
        auto found = inst->classification().findTypeElement(typeId);
        return found ? zeb::toNarrow(found.xml()) : std::string();
    }
    // Where a type's class element stands: the name of its parent.
    std::string placeOf(const GUID& typeId) {
        auto found = inst->classification().findTypeElement(typeId);
        return found ? zeb::toNarrow(found.parentNode().nodeName()) : std::string();
    }
    size_t count(const char16_t* xpath) {
        return inst->classification().document().selectNodes(xpath).size();
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = makeConfig();
    ComPtr<CZEBIntInstallation> inst;
};

} // namespace

TEST_F(Describer, TheSampleDriveIsDescribedFromEveryInterfaceAndItsPdFile) {
    add(CLSID_SampleDriveType, TC_Device);
    setAttribute(TYPEID_SampleDrive, "BI_TYPE_PDFILENAME", "Drive.pd");
    EXPECT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Classified");
    EXPECT_EQ(
        element(TYPEID_SampleDrive),
        "<Device>"
        "<ESType ESID=\"{5A3E1001-7B1C-4C2A-9E10-3D5F00000001}\" ESName=\"SampleDrive.1.0\" "
        "RTID=\"{5A3E2001-7B1C-4C2A-9E10-3D5F00000001}\" RTMajor=\"1\" RTMinor=\"0\"/>"
        "<SubObj Id=\"0\" Name=\"Brake\" Addr=\"16\" "
        "ESID=\"{5A3E1007-7B1C-4C2A-9E10-3D5F00000007}\"/>"
        "<SubObj Id=\"1\" Name=\"Fan\" Addr=\"3000000000\" "
        "ESID=\"{5A3E1007-7B1C-4C2A-9E10-3D5F00000007}\"/>"
        "<Connectors>"
        "<Connector Id=\"1\" Name=\"DriveBus\" "
        "Interface=\"{5A3E4001-7B1C-4C2A-9E10-3D5F00000001}\" "
        "Incoming=\"-1\" Outgoing=\"0\" Remote=\"0\" Multipoint=\"0\" Required=\"-1\" "
        "ExclusiveGroup=\"0\" Major=\"1\" Minor=\"0\"/>"
        "<Connector Id=\"2\" Name=\"Encoder\" Interface=\"{5A3E4002-7B1C-4C2A-9E10-3D5F00000001}\" "
        "Incoming=\"0\" Outgoing=\"-1\" Remote=\"0\" Multipoint=\"-1\" Required=\"0\" "
        "ExclusiveGroup=\"1\" Major=\"2\" Minor=\"3\"/>"
        "<Connector Id=\"3\" Name=\"Telegram\" "
        "Interface=\"{5A3E4003-7B1C-4C2A-9E10-3D5F00000001}\" "
        "Incoming=\"-1\" Outgoing=\"-1\" Remote=\"-1\" Multipoint=\"0\" Required=\"0\" "
        "ExclusiveGroup=\"1\" Major=\"4\" Minor=\"65535\"/>"
        "</Connectors>"
        "<Classification>"
        "<ESTypeGroup value=\"Drives\"/><ESTypeSubGroup value=\"Velantis\"/>"
        "<ESTypeGroup value=\"Drives\"/><ESTypeSubGroup value=\"Servo\"/>"
        "<DOCategory value=\"2\"/><DOClass value=\"17\"/>"
        "<Base GUID=\"{5A3E2101-7B1C-4C2A-9E10-3D5F00000001}\" Major=\"2\" Minor=\"1\"/>"
        "<DOView value=\"3\"/>"
        "</Classification>"
        "<Contents>"
        "<Content Type=\"SD\" Name=\"SampleDriveSD\" Version=\"3\" OAInterfaceVersion=\"2\">"
        "<OACompatibleRange MinVersion=\"1\" MaxVersion=\"2\"/>"
        "<OACompatibleRange MinVersion=\"4\" MaxVersion=\"4294967295\"/>"
        "</Content>"
        "</Contents>"
        "<Properties>"
        "<Property Name=\"ParallelConnectable\" Value=\"1\"/>"
        "<Property Name=\"DataSetHandling\" Value=\"1\"/>"
        "</Properties>"
        "</Device>");
    EXPECT_FALSE(inst->classification().isRefreshNeeded());
}

TEST_F(Describer, NavigationAndPackageContentsAreWrittenInTheirOrder) {
    add(CLSID_SampleCamType, TC_TObject);
    add(CLSID_SampleAxisType, TC_TObject);
    add(CLSID_SamplePackageType, TC_Package);
    setAttribute(TYPEID_SampleCam, "BI_TYPE_PDFILENAME", "Cam.pd");
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    // The axis names the installed cam by its identifier, not the unknown one;
    // its base is the invalid runtime identifier, so no Base.
    EXPECT_EQ(element(TYPEID_SampleAxis),
              "<TObject>"
              "<ESType ESID=\"{5A3E1002-7B1C-4C2A-9E10-3D5F00000002}\" ESName=\"SampleAxis.1.0\" "
              "RTID=\"{5A3E2002-7B1C-4C2A-9E10-3D5F00000002}\" RTMajor=\"1\" RTMinor=\"0\"/>"
              "<Contents>"
              "<Content Type=\"TO\" RTID=\"{5A3E2003-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"1\" "
              "RTMinor=\"0\" ESID=\"{5A3E1003-7B1C-4C2A-9E10-3D5F00000003}\"/>"
              "<Content Type=\"TO\" RTID=\"{5A3E2F02-7B1C-4C2A-9E10-3D5F00000002}\" RTMajor=\"3\" "
              "RTMinor=\"0\"/>"
              "</Contents>"
              "<Classification>"
              "<ESTypeGroup value=\"Motion\"/><ESTypeSubGroup value=\"Axes\"/>"
              "<DOCategory value=\"3\"/><DOClass value=\"42\"/>"
              "</Classification>"
              "</TObject>");
    // The cam's OA applications, each with the applications of the classes it
    // supports; its PD-file has view 0 (no DOView) and both values 0.
    EXPECT_EQ(
        element(TYPEID_SampleCam),
        "<TObject>"
        "<ESType ESID=\"{5A3E1003-7B1C-4C2A-9E10-3D5F00000003}\" ESName=\"SampleCam.1.0\" "
        "RTID=\"{5A3E2003-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"1\" RTMinor=\"0\"/>"
        "<Classification>"
        "<ESTypeGroup value=\"Drives\"/><ESTypeSubGroup value=\"Velantis\"/>"
        "</Classification>"
        "<Contents>"
        "<Content Type=\"OA\" Name=\"CamProfile\" RTID=\"{5A3E2103-7B1C-4C2A-9E10-3D5F00000003}\" "
        "RTMajor=\"1\" RTMinor=\"0\" InterfaceVersion=\"2\" Version=\"5\">"
        "<OAApp DOClass=\"101\" RTID=\"{5A3E2103-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"1\" "
        "RTMinor=\"0\"/>"
        "<OAApp DOClass=\"102\" RTID=\"{5A3E2103-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"1\" "
        "RTMinor=\"0\"/>"
        "<OAApp DOClass=\"102\" RTID=\"{5A3E2203-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"2\" "
        "RTMinor=\"1\"/>"
        "</Content>"
        "<Content Type=\"OA\" Name=\"CamTable\" RTID=\"{5A3E2203-7B1C-4C2A-9E10-3D5F00000003}\" "
        "RTMajor=\"2\" RTMinor=\"1\" InterfaceVersion=\"3\" Version=\"7\">"
        "<OAApp DOClass=\"102\" RTID=\"{5A3E2103-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"1\" "
        "RTMinor=\"0\"/>"
        "<OAApp DOClass=\"102\" RTID=\"{5A3E2203-7B1C-4C2A-9E10-3D5F00000003}\" RTMajor=\"2\" "
        "RTMinor=\"1\"/>"
        "</Content>"
        "</Contents>"
        "<Properties>"
        "<Property Name=\"ParallelConnectable\" Value=\"0\"/>"
        "<Property Name=\"DataSetHandling\" Value=\"0\"/>"
        "</Properties>"
        "</TObject>");
    // Package features 3: DCC before ST.
    EXPECT_EQ(element(TYPEID_SamplePackage),
              "<Package>"
              "<ESType ESID=\"{5A3E1004-7B1C-4C2A-9E10-3D5F00000004}\" ESName=\"SamplePack.1.0\" "
              "RTID=\"{5A3E2004-7B1C-4C2A-9E10-3D5F00000004}\" RTMajor=\"3\" RTMinor=\"1\"/>"
              "<Contents><Content Type=\"DCC\"/><Content Type=\"ST\"/></Contents>"
              "</Package>");
}

TEST_F(Describer, ARefreshWithNothingNewStillBuildsTheSkeletonAndArranges) {
    // A type without description interfaces and without PD-file keeps only
    // its ESType; the arrangement puts it under Classified.
    add(CLSID_SampleProgramType, TC_Program);
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(element(TYPEID_SampleProgram),
              "<Program><ESType ESID=\"{5A3E1005-7B1C-4C2A-9E10-3D5F00000005}\" "
              "ESName=\"SampleProgram.1.0\"/></Program>");
    const std::string arranged = zeb::toNarrow(inst->classification().document().xml());
    EXPECT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(zeb::toNarrow(inst->classification().document().xml()), arranged);
    EXPECT_EQ(count(u"/Installation/*"), 3u);
    EXPECT_EQ(count(u"/Installation/New[not(*)]"), 1u);
    EXPECT_EQ(count(u"/Installation/Unclassified[not(*)]"), 1u);
    EXPECT_EQ(count(u"/Installation/Classified/Program"), 1u);

    // On demand: the same, also on a document nothing was added to.
    ComPtr<CZEBIntInstallation> fresh;
    ASSERT_EQ(CZEBIntInstallation::createObject(&fresh), S_OK);
    fresh->setConfigurationDirectory(config);
    DWORD ret = 1;
    EXPECT_EQ(fresh->refreshXMLTypeOnDemand(&ret), S_OK);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(zeb::toNarrow(fresh->classification().document().xml()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

TEST_F(Describer, AClassElementWithoutESTypeStopsTheRefreshOnce) {
    add(CLSID_SampleDriveType, TC_Device);
    auto doc = inst->classification().document();
    auto inbox = doc.selectSingleNode(u"Installation/New");
    inbox.appendChild(doc.createElement(u"Device"));
    add(CLSID_SampleAxisType, TC_TObject);
    EXPECT_EQ(inst->refreshXMLTypeTree(), 13u);
    // Described before the broken one, left in New after it; nothing arranged.
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Unclassified");
    EXPECT_EQ(placeOf(TYPEID_SampleAxis), "New");
    EXPECT_EQ(count(u"/Installation/Unclassified/Device[not(ESType)]"), 1u);
    EXPECT_TRUE(inst->classification().isRefreshNeeded());
    EXPECT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(placeOf(TYPEID_SampleAxis), "Classified");
    EXPECT_FALSE(inst->classification().isRefreshNeeded());
}

TEST_F(Describer, WithoutItsStylesheetTheRefreshFailsAndStaysPending) {
    add(CLSID_SampleDriveType, TC_Device);
    ASSERT_EQ(::unlink((config + "/k4bi00tx_tf.xsl").c_str()), 0);
    DWORD ret = 0;
    EXPECT_EQ(inst->refreshXMLTypeOnDemand(&ret), S_OK);
    EXPECT_EQ(ret, 0xBE020006u);
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Unclassified");
    EXPECT_TRUE(inst->classification().isRefreshNeeded());
    // A new directory gets the default again; one already there is kept.
    writeFile(config + "/k4bi00tx_tfb.xsl", "site's own");
    ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
    EXPECT_EQ(readFile(config + "/k4bi00tx_tfb.xsl"), "site's own");
    EXPECT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Classified");
}

TEST_F(Describer, AMissingPdFileFailsTheRefreshInsteadOfDescribingEmptyValues) {
    add(CLSID_SampleDriveType, TC_Device);
    setAttribute(TYPEID_SampleDrive, "BI_TYPE_PDFILENAME", "NoSuch.pd");
    EXPECT_EQ(inst->refreshXMLTypeTree(), 65535u);
    EXPECT_EQ(count(u"//Properties"), 0u);
    EXPECT_TRUE(inst->classification().isRefreshNeeded());
}

TEST_F(Describer, AStylesheetThatWritesAFileIsRefused) {
    writeFile(config + "/writer.xsl",
              "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
              "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
              "<xsl:template match=\"/\"><exsl:document href=\"" +
                  dir.file("written.txt") +
                  "\" method=\"text\"><xsl:text>x</xsl:text></exsl:document>"
                  "<Installation/></xsl:template></xsl:stylesheet>");
    CIsXmlClassification doc;
    struct Source final : TypeDescriptionSource {
        DWORD createTypeObject(const GUID&, IUnknown**) override { return 65535; }
        GUID findTypeByRuntimeId(const RTTypeID&) override { return GUID_NOTYPE; }
        HRESULT typeAttribute(const GUID&, BSTR, BSTR*, DWORD*) override { return E_FAIL; }
        std::string configurationDirectory() override { return directory; }
        std::string directory;
    } source;
    source.directory = config;
    CIsXmlTypeDescriber describer(doc, source);
    zeb::xml::DomDocument out;
    EXPECT_EQ(describer.transformXMLTypeTree("writer.xsl", out), 65535u);
    EXPECT_FALSE(out);
    EXPECT_EQ(::access(dir.file("written.txt").c_str(), F_OK), -1);
    // Only plain names of the configuration directory are read.
    writeFile(dir.file("outside.xsl"), readFile(config + "/k4bi00tx_tf.xsl"));
    EXPECT_EQ(describer.transformXMLTypeTree("../outside.xsl", out), 65535u);
    EXPECT_EQ(describer.transformXMLTypeTree("k4bi00tx_tf.xsl", out), 0u);
    EXPECT_TRUE(out);
}

TEST_F(Describer, ExistingSubObjectsStayForAnEmptyListAndAreReplacedByAFullOne) {
    DescribedClass described("Described.1.0", kDescribedRt);
    add(described.clsid, TC_Device);
    auto doc = inst->classification().document();
    auto typeElement = inst->classification().findTypeElement(described.script->typeId);
    auto old = doc.createElement(u"SubObj");
    old.setAttribute(u"Id", u"old");
    typeElement.appendChild(old);
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(count(u"//SubObj[@Id='old']"), 1u);

    // Described again only through a new class element with the old list in it.
    ASSERT_EQ(inst->classification().removeXMLType(described.script->typeId), 0u);
    ASSERT_EQ(inst->classification().addXMLType(described.script->typeId, String("Described.1.0"),
                                                TC_Device),
              0u);
    doc = inst->classification().document();
    old = doc.createElement(u"SubObj");
    old.setAttribute(u"Id", u"old");
    inst->classification().findTypeElement(described.script->typeId).appendChild(old);
    described.script->subObjects = {{TYPEID_SampleDrive, u"Axis1", 7}};
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(count(u"//SubObj[@Id='old']"), 0u);
    EXPECT_EQ(count(u"//SubObj[@Id='0' and @Name='Axis1' and @Addr='7']"), 1u);
}

TEST_F(Describer, AFailingOrThrowingDescriptionCallEndsTheRefreshAsDocumented) {
    struct Case {
        const char* call;
        DWORD failRet;  // the result word the call answers with
        DWORD expected; // the refresh's code
    };
    const Case cases[] = {
        {"getRTTypeID", 0, 65535},
        {"getSubObjectEntryList", 0, 65535},
        {"getConnectorPropsList", 0, 65535},
        {"getConnectorPropsList", 0xBE020007, 0xBE020007},
        {"getTObjectTypeRTIDList", 0, 65535},
        {"getTObjectTypeRTIDList", 9, 9},
        {"getSDHeaderDetails", 0, 0}, // tolerated: the block ends, the refresh goes on
        {"getApplicationTypeDetailsList", 0, 0},
        {"getApplicationSupportedDOClasses", 0, 0},
        {"getFeatures", 0, 65535},
        {"getFeatures", 4, 4},
        {"getTypeESTypeGroup", 0, 65535},
        {"getTypeESTypeSubGroup", 0, 65535},
        {"getTypeCategory", 0, 65535},
        {"getTypeClass", 0, 65535},
        {"getRuntimeID", 0, 65535},
        {"getRuntimeIDBase", 0, 65535},
    };
    for (bool throwing : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.call) + (throwing ? " throwing" : " failing"));
            ComPtr<CZEBIntInstallation> one;
            ASSERT_EQ(CZEBIntInstallation::createObject(&one), S_OK);
            one->setConfigurationDirectory(config);
            DescribedClass described("Described.1.0", kDescribedRt);
            described.script->features = 3;
            DWORD ret = 1;
            ASSERT_EQ(one->addTypeByClass(described.clsid, TC_Device, &ret), S_OK);
            ASSERT_EQ(ret, 0u);
            described.script->failing = c.call;
            described.script->failRet = c.failRet;
            described.script->throwing = throwing;
            // A thrown error carries no result word: it counts as a plain failure.
            const DWORD expected = throwing && c.expected != 0 ? 65535u : c.expected;
            EXPECT_EQ(one->refreshXMLTypeTree(), expected);
            // The document stays usable: its text, a further type and refresh.
            BSTR text = nullptr;
            EXPECT_TRUE(one->classification().getXMLText(&text));
            SysFreeString(text);
            described.script->failing.clear();
            ASSERT_EQ(one->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret), S_OK);
            EXPECT_EQ(one->refreshXMLTypeTree(), 0u);
            // The arrangement takes the type left in Unclassified along.
            EXPECT_EQ(one->classification()
                          .document()
                          .selectNodes(u"/Installation/Classified/Device")
                          .size(),
                      2u);
        }
    }
}

TEST_F(Describer, CallsIntoTheInstallationDuringTheRefreshAreServedSafely) {
    DescribedClass first("First.1.0", kDescribedRt);
    DescribedClass second("Second.1.0",
                          RTTypeID{makeGuid("0F0F0F0F-0000-0000-0000-000000000002"), 1, 0});
    add(first.clsid, TC_Device);
    add(second.clsid, TC_Device);
    DWORD nested = 0;
    bool called = false;
    // While the first type is described: a refresh asked for again is
    // refused, and the second type, still waiting in New, is uninstalled.
    first.script->onCall = [&](const std::string& call) {
        if (call != "getFeatures" || called) return;
        called = true;
        inst->refreshXMLTypeOnDemand(&nested);
        DWORD ret = 1;
        inst->removeType(second.script->typeId, &ret);
    };
    EXPECT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(nested, 0xBE020006u);
    EXPECT_EQ(placeOf(first.script->typeId), "Classified");
    EXPECT_EQ(element(second.script->typeId), "");
    EXPECT_FALSE(inst->typeCont().isType(second.script->typeId));
}

TEST_F(Describer, TheInstallationDocumentIsTheLiveOneAndAfterARefreshTheArrangedOne) {
    ComQIPtr<IMC_InternalInstallClassification> spI(static_cast<IMC_Installation*>(inst.get()));
    ASSERT_TRUE(spI);
    DWORD ret = 1;
    IUnknown* unused = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(spI->getInstallationDocument(nullptr, &ret), E_POINTER);
    EXPECT_EQ(ret, 1u);
    EXPECT_EQ(spI->getInstallationDocument(&unused, nullptr), E_POINTER);
    EXPECT_EQ(unused, reinterpret_cast<IUnknown*>(0x1));

    ComPtr<IUnknown> before;
    ASSERT_EQ(spI->getInstallationDocument(&before, &ret), S_OK);
    EXPECT_EQ(ret, 0u);
    add(CLSID_SampleDriveType, TC_Device);
    ComQIPtr<IXMLDOMDocument2> live(before.get());
    ASSERT_TRUE(live);
    zeb::xml::DomDocument seen{ComPtr<IXMLDOMDocument2>(live.get())};
    EXPECT_TRUE(seen.selectSingleNode(u"Installation/New/Device"));

    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    ComPtr<IUnknown> after;
    ASSERT_EQ(spI->getInstallationDocument(&after, &ret), S_OK);
    EXPECT_NE(after.get(), before.get());
    zeb::xml::DomDocument arranged{ComQIPtr<IXMLDOMDocument2>(after.get())};
    EXPECT_TRUE(arranged.selectSingleNode(u"Installation/Classified/Device"));
    // The index follows the exchange: the type is found in the new document.
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Classified");
    EXPECT_EQ(inst->classification().removeXMLType(TYPEID_SampleDrive), 0u);
    EXPECT_FALSE(arranged.selectSingleNode(u"//Device"));
}

ZEB_CHILD_SCENARIO(describerRefusals) {
    zeb::test::TempDir dir;
    if (!zeb::samples::registerServer()) return std::string("no samples");
    ComPtr<CZEBIntInstallation> inst;
    CZEBIntInstallation::createObject(&inst);
    inst->setConfigurationDirectory(dir.path());
    DWORD ret = 0;
    std::string out;
    // A PD-file that is not there, then no stylesheet, then a class element
    // without ESType.
    inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret);
    zeb::Bstr key("BI_TYPE_PDFILENAME"), value("Missing.pd");
    inst->setAttributeByTypeID(TYPEID_SampleDrive, key, value, &ret);
    out += std::to_string(inst->refreshXMLTypeTree());
    inst->refreshXMLTypeOnDemand(&ret);
    out += " " + std::to_string(ret);
    auto doc = inst->classification().document();
    doc.selectSingleNode(u"Installation/New").appendChild(doc.createElement(u"Device"));
    out += " " + std::to_string(inst->refreshXMLTypeTree());
    return out;
}

TEST(DescriberTraces, RefusalsLeaveTheirTraces) {
    zeb::test::TracedRun run = zeb::test::runTraced("describerRefusals");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "65535 3187802118 13");
    EXPECT_EQ(run.linesWith("parse PD-File ").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("/Missing.pd failed").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("parsing acx-file ").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("error loading XSL '").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("/k4bi00tx_tf.xsl'").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("failed refreshXMLTypeTree").size(), 1u) << run.text;
    EXPECT_EQ(run.linesWith("ESType Node not found").size(), 1u) << run.text;
}

// The progress callback a host shows a bar with: once after each type the
// refresh describes, counting up to the number of new types; a refresh with
// nothing new calls it not at all.
TEST_F(Describer, ProgressIsReportedAfterEachDescribedType) {
    add(CLSID_SampleDriveType, TC_Device);
    add(CLSID_SampleCamType, TC_TObject);
    std::vector<std::pair<size_t, size_t>> calls;
    std::vector<std::string> placesSeen;
    inst->setRefreshProgress([&](size_t done, size_t total) {
        calls.emplace_back(done, total);
        placesSeen.push_back(placeOf(TYPEID_SampleDrive));
    });
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_EQ(calls, (std::vector<std::pair<size_t, size_t>>{{1, 2}, {2, 2}}));
    // Called while the refresh runs: the described type waits in Unclassified.
    EXPECT_EQ(placesSeen.front(), "Unclassified");
    EXPECT_EQ(placeOf(TYPEID_SampleDrive), "Classified");
    EXPECT_FALSE(inst->classification().isRefreshNeeded());

    calls.clear();
    ASSERT_EQ(inst->refreshXMLTypeTree(), 0u);
    EXPECT_TRUE(calls.empty());
}
