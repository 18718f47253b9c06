// The classification document at volume: adding 1,000 and 10,000 types,
// beside the same adds done with the plain XPath lookup of the identifier
// (one scan of the document per add) measured in the same run.
//
// Run from a release build: bin/classification_bench. It prints
//   - the time per addXMLType at 1,000 and at 10,000 types and their ratio
//     (target: at most 1.5);
//   - the time per add with the XPath lookup at 1,000 types, and at 10,000
//     when the 1,000 figure says it ends within a minute, with the ratio.
// Times are processor time of the measuring thread.
#include "is/xml/CIsXmlClassification.h"

#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

GUID typeId(uint32_t i) {
    GUID id = makeGuid("00000000-7A3C-4E21-9B0D-5C6E7F809A1B");
    id.Data1 = i;
    return id;
}

// Seconds per addXMLType when n types are added to a new document.
double indexedAdds(uint32_t n) {
    CIsXmlClassification doc;
    String name("Drive");
    double t0 = cpuSeconds();
    for (uint32_t i = 0; i < n; ++i) {
        if (doc.addXMLType(typeId(i), name, TypeClass(i % 9)) != 0) {
            std::fprintf(stderr, "addXMLType failed for type %u\n", i);
            std::exit(1);
        }
    }
    return (cpuSeconds() - t0) / n;
}

// The same adds with the identifier looked up by the XPath on the document.
double xpathAdds(uint32_t n) {
    using namespace zeb::xml;
    DomDocument doc = DomDocument::create();
    double t0 = cpuSeconds();
    for (uint32_t i = 0; i < n; ++i) {
        DomNode root = doc.selectSingleNode(u"Installation");
        if (!root) root = doc.appendChild(doc.createElement(u"Installation"));
        DomNode inbox = root.selectSingleNode(u"New");
        if (!inbox) inbox = root.appendChild(doc.createElement(u"New"));
        OLECHAR text[40] = {};
        StringFromGUID2(typeId(i), text, 40);
        std::u16string idText(text);
        if (doc.selectSingleNode(u".//*[ESType/@ESID=\"" + idText + u"\"]")) continue;
        DomNode classElement =
            inbox.appendChild(doc.createElement(zeb::toWide(typeClassName(TypeClass(i % 9)))));
        DomElement type = doc.createElement(u"ESType");
        type.setAttribute(u"ESID", idText);
        type.setAttribute(u"ESName", u"Drive");
        classElement.appendChild(type);
    }
    return (cpuSeconds() - t0) / n;
}

} // namespace

int main() {
    const double small = indexedAdds(1000);
    const double large = indexedAdds(10000);
    std::printf("addXMLType, indexed:   %8.2f us per add at 1,000 types, %8.2f us at 10,000 "
                "(ratio %.2f, target <= 1.5)\n",
                small * 1e6, large * 1e6, large / small);
    const double scanSmall = xpathAdds(1000);
    std::printf("addXMLType, XPath:     %8.2f us per add at 1,000 types (%.1f x indexed)\n",
                scanSmall * 1e6, scanSmall / small);
    // The scan grows with the document: 10,000 adds cost about 100 times as
    // much in total as 1,000.
    if (scanSmall * 1000 * 100 < 60.0) {
        const double scanLarge = xpathAdds(10000);
        std::printf("addXMLType, XPath:     %8.2f us per add at 10,000 types (ratio %.2f, "
                    "%.1f x indexed)\n",
                    scanLarge * 1e6, scanLarge / scanSmall, scanLarge / large);
    } else {
        std::printf("addXMLType, XPath:     10,000 types skipped (estimated over 60 s)\n");
    }
    return 0;
}
