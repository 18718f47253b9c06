// Feeds arbitrary XML to the installation's addXMLTypeDescription, the merge
// of a type description a caller supplies. The installation holds two types
// with described class elements (a Device and a Package, with sub-objects,
// connectors and attributes). The merge must never crash or hang, its result
// is one of its codes, and the document it leaves can always be written out
// and read back: a merge must never make the installation unsavable.
//
// The input is the text of the supplied node (UTF-8); text that does not
// parse is not a node and is skipped.
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/win/TextConvert.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr GUID kDevice = makeGuid("0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F");
constexpr GUID kPackage = makeGuid("11111111-2222-4333-8444-555555555555");

const char16_t kDocument[] =
    u"<Installation><New/><Unclassified/><Classified>"
    u"<Device><ESType ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\" ESName=\"Drive.1.0\"/>"
    u"<SubObj Id=\"0\" Name=\"Brake\"/><SubObj Id=\"1\" Name=\"Fan\"/>"
    u"<Connectors><Connector Id=\"1\" Name=\"Bus\"/></Connectors></Device>"
    u"<Package><ESType ESID=\"{11111111-2222-4333-8444-555555555555}\" ESName=\"Pack.1.0\"/>"
    u"<Files><File Name=\"a.bin\" ESID=\"{0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F}\"/></Files>"
    u"</Package></Classified></Installation>";

const std::string& configDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zeb-fuzz-merge-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return dir;
}

void install(CIsTypeCont& types, const GUID& id, TypeClass typeClass, const char* name) {
    auto entry = createEntry(typeClass);
    if (!entry) std::abort();
    entry->m_name = name;
    if (types.insertEntry(id, std::move(entry)) != 0) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto supplied = zeb::xml::DomDocument::create();
    const std::u16string text =
        zeb::toWide(std::string_view(reinterpret_cast<const char*>(data), size));
    bool parsed = false;
    try {
        parsed = supplied.loadXml(text);
    } catch (const zeb::ComError&) {
        parsed = false;
    }
    if (!parsed) return 0;

    ComPtr<CZEBIntInstallation> inst;
    if (FAILED(CZEBIntInstallation::createObject(&inst, configDir(),
                                                 CZEBIntInstallation::OpenMode::ReadOnly)))
        std::abort();
    install(inst->typeCont(), kDevice, TC_Device, "Drive.1.0");
    install(inst->typeCont(), kPackage, TC_Package, "Pack.1.0");
    zeb::Bstr document(kDocument);
    if (!inst->classification().setXMLText(document)) std::abort();

    DWORD ret = 0;
    const HRESULT hr = inst->addXMLTypeDescription(supplied.get(), &ret);
    if (hr != S_OK && hr != E_FAIL) std::abort();
    BSTR after = nullptr;
    if (!inst->classification().getXMLText(&after) || !after) std::abort();
    CIsXmlClassification again;
    if (!again.setXMLText(after)) std::abort();
    SysFreeString(after);
    return 0;
}
