#include "samples/tour/RegistryTour.h"

#include "h/ResultCodes.h"
#include "is/CZEBIntInstallation.h"
#include "platform/win/TextConvert.h"
#include "samples/CSampleAsyncType.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"

#include <string>

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

    first.Release();
    second.Release();
    inst->setPrjHdlHolder(nullptr);
    hdl->setInstallation(nullptr);
    std::fprintf(out, "\n%s\n",
                 t.failures == 0 ? "all steps as expected" : "some steps gave unexpected results");
    return t.failures;
}

} // namespace zeb::samples
