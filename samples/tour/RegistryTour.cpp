#include "samples/tour/RegistryTour.h"

#include "h/ResultCodes.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/ComError.h"
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDom.h"
#include "samples/CSampleAsyncType.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"
#include "samples/tour/SamplePdFiles.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zeb::samples {
namespace {

struct Tour {
    std::FILE* out;
    int failures = 0;

    void step(const char* title) { std::fprintf(out, "\n== %s\n", title); }
    void result(const char* what, DWORD ret, DWORD expected) {
        std::fprintf(out, "  %-52s pRet 0x%08X%s\n", what, ret,
                     ret == expected ? "" : "  (unexpected)");
        if (ret != expected) ++failures;
    }
    void line(const std::string& text) { std::fprintf(out, "  %s\n", text.c_str()); }
};

std::string wide(BSTR text) {
    return text ? zeb::toNarrow(std::u16string(text, SysStringLen(text))) : "";
}

std::string nameOf(CZEBIntInstallation& inst, const GUID& id) {
    char* name = nullptr;
    DWORD ret = 0;
    inst.getTypeNameByID(id, &name, &ret);
    std::string text = (ret == 0 && name) ? name : "(none)";
    CoTaskMemFree(name);
    return text;
}

// A new private directory under $TMPDIR (or /tmp); empty when none could be made.
std::string makeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zeb-tour-config-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Removes the directory made by makeTempDir; what cannot be removed stays.
void removeDir(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// The class element of `typeId` anywhere in the document (queries find a
// type by the ESID of its ESType); empty when it is not there.
zeb::xml::DomNode classElement(const zeb::xml::DomDocument& doc, const GUID& typeId) {
    const std::string xpath = ".//*[ESType/@ESID=\"" + zeb::guidToString(typeId) + "\"]";
    return doc.selectSingleNode(zeb::toWide(xpath));
}

// What the description of SampleDrive must hold: its runtime identity, the
// classification of its SD navigation and of its object, its SD content and
// what Drive.pd says (view 3, parallel connectable, data-set handling).
constexpr const char16_t* kDriveMustHave[] = {
    u"ESType[@RTID and @RTMajor and @RTMinor]",
    u"SubObj[@Name=\"Brake\"]",
    u"Connectors/Connector[@Name=\"DriveBus\"]",
    u"Classification/ESTypeSubGroup[@value=\"Velantis\"]",
    u"Classification/ESTypeSubGroup[@value=\"Servo\"]",
    u"Classification/DOClass[@value=\"17\"]",
    u"Classification/Base[@Major=\"2\"][@Minor=\"1\"]",
    u"Classification/DOView[@value=\"3\"]",
    u"Contents/Content[@Type=\"SD\"]/OACompatibleRange",
    u"Properties/Property[@Name=\"ParallelConnectable\"][@Value=\"1\"]",
    u"Properties/Property[@Name=\"DataSetHandling\"][@Value=\"1\"]",
};

// The type descriptions: a configuration directory with the stylesheets and
// the PD-files, the on-demand refresh through the interface, and the class
// elements it wrote. Failures go to t.failures.
void describedTypes(Tour& t, CZEBIntInstallation& inst) {
    t.step("described types (classification document, refreshed on demand)");
    const std::string dir = makeTempDir();
    if (dir.empty()) {
        t.line("could not make a configuration directory under $TMPDIR or /tmp");
        ++t.failures;
        return;
    }
    t.line("configuration directory " + dir);
    std::string error;
    if (!zeb::classification::installDefaultStylesheets(dir, &error) ||
        !installSamplePdFiles(dir, &error)) {
        t.line("could not fill it: " + error);
        ++t.failures;
        removeDir(dir);
        return;
    }
    std::string files;
    for (const auto& sheet : zeb::classification::defaultStylesheets())
        files += std::string(files.empty() ? "" : ", ") + sheet.name;
    for (const SamplePdFile& pd : samplePdFiles())
        files += std::string(", ") + pd.name;
    t.line("holds " + files);
    inst.setConfigurationDirectory(dir);

    DWORD ret = 0;
    const Bstr attribute(kSamplePdFileAttribute);
    inst.setAttributeByTypeID(TYPEID_SampleDrive, attribute, Bstr(kSampleDrivePdFile), &ret);
    t.result(
        (std::string("SampleDrive ") + kSamplePdFileAttribute + " = " + kSampleDrivePdFile).c_str(),
        ret, 0);
    inst.setAttributeByTypeID(TYPEID_SampleCam, attribute, Bstr(kSampleCamPdFile), &ret);
    t.result(
        (std::string("SampleCam ") + kSamplePdFileAttribute + " = " + kSampleCamPdFile).c_str(),
        ret, 0);

    ComQIPtr<IMC_InternalInstallation> internal(static_cast<IMC_Installation*>(&inst));
    ret = PRET_FAILURE;
    HRESULT hr = internal ? internal->refreshXMLTypeOnDemand(&ret) : E_NOINTERFACE;
    if (FAILED(hr)) ret = PRET_FAILURE;
    t.result("refreshXMLTypeOnDemand (describe, arrange)", ret, 0);

    ComQIPtr<IMC_InternalInstallClassification> classification(
        static_cast<IMC_Installation*>(&inst));
    ComPtr<IUnknown> unknown;
    hr = classification ? classification->getInstallationDocument(&unknown, &ret) : E_NOINTERFACE;
    ComQIPtr<IXMLDOMDocument2> dom(unknown.get());
    if (FAILED(hr) || !dom) {
        t.line("getInstallationDocument gave no document");
        ++t.failures;
    } else {
        try {
            zeb::xml::DomDocument doc(std::move(dom));
            zeb::xml::DomNode drive = classElement(doc, TYPEID_SampleDrive);
            t.line("class element of SampleDrive.1.0:");
            t.line(drive ? zeb::toNarrow(drive.xml()) : "(not in the document)");
            int missing = 0;
            for (const char16_t* part : kDriveMustHave) {
                if (drive && drive.selectSingleNode(part)) continue;
                t.line("  missing: " + zeb::toNarrow(part));
                ++missing;
            }
            if (!drive || missing) ++t.failures;
            zeb::xml::DomNode cam = classElement(doc, TYPEID_SampleCam);
            t.line("class element of SampleCam.1.0:");
            t.line(cam ? zeb::toNarrow(cam.xml()) : "(not in the document)");
            const auto classified = doc.selectNodes(u"Installation/Classified/*");
            std::string classes;
            for (const zeb::xml::DomNode& type : classified)
                classes += (classes.empty() ? "" : ", ") + zeb::toNarrow(type.nodeName());
            const std::string summary =
                "class elements: New " +
                std::to_string(doc.selectNodes(u"Installation/New/*").size()) + ", Unclassified " +
                std::to_string(doc.selectNodes(u"Installation/Unclassified/*").size()) +
                ", Classified " + std::to_string(classified.size()) + " (" + classes + ")";
            t.line(summary);
        } catch (const zeb::ComError& e) {
            t.line(std::string("reading the document failed: ") + e.what());
            ++t.failures;
        }
    }
    // The installation reads nothing more from the directory after this step.
    inst.setConfigurationDirectory({});
    removeDir(dir);
}

} // namespace

int registryTour(std::FILE* out) {
    Tour t{out};
    t.step("sample components");
    if (!registerServer()) {
        t.line("could not register the sample classes in the registry store");
        return 1;
    }
    t.line("libzebsamples.so registered under HKEY_CLASSES_ROOT\\CLSID in " +
           std::string("$ZEB_REGISTRY"));

    ComPtr<CZEBIntInstallation> inst;
    ComPtr<CSampleProjectHdl> hdl;
    if (FAILED(CZEBIntInstallation::createObject(&inst)) ||
        FAILED(CSampleProjectHdl::createObject(&hdl))) {
        t.line("could not create the installation");
        return 1;
    }
    hdl->setInstallation(static_cast<IMC_Installation*>(inst.get()));
    ComPtr<IMC_PrjHdlHolder> holder;
    hdl->getProjectHdlHolder(&holder);
    inst->setPrjHdlHolder(holder);

    DWORD ret = 0;
    t.step("installing types (type objects created through the registry store)");
    inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret);
    t.result("device SampleDrive.1.0", ret, 0);
    inst->addTypeByClass(CLSID_SampleAxisType, TC_TObject, &ret);
    t.result("technology object SampleAxis.1.0 (with proxy id)", ret, 0);
    inst->addTypeByClass(CLSID_SampleCamType, TC_TObject, &ret);
    t.result("technology object SampleCam.1.0 (no proxy id)", ret, 0);
    inst->addTypeByClass(CLSID_SamplePackageType, TC_Package, &ret);
    t.result("package SamplePack.1.0", ret, 0);
    inst->addTypeByClass(CLSID_SampleProgramType, TC_Program, &ret);
    t.result("program SampleProgram.1.0", ret, 0);
    const GUID genericId = makeGuid("5A3E1006-7B1C-4C2A-9E10-3D5F00000006");
    inst->addTypeByClass(CLSID_SampleGenericType, TC_GenericObject, genericId, "SampleGeneric.1.0",
                         &ret);
    t.result("generic SampleGeneric.1.0 (type class factory)", ret, 0);
    inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret);
    t.result("SampleDrive again: CLSID already used", ret, PRET_BASE | IS_ALREADY_PRESENT);
    inst->addTypeByClass(CLSID_SampleCamType, TC_ProjectGlobal, &ret);
    t.result("class ProjectGlobal is not accepted", ret, PRET_BAD_CLASS);
    inst->removeType(TYPEID_SampleProgram, &ret);
    t.result("removeType of a program type is refused", ret, PRET_PROGRAM_TYPE);

    t.step("lookups");
    DWORD count = 0;
    ZEB_TypeNameEntry* map = nullptr;
    inst->getTypeNameMap(&count, &map);
    for (DWORD i = 0; i < count; ++i) {
        LONG cls = 0;
        inst->getTypeClass(map[i].typeId, &cls, &ret);
        t.line(zeb::guidToString(map[i].typeId) + "  " + map[i].name + "  (" + typeClassName(cls) +
               ")");
        CoTaskMemFree(map[i].name);
    }
    CoTaskMemFree(map);
    GUID id{};
    inst->getTypeIdByName("sampledrive.1.0", &id, &ret);
    t.result(("by name \"sampledrive.1.0\" -> " + nameOf(*inst, id)).c_str(), ret, 0);
    inst->getTypeIdByVIDName("SampleAxis", &id, &ret);
    t.result(("by VID name \"SampleAxis\" -> " + nameOf(*inst, id)).c_str(), ret, 0);
    inst->getTypeIDByRTID(RTTypeID{RTFAMILY_SampleDrive, 1, 7}, &id, &ret);
    t.result(("by runtime id {drive family, 1, 7} -> " + nameOf(*inst, id)).c_str(), ret, 0);
    inst->getTypeIdByName("Nobody.1.0", &id, &ret);
    t.result("by name \"Nobody.1.0\"", ret, PRET_NO_SUCH_NAME);

    t.step("snap-ins of SampleDrive");
    const GUID viewA = makeGuid("5A3E4001-0000-0000-0000-000000000001");
    const GUID viewB = makeGuid("5A3E4001-0000-0000-0000-000000000002");
    inst->addSnapInByTypeID(TYPEID_SampleDrive, viewA, &ret);
    inst->addSnapInByTypeID(TYPEID_SampleDrive, viewB, &ret);
    GUID def{};
    inst->getDefaultSnapInByTypeID(TYPEID_SampleDrive, &def, &ret);
    t.line("default after adding two: " + zeb::guidToString(def) + " (the first)");
    inst->removeSnapInByTypeID(TYPEID_SampleDrive, viewA, &ret);
    inst->getDefaultSnapInByTypeID(TYPEID_SampleDrive, &def, &ret);
    t.line("default after removing it: " + zeb::guidToString(def));

    t.step("extension types of SampleDrive (created through the project handler)");
    inst->addExtensionTypeByTypeID(TYPEID_SampleDrive, kSampleExtensionName, CLSID_SampleExtension,
                                   &ret);
    t.result("add SampleExt", ret, 0);
    inst->addExtensionTypeByTypeID(TYPEID_SampleDrive, kSampleOemExtensionName,
                                   CLSID_SampleOemExtension, &ret);
    t.result("add SampleOemExt (wrapped by a reverse object)", ret, 0);
    inst->addExtensionTypeByTypeID(TYPEID_SampleDrive, "SAMPLEEXT", CLSID_SampleCamType, &ret);
    t.result("add SAMPLEEXT: the name is taken", ret, PRET_BASE | IS_ALREADY_PRESENT);
    GUID* ids = nullptr;
    inst->getExtensionTypeIDListByTypeID(TYPEID_SampleDrive, &count, &ids, &ret);
    for (DWORD i = 0; i < count; ++i) {
        char* name = nullptr;
        inst->getExtensionTypeNameByTypeID(TYPEID_SampleDrive, ids[i], &name, &ret);
        ComPtr<IUnknown> ext;
        inst->getExtensionTypeByTypeID(TYPEID_SampleDrive, ids[i], &ext, &ret);
        bool reverse = bool(ComQIPtr<IMC_InternalOemRevObjAdmin>(ext));
        t.line(zeb::guidToString(ids[i]) + "  " + name +
               (reverse ? "  -> handed out as its reverse object" : ""));
        CoTaskMemFree(name);
    }
    CoTaskMemFree(ids);

    t.step("attributes");
    Bstr order(u"BI_ORDER"), three(u"3"), note(u"PBI_NOTE"), text(u"sample"), bad(u"ORDER");
    inst->setAttributeByTypeID(TYPEID_SampleAxis, order, three, &ret);
    t.result("SampleAxis BI_ORDER = 3", ret, 0);
    inst->setAttributeByTypeID(TYPEID_SampleAxis, note, text, &ret);
    t.result("SampleAxis PBI_NOTE = sample", ret, 0);
    inst->setAttributeByTypeID(TYPEID_SampleAxis, bad, text, &ret);
    t.result("SampleAxis ORDER: not a BI_/PBI_ name", ret, PRET_BASE | IS_INVALID_ATTR);
    ZEB_AttrPair* pairs = nullptr;
    inst->getAttrListByTypeID(TYPEID_SampleAxis, &count, &pairs, &ret);
    for (DWORD i = 0; i < count; ++i) {
        t.line(wide(pairs[i].key) + " = " + wide(pairs[i].value));
        SysFreeString(pairs[i].key);
        SysFreeString(pairs[i].value);
    }
    CoTaskMemFree(pairs);

    t.step("type objects");
    ComPtr<IUnknown> first, second;
    inst->getTypeByID(TYPEID_SampleDrive, &first, &ret);
    inst->getTypeByID(TYPEID_SampleDrive, &second, &ret);
    t.line(std::string("two getTypeByID calls give ") +
           (first.get() == second.get() ? "the same cached object" : "two objects"));
    if (first.get() != second.get()) ++t.failures;
    inst->addTypeByClass(CLSID_SampleAsyncType, TC_SubObj, &ret);
    Bstr step(u"BI_STEP"), one(u"1");
    inst->setAttributeByTypeID(TYPEID_SampleAsync, step, one, &ret);
    bool refreshed = inst->typeCont().refreshTypeData();
    t.line(std::string("SampleAsync finished its installation on another thread: refresh ") +
           (refreshed ? "succeeded" : "failed"));
    if (!refreshed) ++t.failures;

    // The refresh makes its own (native) type objects, which it cannot while
    // a cached one is still held.
    first.Release();
    second.Release();
    describedTypes(t, *inst);

    inst->setPrjHdlHolder(nullptr);
    hdl->setInstallation(nullptr);
    std::fprintf(out, "\n%s\n",
                 t.failures == 0 ? "all steps as expected" : "some steps gave unexpected results");
    return t.failures;
}

} // namespace zeb::samples
