// Named type queries on a 10,000-type installation: getTypeDescrAttr with
// the usual query form, beside plain libxml2 evaluating the same XPath texts
// on the same document in the same run.
//
// Run from a release build: bin/query_bench. It prints
//   - queries per second through getTypeDescrAttr (target: at least 100,000),
//     for the attribute of the class element's ESType and for one further
//     down the description;
//   - queries per second of xmlXPathEval on the parsed document text, and
//     the ratio.
// Times are processor time of the measuring thread. The installation lives
// in a temporary configuration directory (and registry file) that is
// removed at the end.
#include "is/CZEBIntInstallation.h"

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kTypes = 10000;
const char* const kClasses[] = {"Device", "TObject",       "Package", "ProcessingUnit", "Program",
                                "SubObj", "ProjectGlobal", "Library", "GenericObject"};

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

GUID typeId(uint32_t i) {
    GUID id = makeGuid("00000000-7A3C-4E21-9B0D-5C6E7F809A1B");
    id.Data1 = i * 2654435761u; // spread, so neighbours differ early
    return id;
}

std::string idText(uint32_t i) {
    OLECHAR text[40] = {};
    StringFromGUID2(typeId(i), text, 40);
    return zeb::toNarrow(text);
}

// A described document as the refresh leaves it: each class element with its
// ESType, classification, contents and properties.
std::string describedDocument() {
    std::string xml = "<?xml version=\"1.0\"?><Installation><New/><Unclassified/><Classified>";
    for (uint32_t i = 0; i < kTypes; ++i) {
        const char* cls = kClasses[i % 9];
        const std::string n = std::to_string(i);
        xml += std::string("<") + cls + "><ESType ESID=\"" + idText(i) + "\" ESName=\"Type" + n +
               ".1.0\" RTID=\"" + idText(i + kTypes) + "\" RTMajor=\"1\" RTMinor=\"" + n +
               "\"/><Classification><ESTypeGroup value=\"Drives\"/><ESTypeSubGroup "
               "value=\"Group" +
               std::to_string(i % 17) +
               "\"/><DOCategory value=\"3\"/><DOClass value=\"7\"/></Classification>"
               "<Contents><Content Type=\"SD\" Name=\"Sd" +
               n + "\" Version=\"2\"/><Content Type=\"OA\" Name=\"Oa" + n +
               "\" Version=\"1\"/></Contents><Properties><Property Name=\"Vendor\" "
               "Value=\"Norvale\"/><Property Name=\"Order\" Value=\"" +
               n + "\"/></Properties></" + cls + ">";
    }
    return xml + "</Classified></Installation>";
}

struct Figure {
    double perSecond = 0;
    size_t answered = 0;
};

Figure installationQueries(CZEBIntInstallation& inst, const char* queryId, uint32_t count) {
    zeb::Bstr id(queryId);
    Figure f;
    const double t0 = cpuSeconds();
    for (uint32_t k = 0; k < count; ++k) {
        zeb::Variant result;
        DWORD ret = 0;
        if (inst.getTypeDescrAttr(typeId((k * 7919u) % kTypes), id, &result, &ret) == S_OK &&
            ret == 0)
            ++f.answered;
    }
    f.perSecond = count / (cpuSeconds() - t0);
    return f;
}

Figure plainQueries(xmlDocPtr doc, const std::string& stored, uint32_t count) {
    Figure f;
    xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
    const double t0 = cpuSeconds();
    for (uint32_t k = 0; k < count; ++k) {
        std::string xpath = stored;
        xpath.replace(xpath.find("%estypeid"), 9, idText((k * 7919u) % kTypes));
        ctx->node = reinterpret_cast<xmlNodePtr>(doc);
        xmlXPathObjectPtr r = xmlXPathEval(reinterpret_cast<const xmlChar*>(xpath.c_str()), ctx);
        if (r && r->nodesetval && r->nodesetval->nodeNr > 0) {
            xmlChar* text = xmlNodeGetContent(r->nodesetval->nodeTab[0]);
            xmlFree(text);
            ++f.answered;
        }
        xmlXPathFreeObject(r);
    }
    f.perSecond = count / (cpuSeconds() - t0);
    xmlXPathFreeContext(ctx);
    return f;
}

} // namespace

int main() {
    char pattern[] = "/tmp/query_bench.XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    if (!std::getenv("ZEB_REGISTRY")) setenv("ZEB_REGISTRY", (dir + "/registry.reg").c_str(), 1);

    const std::string text = describedDocument();
    const char* const queries[][2] = {
        {"rtid", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@RTID"},
        {"group", ".//*[ESType/@ESID=\"%estypeid\"]/Classification/ESTypeSubGroup/@value"},
    };
    int status = 0;
    {
        ComPtr<CZEBIntInstallation> inst;
        if (CZEBIntInstallation::createObject(&inst, dir) != S_OK) return 1;
        if (!inst->classification().setXMLText(zeb::Bstr(text))) return 1;
        xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0);
        if (!doc) return 1;
        std::printf("%u types, document of %zu bytes\n", kTypes, text.size());
        for (const auto& [id, xpath] : queries) {
            DWORD ret = 0;
            inst->registerXPathQuery(id, xpath, &ret);
            installationQueries(*inst, id, 2000); // warm: index, compiled steps
            const Figure ours = installationQueries(*inst, id, 200000);
            const Figure plain = plainQueries(doc, xpath, 200);
            std::printf("%s\n  getTypeDescrAttr: %10.0f queries/s (%zu of 200000 answered)\n"
                        "  plain libxml2:    %10.0f queries/s (%zu of 200 answered)\n"
                        "  ratio:            %10.1f\n",
                        xpath, ours.perSecond, ours.answered, plain.perSecond, plain.answered,
                        ours.perSecond / plain.perSecond);
            if (ours.perSecond < 100000 || ours.answered != 200000) status = 2;
        }
        xmlFreeDoc(doc);
    }
    std::filesystem::remove_all(dir);
    return status;
}
